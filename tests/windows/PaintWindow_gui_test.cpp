#include "PaintFixture.h"

#include "ModalAnswer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTreeView>
#include <QLineEdit>
#include <QScrollArea>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {
const QString kTable = QStringLiteral("IMG_4");
}

class PaintWindowTest : public PaintTest {
protected:
    PaintWindow *OpenPen()
    {
        PaintWindow *w = Open(4, 60, 40);
        QTest::mouseClick(w->SpeedButton4, Qt::LeftButton);
        return w;
    }
};

TEST_F(PaintWindowTest, Layout)
{
    PaintWindow *w = Open(4, 700, 500);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("画像 4"));
    EXPECT_EQ(PaintWindow().windowTitle(), QStringLiteral("お絵描きテスト"));
    EXPECT_EQ(w->frameGeometry().size(), QSize(420, 320));
    EXPECT_EQ(w->Panel1->width(), 27);
    EXPECT_EQ(w->SpeedButton1->geometry(), QRect(2, 2, 23, 22));
    EXPECT_EQ(w->SpeedButton2->geometry(), QRect(2, 26, 23, 22));
    EXPECT_EQ(w->SpeedButton3->geometry(), QRect(2, 50, 23, 22));
    EXPECT_EQ(w->SpeedButton4->geometry(), QRect(2, 74, 23, 22));
    for (QToolButton *b : {w->SpeedButton1, w->SpeedButton2, w->SpeedButton3, w->SpeedButton4})
        EXPECT_FALSE(b->icon().isNull());
    EXPECT_EQ(w->StatusBar1->height(), 20);
    EXPECT_EQ(w->Image1->size(), QSize(700, 500));
    EXPECT_EQ(w->Image1->pos(), QPoint(0, 0));
    EXPECT_EQ(w->ScrollBox1->widget(), w->Image1);
}

