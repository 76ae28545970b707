// The whole road of a picture through the menus of the real main window.
#include "StallMeter.h"
#include "ModalAnswer.h"
#include "TestDatabase.h"
#include "app/MainWindow.h"
#include "windows/DatabaseSettingsDialog.h"
#include "windows/PcUserDialog.h"
#include "core/settings/SharedSettings.h"
#include "forms/FormUtil.h"
#include "windows/ImageRecordEditor.h"
#include "windows/ImageList.h"
#include "windows/PaintWindow.h"
#include "windows/SectionRegister.h"
#include "windows/MemberRegister.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include "DbAnswers.h"

#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

void Menu(const char *name)
{
    auto *a = mainWindow->menuBar()->findChild<QAction *>(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    a->trigger();
    WaitForDbAnswers();
}

void AnswerDialog(QWidget *dialog, std::function<void()> answer)
{
    AnswerModal(DescribeWindow(dialog), [dialog] { return dialog; },
                [answer](QWidget *) { answer(); });
}

QFileDialog *SaveDialog()
{
    return qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
}

// Types the name into the dialog's file name box, as a user does, and presses Enter.
// (selectFile leaves the box alone while it has the focus, and the focus arrives
// whenever the window manager gets round to activating the dialog.)
void SaveAs(QWidget *w, const QString &path)
{
    auto *d = static_cast<QFileDialog *>(w);
    auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name) {
        ADD_FAILURE() << "the save dialog has no file name box";
        d->reject();
        return;
    }
    name->setText(path);
    QTest::keyClick(name, Qt::Key_Return);
}

void SelectItem(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text));
}

void Drag(QWidget *w, QPoint from, QPoint to)
{
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    for (int i = 1; i <= 4; ++i) {
        const QPointF p = from + (to - from) * i / 4;
        QMouseEvent move(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &move);
    }
    QTest::mouseRelease(w, Qt::LeftButton, {}, to);
}

template <class T>
T *LastChild()
{
    const auto subs = mainWindow->MdiArea()->subWindowList();
    return subs.isEmpty() ? nullptr : qobject_cast<T *>(subs.last());
}

int NonWhitePixels(const QImage &img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return n;
}

} // namespace

