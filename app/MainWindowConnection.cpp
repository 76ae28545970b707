// The main window's database: attaching (at once or in the background), coming back after a
// lost connection, what the status bar says meanwhile, and the strokes that wait for it.
#include "app/MainWindow.h"

#include "core/connection/BackgroundAttach.h"
#include "core/connection/ConnectionKeeper.h"
#include "core/catalogue/TableRequests.h"
#include "core/journal/StrokeJournal.h"
#include "core/settings/DatabaseLabel.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/BusyCursor.h"
#include "forms/ElidedLabel.h"
#include "forms/MessageBoxes.h"
#include "windows/PaintWindow.h"

#include <QEventLoop>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

void MainWindow::CreateDatabase()
{
    mainDb_->Disconnect();
    attachAndWait(true);
}

void MainWindow::ConnectDatabase()
{
    if (IsConnected())
        return;
    attachAndWait(false);
}

void MainWindow::attachAndWait(bool create)
{
    BusyCursor busy;
    QEventLoop loop;
    const auto done = connect(attacher_, &BackgroundAttach::Finished, &loop, [&loop] { loop.quit(); });
    attachInBackground(AttachFor::Waiting, create);
    // Also left when the program quits meanwhile (every event loop is ended then).
    if (attacher_->Running())
        loop.exec();
    disconnect(done);
}

// The window thread only starts the attach and takes its outcome: the DataAccess it
// attaches with belongs to the attach thread until Finished hands it over.
void MainWindow::attachInBackground(AttachFor why, bool create)
{
    if (attacher_->Running() && attachFor_ == AttachFor::Waiting && why != AttachFor::Waiting) {
        // A command waits for its own attach: that one stands.
        if (why == AttachFor::Reconnect)
            QMetaObject::invokeMethod(this, [this] { keeper_->AttachDone(false); }, Qt::QueuedConnection);
        return;
    }
    if (attacher_->Running() && attachFor_ == AttachFor::Reconnect && why != AttachFor::Reconnect)
        keeper_->AttachDone(false);
    attachFor_ = why;
    attacher_->Start(DatabasePath(), create);
    showConnectionState();
}

void MainWindow::attachFinished(DataAccess &attached)
{
    lastAttachLost_ = BackgroundAttach::GotNoAnswer(attached);
    if (!closed_ && mainDb_->Adopt(attached))
        connected();
    switch (attachFor_) {
    case AttachFor::Start:
        if (!IsConnected() && !closed_) {
            // Tried again as a lost connection is, also while the message is up.
            startReconnecting();
            ShowMessage(QStringLiteral("データベース接続が出来ません。設定を確認して下さい。")
                        + FolderSeparatorHint(ServerDataDir));
        }
        break;
    case AttachFor::Settings:
        if (!IsConnected() && !closed_)
            startReconnecting();
        break;
    case AttachFor::Reconnect:
        keeper_->AttachDone(IsConnected());
        break;
    case AttachFor::Waiting:
        break;
    }
    showConnectionState();
}

void MainWindow::startReconnecting()
{
    keeper_->Start();
    showConnectionState();
}

bool MainWindow::Attaching() const
{
    return attacher_->Running();
}

QString MainWindow::ConnectionStatusText() const
{
    return connectionState_->FullText();
}

QString MainWindow::WaitingStatusText() const
{
    return waitingLabel_->isVisibleTo(StatusBar1) ? waitingLabel_->FullText() : QString();
}

void MainWindow::showConnectionState()
{
    QString text;
    if (keeper_->Active())
        text = DatabaseLabel(DatabasePath()) + QStringLiteral("との接続が切れています。再接続を試みています…");
    else if (attacher_->Running() && !IsConnected())
        text = DatabaseLabel(DatabasePath()) + QStringLiteral("に接続しています…");
    connectionState_->SetFullText(text);
}

bool MainWindow::connectedForCommand()
{
    if (IsConnected())
        return true;
    if (attacher_->Running() || keeper_->Active())
        ShowMessage(QStringLiteral("データベースに接続しています。しばらくしてからもう一度実行して下さい。"));
    // The registers' and the PC user dialog's own words for the same states.
    else if (IsBlank(ServerDataDir) || IsBlank(DatabaseName))
        ShowMessage(QStringLiteral("最初にデータベースの設定を行って下さい。"));
    else
        ShowMessage(QStringLiteral("データベースに接続出来ません。設定を確認して下さい。"));
    return false;
}

void MainWindow::connected()
{
    // Strokes that a run before could not store go into this database first.
    worker_.RecoverJournal(DatabasePath());
    // Read on the journal thread: the folder may be on a network disk.
    worker_.PeekJournal();
}

void MainWindow::showWaiting()
{
    QMap<QString, int> waiting = journalElsewhere_;
    const QMap<QString, int> held = worker_.WaitingPoints();
    for (auto it = held.begin(); it != held.end(); ++it)
        waiting[it.key()] += it.value();
    QStringList parts;
    for (auto it = waiting.begin(); it != waiting.end(); ++it)
        if (it.value() > 0)
            parts << QStringLiteral("未保存 %1点：%2").arg(it.value()).arg(DatabaseLabel(it.key()));
    if (const int unsafe = worker_.UnjournaledPoints(); unsafe > 0)
        parts << QStringLiteral("うち%1点は%2").arg(unsafe).arg(unsafeText());
    waitingLabel_->SetFullText(parts.join(QStringLiteral("　")));
    waitingLabel_->setVisible(!parts.isEmpty());
}

void MainWindow::askAboutOrphans(const QString &database, int imageNo, int points)
{
    if (closed_ || exitAgreed_)
        return;
    const bool discard = ConfirmBox(QStringLiteral("画像 %1 が見つかりません（%2）。\n"
                                                   "この画像の保存されていない点が%3点あります。\n"
                                                   "破棄しますか？（「いいえ」で残します）")
                                        .arg(imageNo)
                                        .arg(database)
                                        .arg(points),
                                    false);
    if (discard)
        worker_.DiscardOrphans(database, imageNo);
}

void MainWindow::withTable(ProgramTable table, bool create, std::function<void()> then, QPointer<QWidget> busy)
{
    setCursor(Qt::BusyCursor);
    mainDb_->Ask<TableState>(this, EnsureTable(table, create), [this, then, busy](TableState state, DbReply reply) {
        unsetCursor();
        if (busy)
            busy->unsetCursor();
        if (StatusBar1->currentMessage() == ListOpeningText)
            StatusBar1->clearMessage();
        if (reply.lost || state == TableState::Unreadable)
            reportUnreadable();
        else if (state == TableState::Present)
            then();
    });
}

void MainWindow::DisconnectDatabase()
{
    mainDb_->Disconnect();
}

void MainWindow::ConnectionLost()
{
    if (closed_)
        return;
    mainDb_->Drop();
    startReconnecting();
}

bool MainWindow::Reconnecting() const
{
    return keeper_->Active();
}

int MainWindow::UnstoredPoints() const
{
    // Closed windows' strokes too: the worker goes on storing them, until the exit.
    return worker_.UnjournaledPoints();
}

QString MainWindow::unsafeText() const
{
    const QString why = worker_.JournalTrouble();
    return why.isEmpty() ? QStringLiteral("ディスクに控えられていません")
                         : QStringLiteral("ディスクに控えられていません（%1）").arg(why);
}

void MainWindow::reportUnreadable()
{
    ShowMessage(QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。"));
}

bool MainWindow::TableExists(const QString &name)
{
    const TableState state = TableStateNow(mainDb_->DbForTests(), name);
    if (state == TableState::Unreadable)
        reportUnreadable();
    return state == TableState::Present;
}