TEST_F(PaintWindowTest, PenButtonLatches)
{
    PaintWindow *w = Open(4, 60, 40);
    EXPECT_EQ(w->DrawMode, 0);
    QTest::mouseClick(w->Image1, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(IsWhite(w->Bitmap)); // before the pen button nothing draws
    EXPECT_FALSE(w->Drawing);
    QTest::mouseClick(w->SpeedButton4, Qt::LeftButton);
    EXPECT_TRUE(w->SpeedButton4->isChecked());
    EXPECT_EQ(w->DrawMode, 1);
    QTest::mouseClick(w->SpeedButton4, Qt::LeftButton);
    EXPECT_TRUE(w->SpeedButton4->isChecked());
    EXPECT_EQ(w->DrawMode, 1);
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_TRUE(Rows(kTable).empty());
}

TEST_F(PaintWindowTest, StrokesFromTheMouse)
{
    PaintWindow *w = OpenPen();
    // A click is a stroke of one point.
    QTest::mouseClick(w->Image1, Qt::LeftButton, {}, QPoint(10, 12));
    auto rows = Rows(kTable);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(QPoint(rows[0].x, rows[0].y), QPoint(10, 12));
    EXPECT_EQ(w->Bitmap.pixel(10, 12), qRgb(255, 0, 0));

    // Moves at the same position add no point; the drag keeps positions outside the picture.
    QTest::mousePress(w->Image1, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(w->Image1, QPoint(20, 20));
    QTest::mouseMove(w->Image1, QPoint(25, 22));
    QTest::mouseMove(w->Image1, QPoint(25, 22));
    QTest::mouseMove(w->Image1, QPoint(-7, -3));
    QTest::mouseMove(w->Image1, QPoint(70, 45));
    EXPECT_EQ(w->PointCount, 4);
    EXPECT_TRUE(w->Drawing);
    QTest::mouseRelease(w->Image1, Qt::LeftButton, {}, QPoint(70, 45));
    EXPECT_FALSE(w->Drawing);
    EXPECT_EQ(w->PointCount, 0);
    rows = Rows(kTable);
    ASSERT_EQ(rows.size(), 5u);
    const QPoint expected[] = {{20, 20}, {25, 22}, {-7, -3}, {70, 45}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(QPoint(rows[i + 1].x, rows[i + 1].y), expected[i]);
        EXPECT_EQ(rows[i + 1].dn, 2);
    }
    EXPECT_EQ(w->ReadCount, 5);
}

TEST_F(PaintWindowTest, RightButtonStartsNothingButEndsAStroke)
{
    PaintWindow *w = OpenPen();
    QTest::mouseClick(w->Image1, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_FALSE(w->Drawing);
    EXPECT_TRUE(IsWhite(w->Bitmap));

    // Left held, right pressed and released: the release ends and stores the stroke.
    w->Image1MouseDown(Qt::LeftButton, Qt::LeftButton, 5, 5);
    w->Image1MouseMove(Qt::LeftButton, 8, 5);
    w->Image1MouseDown(Qt::RightButton, Qt::LeftButton | Qt::RightButton, 8, 5);
    EXPECT_EQ(w->PointCount, 2); // a second press while drawing starts nothing
    w->Image1MouseUp(Qt::RightButton, Qt::LeftButton, 8, 5);
    EXPECT_FALSE(w->Drawing);
    EXPECT_EQ(Rows(kTable).size(), 2u);
    // The left button still held draws nothing more.
    const QImage before = w->Bitmap;
    w->Image1MouseMove(Qt::LeftButton, 30, 30);
    w->Image1MouseUp(Qt::LeftButton, Qt::NoButton, 30, 30);
    EXPECT_EQ(w->Bitmap, before);
    EXPECT_EQ(Rows(kTable).size(), 2u);
    // Moves without a button do nothing either.
    w->Image1MouseMove(Qt::NoButton, 40, 30);
    EXPECT_EQ(w->Bitmap, before);
}

TEST_F(PaintWindowTest, PenTipAndColourDialogs)
{
    class ColourWindow : public PaintWindow {
    public:
        int answer = -1;
        int presetSeen = -1;

    protected:
        bool ExecuteColorDialog(int &color) override
        {
            presetSeen = color;
            if (answer < 0)
                return false;
            color = answer;
            return true;
        }
    };
    MessageRecorder rec;
    auto *w = Open<ColourWindow>(4, 60, 40);
    QTimer::singleShot(0, penTipDialog, [] {
        EXPECT_EQ(penTipDialog->ComboBox1->currentIndex(), 2);
        EXPECT_EQ(penTipDialog->Edit1->text(), QStringLiteral("3"));
        penTipDialog->ComboBox1->setCurrentIndex(4);
        penTipDialog->Edit1->setText(QStringLiteral("11"));
        penTipDialog->Button1Click();
    });
    QTest::mouseClick(w->SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(w->CurPenType, 4);
    EXPECT_EQ(w->CurPenSize, 11);
    EXPECT_TRUE(w->Timer1->isActive());
    QTimer::singleShot(0, penTipDialog, [] {
        penTipDialog->Edit1->setText(QStringLiteral("99"));
        penTipDialog->Button2Click();
    });
    w->SpeedButton2Click();
    EXPECT_EQ(w->CurPenSize, 11);

    w->SpeedButton3Click(); // cancelled
    EXPECT_EQ(w->presetSeen, 0x0000FF);
    EXPECT_EQ(w->CurPenColor, 0x0000FF);
    w->answer = 0x00FF8000;
    QTest::mouseClick(w->SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(w->CurPenColor, 0x00FF8000);
    EXPECT_TRUE(w->Timer1->isActive());

    // The new pen is what the next stroke stores.
    QTest::mouseClick(w->SpeedButton4, Qt::LeftButton);
    QTest::mouseClick(w->Image1, Qt::LeftButton, {}, QPoint(30, 20));
    const auto rows = Rows(kTable);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ptyp, 4);
    EXPECT_EQ(rows[0].psiz, 11);
    EXPECT_EQ(rows[0].pcol, 0x00FF8000);
    EXPECT_TRUE(rec.messages.isEmpty());
}

// Whatever LANG says (the test entry, like the program, asks Japanese of Qt itself): Qt's
// own save dialog, a folder's type in Japanese, and the type and date columns wide enough
// for their whole text.
TEST_F(PaintWindowTest, SaveDialogTypesInJapaneseAndWholeDates)
{
    class SaveWindow : public PaintWindow {
    public:
        QString Save() { return ExecuteSaveDialog(); }
    };
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    {
        QFile f(dir.filePath(QStringLiteral("sample.bmp")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("BM");
    }
    auto *w = Open<SaveWindow>(4, 60, 40);
    w->SaveDialogDir = dir.path() + QLatin1Char('/');
    bool nonNative = false;
    QString folderType, date;
    int typeRoom = 0, typeNeeds = 0, dateRoom = 0, dateNeeds = 0;
    AnswerModal(
        QStringLiteral("the save dialog"), [] { return qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); },
        [&](QWidget *shown) {
            auto *dlg = static_cast<QFileDialog *>(shown);
            nonNative = dlg->testOption(QFileDialog::DontUseNativeDialog);
            auto *view = dlg->findChild<QTreeView *>(QStringLiteral("treeView"));
            auto *model = dlg->findChild<QFileSystemModel *>();
            if (view && model) {
                const QModelIndex sub = model->index(dir.filePath(QStringLiteral("sub")));
                WaitUntil([&] { return !model->data(sub.siblingAtColumn(3)).toString().isEmpty(); }, 5000);
                QApplication::processEvents();
                folderType = model->data(sub.siblingAtColumn(2)).toString();
                date = model->data(sub.siblingAtColumn(3)).toString();
                const QFontMetrics fm = view->fontMetrics();
                typeRoom = view->header()->sectionSize(2);
                typeNeeds = fm.horizontalAdvance(folderType);
                dateRoom = view->header()->sectionSize(3);
                dateNeeds = fm.horizontalAdvance(date);
            }
            dlg->reject();
        });
    EXPECT_TRUE(w->Save().isEmpty());
    EXPECT_TRUE(nonNative);
    EXPECT_EQ(folderType, QStringLiteral("フォルダー"));
    // "2026/12/08 0:03", whole.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{1,2}:\\d{2}$")).match(date).hasMatch())
        << date.toStdString();
    EXPECT_GE(typeRoom, typeNeeds);
    EXPECT_GE(dateRoom, dateNeeds);
}

// A name typed without an extension takes the chosen file type's; a name with one keeps it.
TEST_F(PaintWindowTest, TheSaveDialogsFileTypeGivesATypedNameItsExtension)
{
    class SaveWindow : public PaintWindow {
    public:
        QString Save() { return ExecuteSaveDialog(); }
    };
    QTemporaryDir dir;
    auto *w = Open<SaveWindow>(4, 60, 40);
    w->SaveDialogDir = dir.path() + QLatin1Char('/');
    const struct {
        int type; // 0 ビットマップ, 1 PNG
        const char *typed, *saved;
    } cases[] = {
        {0, "a", "a.bmp"}, {1, "b", "b.png"}, {1, "c.bmp", "c.bmp"}, {0, "d.png", "d.png"}, {1, "e.jpg", "e.jpg"},
    };
    for (const auto &c : cases) {
        QStringList filters;
        AnswerModal(
            QStringLiteral("the save dialog"), [] { return qobject_cast<QFileDialog *>(QApplication::activeModalWidget()); },
            [&](QWidget *shown) {
                auto *dlg = static_cast<QFileDialog *>(shown);
                filters = dlg->nameFilters();
                auto *types = dlg->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
                auto *name = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                if (!types || !name) {
                    dlg->reject();
                    return;
                }
                // As the user picks it: the list's own signal.
                types->setCurrentIndex(c.type);
                emit types->activated(c.type);
                name->setText(QString::fromUtf8(c.typed));
                static_cast<QDialog *>(dlg)->accept(); // the dialog's own accept, as its 保存 button
            });
        EXPECT_EQ(w->Save(), dir.filePath(QString::fromUtf8(c.saved))) << c.typed;
        EXPECT_EQ(filters, (QStringList{QStringLiteral("ビットマップ (*.bmp)"), QStringLiteral("PNG (*.png)")}));
    }
}
