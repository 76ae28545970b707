#include "forms/DbCommand.h"

#include "forms/FormDialog.h"
#include "forms/MessageBoxes.h"

#include <QAbstractButton>
#include <QPointer>

namespace {

// What a window's waiting commands turned off, to be turned on again by the last answer.
// Without a meta-object of its own: found by its name.
class WaitState : public QObject {
public:
    explicit WaitState(QObject *parent) : QObject(parent) { setObjectName(QStringLiteral("commandWait")); }
    int waiting = 0;
    QList<QPointer<QAbstractButton>> disabled;
    // A disabled button loses the focus: it gets it back.
    QPointer<QWidget> focus;
};

WaitState *stateOf(const QWidget *window)
{
    return static_cast<WaitState *>(window->findChild<QObject *>(QStringLiteral("commandWait"), Qt::FindDirectChildrenOnly));
}

} // namespace

void BeginCommandWait(QWidget *window, const QList<QWidget *> &keep)
{
    WaitState *state = stateOf(window);
    if (!state)
        state = new WaitState(window);
    if (state->waiting++ > 0)
        return;
    window->setCursor(Qt::BusyCursor);
    state->focus = window->focusWidget();
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
        if (b->isEnabled() && !keep.contains(b)) {
            b->setEnabled(false);
            state->disabled << b;
        }
    }
}

void EndCommandWait(QWidget *window)
{
    WaitState *state = stateOf(window);
    if (!state || state->waiting == 0 || --state->waiting > 0)
        return;
    for (const QPointer<QAbstractButton> &b : std::as_const(state->disabled))
        if (b)
            b->setEnabled(true);
    state->disabled.clear();
    if (state->focus && state->focus->isEnabled() && window->isVisible())
        state->focus->setFocus();
    window->unsetCursor();
}

void EndCommandWaits(QWidget *window)
{
    WaitState *state = stateOf(window);
    if (!state || state->waiting == 0)
        return;
    state->waiting = 1;
    EndCommandWait(window);
}

QObject *AnswerContext(QWidget *window)
{
    if (auto *dialog = qobject_cast<FormDialog *>(window); dialog && dialog->Showing())
        return dialog->Showing();
    return window;
}

bool CommandWaiting(const QWidget *window)
{
    const WaitState *state = stateOf(window);
    return state && state->waiting > 0;
}

void ReportUnreadable()
{
    ShowMessage(QStringLiteral("データベースが読み込めませんでした。接続を確認して下さい。"));
}

void ReportLostChange(const QString &failure)
{
    ShowMessage(failure + QStringLiteral("\nデータベースとの接続が切れています。"));
}
