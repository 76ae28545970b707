// The server stopped and started again while the image list pages: the list shows
// what it can, nothing hangs, and it works again after the user reconnects.

#include "CatalogueFixture.h"
#include "StallMeter.h"
#include "ServerControl.h"
#include "DbAnswers.h"

#include "forms/FormUtil.h"
#include "windows/DatabaseSettingsDialog.h"

#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>

namespace {
struct ServerGuard {
    ~ServerGuard()
    {
        if (!ServerListening())
            StartServer();
    }
};
} // namespace

class ImageListFaults : public CatalogueTest {};

TEST_F(ImageListFaults, ServerStoppedDuringPagingAndBackAfterReconnect)
{
    ServerGuard guard;
    for (int n = 1; n <= 150; ++n)
        AddImage(n, QStringLiteral("絵%1").arg(n));
    MessageRecorder messages;
    mainWindow->mnuImageListClick();
    ASSERT_TRUE(WaitForDbAnswers());
    auto *list = LastChild<ImageList>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(GridCell(list->SG1, 0, 100), "100");

    ASSERT_TRUE(StopServer());
    QElapsedTimer t;
    t.start();
    list->Button3Click(); // next page
    ASSERT_TRUE(WaitForDbAnswers());
    list->SG1->setCurrentCell(0, 0);
    list->Button4Click(); // refresh
    ASSERT_TRUE(WaitForDbAnswers());
    EXPECT_LT(t.elapsed(), 30000);
    // Nothing could be read: the page shown stays, and the user is told why.
    EXPECT_EQ(GridCell(list->SG1, 0, 1), "1");
    EXPECT_EQ(GridCell(list->SG1, 0, 100), "100");
    ASSERT_FALSE(messages.messages.isEmpty());
    EXPECT_TRUE(messages.messages.first().contains(QStringLiteral("読み込めませんでした")))
        << messages.messages.first().toStdString();
    messages.messages.clear();

    ASSERT_TRUE(StartServer());
    QTimer::singleShot(0, [] {
        databaseSettingsDialog->Button1Click();
        if (databaseSettingsDialog->isVisible())
            databaseSettingsDialog->Button2Click();
    });
    mainWindow->mnuDBsetClick();
    // The attach runs off the window's thread; its outcome comes a moment later.
    ASSERT_TRUE(WaitUntil([] { return !mainWindow->Attaching(); }, 15000)) << "the attach did not end";
    ASSERT_TRUE(mainWindow->IsConnected());
    list->Button3Click();
    ASSERT_TRUE(WaitForDbAnswers());
    EXPECT_EQ(GridCell(list->SG1, 0, 1), "101");
    EXPECT_EQ(GridCell(list->SG1, 0, 50), "150");
    EXPECT_EQ(CountWhere(QString()), 150);
    EXPECT_TRUE(messages.messages.isEmpty()) << messages.messages.join(QLatin1Char('|')).toStdString();
}
