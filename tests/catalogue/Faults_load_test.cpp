// The server stopped and started again while the image list pages: the list shows
// what it can, nothing hangs, and it works again after the user reconnects.

#include "CatalogueFixture.h"
#include "ServerControl.h"

#include "app/FormUtil.h"
#include "app/Unit2.h"

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

class ListFaults : public CatalogueTest {};

TEST_F(ListFaults, ServerStoppedDuringPagingAndBackAfterReconnect)
{
    ServerGuard guard;
    for (int n = 1; n <= 150; ++n)
        AddImage(n, QStringLiteral("絵%1").arg(n));
    MessageRecorder messages;
    Form1->mnuImageListClick();
    auto *list = LastChild<TForm7>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(GridCell(list->SG1, 0, 100), "100");

    ASSERT_TRUE(StopServer());
    QElapsedTimer t;
    t.start();
    list->Button3Click(); // next page
    list->SG1->setCurrentCell(0, 0);
    list->Button4Click(); // refresh
    EXPECT_LT(t.elapsed(), 30000);
    EXPECT_EQ(GridCell(list->SG1, 0, 1), QString()); // nothing could be read
    EXPECT_TRUE(messages.messages.isEmpty());

    ASSERT_TRUE(StartServer());
    QTimer::singleShot(0, [] {
        Form2->Button1Click();
        if (Form2->isVisible())
            Form2->Button2Click();
    });
    Form1->mnuDBsetClick();
    ASSERT_TRUE(Form1->IsConnected());
    list->Button4Click();
    EXPECT_EQ(GridCell(list->SG1, 0, 1), "101");
    EXPECT_EQ(GridCell(list->SG1, 0, 50), "150");
    EXPECT_EQ(CountWhere(QString()), 150);
    EXPECT_TRUE(messages.messages.isEmpty());
}
