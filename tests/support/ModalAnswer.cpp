#include "ModalAnswer.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

QString DescribeWindow(const QWidget *w)
{
    if (!w)
        return QStringLiteral("(none)");
    return QString::fromLatin1(w->metaObject()->className()) + QStringLiteral(" '")
           + w->windowTitle() + QLatin1Char('\'');
}

void CloseModalWindows()
{
    for (int i = 0; i < 10; ++i) {
        QWidget *m = QApplication::activeModalWidget();
        if (!m)
            return;
        if (auto *d = qobject_cast<QDialog *>(m))
            d->reject();
        else
            m->close();
        if (m->isVisible())
            m->hide();
    }
}

void StartModalWatchdog(int boundMs)
{
    constexpr int tickMs = 100;
    auto *timer = new QTimer(qApp);
    auto seen = std::make_shared<QPointer<QWidget>>();
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *m = QApplication::activeModalWidget();
        if (m != seen->data()) {
            *seen = m;
            *ticks = 0;
            return;
        }
        if (!m || ++*ticks * tickMs < boundMs)
            return;
        ADD_FAILURE() << "A modal window was left open for " << boundMs / 1000
                      << " s without an answer and is closed now: "
                      << DescribeWindow(m).toStdString();
        *ticks = 0;
        CloseModalWindows();
    });
    timer->start(tickMs);
}

void AnswerModal(const QString &what, std::function<QWidget *()> find,
                 std::function<void(QWidget *)> answer, int boundMs)
{
    struct State {
        QElapsedTimer since;
        bool answered = false;
        QPointer<QWidget> window;
    };
    auto *timer = new QTimer;
    auto st = std::make_shared<State>();
    st->since.start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        const bool late = st->since.elapsed() > boundMs;
        if (!st->answered) {
            QWidget *w = find();
            if (w && w->isVisible()) {
                st->answered = true;
                st->window = w;
                st->since.restart();
                answer(w);
                return;
            }
            if (!late)
                return;
            ADD_FAILURE() << what.toStdString() << " did not open within " << boundMs / 1000
                          << " s";
        } else if (st->window && st->window->isVisible()) {
            if (!late)
                return;
            ADD_FAILURE() << what.toStdString() << " stayed open after its answer: "
                          << DescribeWindow(st->window).toStdString();
            CloseModalWindows();
        }
        timer->stop();
        timer->deleteLater();
    });
    timer->start(10);
}
