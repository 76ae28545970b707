#include "DbAnswers.h"
#include "CatalogueFixture.h"

#include "forms/FormUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>

namespace {

ImageList *OpenList()
{
    mainWindow->mnuImageListClick();
    WaitForDbAnswers();
    const auto subs = mainWindow->MdiArea()->subWindowList();
    return subs.isEmpty() ? nullptr : qobject_cast<ImageList *>(subs.last());
}

QPoint CellCentre(QTableWidget *g, int tableRow, int col)
{
    return g->visualRect(g->model()->index(tableRow, col)).center();
}

} // namespace

using ImageListGui = CatalogueTest;

TEST_F(ImageListGui, MouseAndKeyboardSelectRows)
{
    AddImage(1, QStringLiteral("一"));
    AddImage(2, QStringLiteral("二"));
    mainWindow->resize(900, 700);
    ListHeight = 450;
    ImageList *f = OpenList();
    ASSERT_NE(f, nullptr);
    // The highlighted first row and the panel agree from the opening on.
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("一"));
    EXPECT_EQ(GridCurrentRow(f->SG1), 1);
    EXPECT_EQ(f->SG1->selectionModel()->selectedRows().size(), 1);

    QTest::mouseClick(f->SG1->viewport(), Qt::LeftButton, {}, CellCentre(f->SG1, 1, 1));
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("二"));
    QTest::keyClick(f->SG1, Qt::Key_Up);
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("一"));

    // Clicking the current row looks it up again.
    ASSERT_TRUE(Db().UpdateRecord("IMGLIST", 1, {"INAME"}, {"'改'"}, "N=1"));
    QTest::mouseClick(f->SG1->viewport(), Qt::LeftButton, {}, CellCentre(f->SG1, 0, 2));
    WaitForDbAnswers();
    EXPECT_EQ(f->Edit2->text(), QStringLiteral("改"));

    // A double-click opens a painting window on the row.
    const int before = Children().size();
    QTest::mouseClick(f->SG1->viewport(), Qt::LeftButton, {}, CellCentre(f->SG1, 0, 0));
    WaitForDbAnswers();
    QTest::mouseDClick(f->SG1->viewport(), Qt::LeftButton, {}, CellCentre(f->SG1, 0, 0));
    WaitForDbAnswers();
    EXPECT_EQ(Children().size(), before + 1);
    EXPECT_EQ(Children().last()->windowTitle(), QStringLiteral("お絵描きソフト － 一(N:1)"));
}

// The parts of a widget that its window really shows, clipped by every parent.
static bool wholeShown(QWidget *w)
{
    return w->isVisible() && w->visibleRegion() == QRegion(w->rect());
}

TEST_F(ImageListGui, AFirstOpeningShowsEveryControlAndASavedSizeStands)
{
    struct Case {
        const char *name;
        QSize saved;
        int savedPanel;
        bool everyControl; // else exactly the saved size
    };
    const Case cases[] = {
        {"nothing saved yet", QSize(DefaultListWidth, DefaultListHeight), 32, true},
        {"nothing saved yet, a higher panel", QSize(DefaultListWidth, DefaultListHeight), 140, true},
        {"saved small", QSize(330, 240), 32, false},
        {"saved narrow, a low panel", QSize(400, 300), 10, false},
        {"saved large", QSize(800, 600), 60, false},
    };
    mainWindow->resize(1000, 800);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ListWidth = c.saved.width();
        ListHeight = c.saved.height();
        ListPanelHeight = c.savedPanel;
        ImageList *f = OpenList();
        ASSERT_NE(f, nullptr);
        QApplication::processEvents();
        if (c.everyControl) {
            QList<QWidget *> controls;
            for (QWidget *panel : {f->Panel1, f->Panel2})
                for (QWidget *w : panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                    if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w))
                        controls << w;
            EXPECT_GE(controls.size(), 16);
            for (QWidget *w : controls)
                EXPECT_TRUE(wholeShown(w)) << w->objectName().toStdString() << " " << w->geometry().x() << ","
                                           << w->geometry().y() << " in " << f->size().width() << "x"
                                           << f->size().height();
            EXPECT_TRUE(wholeShown(f->Button7));
            EXPECT_TRUE(wholeShown(f->Button8));
            // Rows of the grid are shown too, and a higher saved panel is kept.
            EXPECT_GE(f->SG1->viewport()->height(), 5 * f->SG1->verticalHeader()->defaultSectionSize());
            EXPECT_GE(f->Panel1->height(), c.savedPanel);
            for (int col = 0; col < f->SG1->columnCount(); ++col)
                EXPECT_GE(f->SG1->columnWidth(col), f->SG1->horizontalHeader()->sectionSizeHint(col))
                    << f->SG1->horizontalHeaderItem(col)->text().toStdString() << " cut";
        } else {
            EXPECT_EQ(f->size(), c.saved);
            EXPECT_EQ(f->Panel1->height(), c.savedPanel);
        }
        f->close();
        QApplication::processEvents();
        // What is handed back is what was shown: the next opening stands by it.
        if (!c.everyControl) {
            EXPECT_EQ(QSize(ListWidth, ListHeight), c.saved);
        }
        EXPECT_NE(QSize(ListWidth, ListHeight), QSize(DefaultListWidth, DefaultListHeight));
    }
}

TEST_F(ImageListGui, SizesAreTakenOnShowAndHandedBackOnClose)
{
    mainWindow->resize(1000, 800);
    ListWidth = 600;
    ListHeight = 420;
    ListColWidths = {40, 90, 100, 50, 50, 70, 70};
    ListPanelHeight = 60;
    ImageList *f = OpenList();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size(), QSize(600, 420));
    EXPECT_EQ(f->SG1->columnWidth(1), 90);
    EXPECT_EQ(f->Panel1->height(), 60);
    EXPECT_EQ(f->Panel2->height(), 57);
    EXPECT_EQ(f->focusWidget(), f->Button1);

    f->Button5Click();
    EXPECT_EQ(f->Panel1->height(), 100);
    f->Button6Click();
    EXPECT_EQ(f->Panel1->height(), 28);

    // The splitter dragged 40 pixels up makes the panel 40 pixels taller.
    QSplitterHandle *handle = f->Splitter1->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip - QPoint(0, 40)), handle->mapToGlobal(QPointF(grip - QPoint(0, 40))),
                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(0, 40));
    const int dragged = f->Panel1->height();
    EXPECT_NEAR(dragged, 68, 1);

    f->resize(700, 500);
    f->SG1->horizontalHeader()->resizeSection(2, 150);
    f->close();
    EXPECT_EQ(ListWidth, 700);
    EXPECT_EQ(ListHeight, 500);
    EXPECT_EQ(ListColWidths, (std::array<int, 7>{40, 90, 150, 50, 50, 70, 70}));
    EXPECT_EQ(ListPanelHeight, dragged);

    // A minimised window hands back the size it had before.
    ImageList *g = OpenList();
    EXPECT_EQ(g->size(), QSize(700, 500));
    EXPECT_EQ(g->Panel1->height(), dragged);
    g->showMinimized();
    g->close();
    EXPECT_EQ(ListWidth, 700);
    EXPECT_EQ(ListHeight, 500);
    EXPECT_EQ(ListPanelHeight, dragged);
}