TEST(Road, FromDatabaseSettingsToASavedBitmap)
{
    TempServerDir folder;
    QTemporaryDir local;
    MainWindow::SettingFileOverride = local.filePath("none.dat");
    CreateApplicationWindows();
    mainWindow->resize(1000, 800);
    mainWindow->show();
    ASSERT_FALSE(mainWindow->IsConnected());
    MessageRecorder rec(true);

    // Database settings on a new folder: the database is created there.
    AnswerDialog(databaseSettingsDialog, [&folder] {
        databaseSettingsDialog->Edit1->setText("localhost:");
        databaseSettingsDialog->Edit2->setText(folder.path());
        databaseSettingsDialog->Edit3->setText("road");
        databaseSettingsDialog->Button1Click();
    });
    Menu("mnuDBset");
    // The connect after the dialog runs in the background.
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 20000)) << "the attach did not end";
    ASSERT_TRUE(mainWindow->IsConnected()) << rec.messages.join('|').toStdString();
    EXPECT_EQ(DatabaseName, "ROAD.FDB");

    AnswerDialog(sectionRegister, [] {
        sectionRegister->Edit1->setText("1");
        sectionRegister->Edit2->setText(QStringLiteral("総務"));
        sectionRegister->Button1Click();
        WaitForDbAnswers();
        sectionRegister->Button3Click();
    });
    Menu("mnuAddTable1");
    AnswerDialog(memberRegister, [] {
        WaitForDbAnswers();
        memberRegister->Edit1->setText("3");
        SelectItem(memberRegister->ComboBox1, QStringLiteral("1:総務"));
        memberRegister->Edit2->setText(QStringLiteral("山田"));
        memberRegister->Button1Click();
        WaitForDbAnswers();
        memberRegister->Button3Click();
    });
    Menu("mnuAddTable2");
    EXPECT_EQ(rec.messages, (QStringList{QStringLiteral("登録OK"), QStringLiteral("登録OK")}));
    AnswerDialog(pcUserDialog, [] {
        WaitForDbAnswers();
        SelectItem(pcUserDialog->ComboBox1, QStringLiteral("3:山田"));
        pcUserDialog->Button1Click();
    });
    Menu("mnuPCnameSet");
    ASSERT_EQ(PcUserNo, 3);
    EXPECT_EQ(PcUserName, QStringLiteral("山田"));

    // A new image record, registered with Enter.
    rec.messages.clear();
    Menu("mnuImageNew");
    auto *editor = LastChild<ImageRecordEditor>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->Edit1->text(), "1");
    EXPECT_EQ(editor->Label2->text(), QStringLiteral("作成者：山田"));
    editor->Edit2->setText(QStringLiteral("花"));
    editor->Edit6->setText("64");
    editor->Edit7->setText("48");
    QTest::mouseDClick(editor->Edit8, Qt::LeftButton);
    QTest::keyClick(editor->Edit7, Qt::Key_Return);
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像一覧データを登録しました")});
    editor->Button3Click();

    // The list shows it; its detail command opens a painting window.
    Menu("mnuImageList");
    auto *list = LastChild<ImageList>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(GridCell(list->SG1, 1, 1), QStringLiteral("花"));
    list->SG1SelectCell(0, 1);
    WaitForDbAnswers();
    EXPECT_EQ(list->LabelA->text(), QStringLiteral("作成者：山田"));
    EXPECT_EQ(list->LabelB->text(), QStringLiteral("サイズ：64×48"));
    list->Button8Click();
    QPointer<PaintWindow> paint = LastChild<PaintWindow>();
    ASSERT_FALSE(paint.isNull());
    EXPECT_EQ(paint->windowTitle(), QStringLiteral("お絵描きソフト － 花(N:1)"));
    ASSERT_EQ(paint->Bitmap.size(), QSize(64, 48));
    ASSERT_TRUE(paint->WaitIdle());
    EXPECT_EQ(NonWhitePixels(paint->Bitmap), 0);

    // A stroke drawn with the pen is stored point by point.
    QTest::mouseClick(paint->SpeedButton4, Qt::LeftButton);
    Drag(paint->Image1, QPoint(10, 10), QPoint(40, 30));
    const QImage drawn = paint->Bitmap.copy();
    EXPECT_GT(NonWhitePixels(drawn), 0);
    ASSERT_TRUE(paint->WaitIdle()) << "the stroke was not stored in time";
    EXPECT_GT(mainWindow->Db().SelectAll("IMG_1", ""), 1);

    // Closed and opened again, the picture is the same.
    paint->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(paint.isNull());
    list->Button8Click();
    paint = LastChild<PaintWindow>();
    ASSERT_FALSE(paint.isNull());
    ASSERT_TRUE(paint->WaitIdle()) << "the picture was not drawn in time";
    EXPECT_EQ(paint->Bitmap, drawn);

    // Saved as a bitmap file, starting in the folder saved last.
    SaveDir = local.path() + QLatin1Char('/');
    paint->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    list->Button8Click();
    paint = LastChild<PaintWindow>();
    ASSERT_FALSE(paint.isNull());
    // As a user does: once the picture is in (a save before that only says it is loading).
    ASSERT_TRUE(WaitUntil([&paint] { return paint->PictureLoaded(); }, 20000)) << "the picture did not load";
    const QString bmp = local.filePath("hana.bmp");
    QStringList filters;
    QString suffix, startDir;
    bool confirms = false;
    AnswerModal(QStringLiteral("the save dialog"), SaveDialog, [&](QWidget *w) {
        auto *d = static_cast<QFileDialog *>(w);
        filters = d->nameFilters();
        suffix = d->defaultSuffix();
        startDir = d->directory().absolutePath();
        confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
        SaveAs(d, bmp);
    });
    QTest::mouseClick(paint->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(filters, (QStringList{QStringLiteral("ビットマップ (*.bmp)"), QStringLiteral("PNG (*.png)")}));
    EXPECT_EQ(suffix, QStringLiteral("bmp"));
    EXPECT_EQ(startDir, QDir(local.path()).absolutePath());
    EXPECT_TRUE(confirms);
    ASSERT_TRUE(QFile::exists(bmp));
    EXPECT_EQ(QImage(bmp).convertToFormat(QImage::Format_RGB32), drawn);

    // Saving over it asks first; "no" keeps the file as it was.
    QFile(bmp).resize(10);
    AnswerModal(QStringLiteral("the save dialog"), SaveDialog, [bmp](QWidget *w) {
        AnswerModal(QStringLiteral("the question before overwriting"),
                    [w] { return QApplication::activeModalWidget() != w
                                     ? QApplication::activeModalWidget() : nullptr; },
                    [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
        SaveAs(w, bmp);
        if (w->isVisible())
            static_cast<QDialog *>(w)->reject();
    });
    QTest::mouseClick(paint->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(QFileInfo(bmp).size(), 10);
    paint->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Deleting the stroke data gives an empty picture on the next opening.
    rec.messages.clear();
    list->Button9Click();
    WaitForDbAnswers();
    EXPECT_EQ(rec.messages, QStringList{QStringLiteral("画像データ「花」(N:1)を削除しました。")});
    EXPECT_FALSE(mainWindow->TableExists("IMG_1"));
    list->Button8Click();
    paint = LastChild<PaintWindow>();
    ASSERT_FALSE(paint.isNull());
    ASSERT_TRUE(paint->WaitIdle());
    EXPECT_EQ(NonWhitePixels(paint->Bitmap), 0);
    EXPECT_TRUE(mainWindow->TableExists("IMG_1"));
    EXPECT_EQ(mainWindow->Db().SelectAll("IMG_1", ""), 0);

    for (QMdiSubWindow *s : mainWindow->MdiArea()->subWindowList())
        delete s;
    mainWindow->DisconnectDatabase();
    DestroyApplicationWindows();
    MainWindow::SettingFileOverride.clear();
}
