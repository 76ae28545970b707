// Saving the picture as a file: the save dialog and the writing, whole or not at all.
#include "windows/PaintWindow.h"

#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "forms/MessageBoxes.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QImageWriter>
#include <QSaveFile>
#include <QTimer>
#include <QTreeView>

QString PaintWindow::ExecuteSaveDialog()
{
    QFileDialog dlg(this, QString(), SaveDialogDir);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilter(QStringLiteral("ビットマップ (*.bmp)"));
    dlg.setDefaultSuffix(QStringLiteral("bmp"));
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
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > slash ? name.mid(dot) : QString();
        if (ext.toUpper() == QLatin1String(".BMP") && !Bitmap.isNull()) {
            // Rows that arrived while the dialog was open are drawn first.
            while (!toDraw_.empty() || picture_.Waiting())
                drawSome();
            // A file that cannot be written whole is not touched.
            QSaveFile file(name);
            file.setDirectWriteFallback(true); // a folder where only the file may be written
            QString why;
            if (!file.open(QIODevice::WriteOnly))
                why = file.errorString();
            else if (QImageWriter writer(&file, "BMP"); !writer.write(Bitmap))
                why = writer.errorString();
            else if (!file.commit())
                why = file.errorString();
            if (!why.isEmpty())
                ShowMessage(QStringLiteral("「%1」に保存できませんでした。\n理由: %2").arg(name, why));
        }
    }
    Timer1->start();
}
