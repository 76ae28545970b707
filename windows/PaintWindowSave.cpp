// Saving the picture as a file, BMP or PNG: the save dialog and the writing, whole or not at all.
#include "windows/PaintWindow.h"

#include "core/picture/PictureFile.h"
#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "forms/MessageBoxes.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

namespace {
// The save dialog: a name typed without an extension takes the extension of the file type
// chosen when it is accepted (before the dialog looks whether that file is there).
class SavePictureDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    static QString Png() { return QStringLiteral("PNG (*.png)"); }

protected:
    void accept() override
    {
        setDefaultSuffix(PictureFileSuffix(selectedNameFilter() == Png() ? PictureFileType::Png : PictureFileType::Bmp));
        QFileDialog::accept();
    }
};
} // namespace

QString PaintWindow::ExecuteSaveDialog()
{
    SavePictureDialog dlg(this, QString(), SaveDialogDir);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters({QStringLiteral("ビットマップ (*.bmp)"), SavePictureDialog::Png()});
    dlg.setDefaultSuffix(PictureFileSuffix(PictureFileType::Bmp));
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    // Qt's own dialog, whatever the desktop: it speaks the program's Japanese (a desktop's
    // dialog follows LANG), and its columns are made wide enough for whole dates and types.
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setViewMode(QFileDialog::Detail);
    dlg.setSizeGripEnabled(true);
    if (auto *view = dlg.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    dlg.resize(dlg.size().expandedTo(QSize(720, 440)));
    if (dlg.exec() != QDialog::Accepted)
        return QString();
    return dlg.selectedFiles().value(0);
}

void PaintWindow::SpeedButton1Click()
{
    Timer1->stop();
    // Part of a picture saved looks like the whole: the file would silently differ.
    if (!loaded_) {
        ShowMessage(QStringLiteral("画像を読み込んでいます（%1点）。\n読み込みが終わってから保存して下さい。")
                        .arg(ReadCount));
        Timer1->start();
        return;
    }
    const QString name = ExecuteSaveDialog();
    if (!name.isEmpty()) {
        const int slash = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
        RememberSaveDir(name.left(slash + 1));
        const PictureFileType type = PictureFileTypeOf(name);
        if (type == PictureFileType::Unknown) {
            ShowMessage(QStringLiteral("「%1」には保存できません。\n"
                                       "ファイル名の最後を .bmp（ビットマップ）か .png（PNG）にして下さい。")
                            .arg(name));
        } else if (!Bitmap.isNull()) {
            // Rows that arrived while the dialog was open are drawn first.
            while (!toDraw_.empty() || picture_.Waiting())
                drawSome();
            const QString why = WritePictureFile(Bitmap, name, type);
            if (!why.isEmpty())
                ShowMessage(QStringLiteral("「%1」に保存できませんでした。\n理由: %2").arg(name, why));
        }
    }
    Timer1->start();
}
