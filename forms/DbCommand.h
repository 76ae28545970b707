#pragma once
// A window's database command: asked of the main-db thread. While it waits the window
// shows that it works (busy cursor, its buttons disabled except those in `keep`, which
// close it) and every window keeps answering; the answer runs on the window's thread,
// and not at all once the window is gone.

#include "core/connection/MainDb.h"
#include "forms/MainLink.h"

#include <QList>
#include <QWidget>

void BeginCommandWait(QWidget *window, const QList<QWidget *> &keep);
void EndCommandWait(QWidget *window);
// The window closes: what its commands turned off comes back, their answers will not.
void EndCommandWaits(QWidget *window);
bool CommandWaiting(const QWidget *window);
// Where the answers to a window's commands go (a dialog's current showing).
QObject *AnswerContext(QWidget *window);

template <class R>
void AskDb(QWidget *window, DbRequest<R> request, std::function<void(R, DbReply)> answer,
           const QList<QWidget *> &keep = {})
{
    MainLink *link = MainWindowLink();
    if (!link) {
        answer(R{}, DbReply{true});
        return;
    }
    BeginCommandWait(window, keep);
    link->Database().Ask<R>(AnswerContext(window), std::move(request), [window, answer = std::move(answer)](R r, DbReply reply) {
        EndCommandWait(window);
        answer(std::move(r), reply);
    });
}

// A read that got no answer: "データベースが読み込めませんでした。接続を確認して下さい。".
void ReportUnreadable();
// A change that got no answer: its own failure message, and that the connection was lost.
// One whose commit may have landed was looked for again on main-db before it was answered
// (see DbRequest): it comes here only when it was not found done.
void ReportLostChange(const QString &failure);
