#include "CommitCut.h"

#include "DbAnswers.h"
#include "StallMeter.h"
#include "TestDatabase.h"

#include "app/MainWindow.h"
#include "core/connection/MainDb.h"
#include "core/settings/SharedSettings.h"

#include <gtest/gtest.h>

bool CommitCut::Attach(const TestDatabase &database)
{
    if (!relay_.start(0))
        return false;
    mainWindow->DisconnectDatabase();
    WaitForDbAnswers();
    ServerName = QStringLiteral("127.0.0.1/%1:").arg(relay_.port());
    ServerDataDir = database.folder();
    DatabaseName = database.fileName();
    mainWindow->ConnectDatabase();
    return WaitUntil([] { return mainWindow->IsConnected(); }, 15000) && WaitForDbAnswers();
}

// Larger than a transaction's start or end, smaller than any change's statement.
constexpr int kStatementBytes = 40;

static void arm(DelayRelay &relay, bool commit)
{
    if (commit)
        relay.CutRequestAfter(kStatementBytes);
    else
        relay.CutAfterNextRequest(kStatementBytes);
}

void CommitCut::CutNextCommit(int reads, bool commit)
{
    ASSERT_LE(reads, 1) << "only one read before the change is provided for";
    if (reads == 0) {
        arm(relay_, commit);
        return;
    }
    // Queued on main-db behind the read: the change is asked only once its answer is in.
    // The relay outlives it: the test waits for every answer before it ends.
    DbRequest<bool> request{true, [relay = &relay_, commit](DataAccess &) {
                                arm(*relay, commit);
                                return true;
                            }};
    mainWindow->Database().Ask<bool>(mainWindow, std::move(request), [](bool, DbReply) {});
}
