#include "ThreadWarnings.h"

#include <atomic>

namespace {
QtMessageHandler previous = nullptr;
std::function<void(const QString &)> onCaught;
std::atomic<int> caughtCount{0};

void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (previous)
        previous(type, context, text);
    if (!IsThreadWarning(type, text))
        return;
    ++caughtCount;
    if (onCaught)
        onCaught(text);
}
} // namespace

bool IsThreadWarning(QtMsgType type, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return false;
    return text.contains(QLatin1String("from another thread")) || text.contains(QLatin1String("QObject::"))
           || text.contains(QLatin1String("QBasicTimer"));
}

void CatchThreadWarnings(std::function<void(const QString &)> caught)
{
    onCaught = std::move(caught);
    previous = qInstallMessageHandler(handler);
}

int ThreadWarningsCaught()
{
    return caughtCount.load();
}
