#pragma once
// Answering modal windows without ever waiting on one forever.

#include <QString>
#include <functional>

class QWidget;

// Every test program runs this watchdog: a modal window that stays open through
// `boundMs` of event-loop time fails the running test, naming the window, and is
// closed so that its exec() returns. Time spent blocked outside an event loop (a slow
// attach) does not count, since no answer could have run then.
void StartModalWatchdog(int boundMs = 10000);

// Answers the next modal window that `find` recognises, once it is shown. The test
// fails, naming `what`, if the window does not close within `boundMs` of appearing;
// it is then closed so the test goes on.
void AnswerModal(const QString &what, std::function<QWidget *()> find,
                 std::function<void(QWidget *)> answer, int boundMs = 10000);

// "QFileDialog 'Save As'": class and caption, for failure messages.
QString DescribeWindow(const QWidget *w);
// Closes the modal windows from the top down (reject for dialogs).
void CloseModalWindows();
