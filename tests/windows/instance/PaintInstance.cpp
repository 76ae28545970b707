// A second copy of the program for the restart test: the real main window and one
// painting window, driven by lines on stdin, answering on stdout.
//
// usage: oekaki_paint_instance <server prefix> <folder> <file> <pc user> <image no> <w> <h>
// commands: "stroke x,y x,y ..." (answers once stored or given up), "hold x,y ..." (the
// button stays down; answers at once), "move x,y ..." (the held button moved on; answers
// at once), "draw x,y ..." (answers
// once the stroke is in the journal), "drawexit x,y ..." (ends the process with 7 once the
// stroke is in the journal), "dump <png file>", "pending", "lost" (the main window takes its
// connection for lost), "pen <type> <size> <colour>" (answers with the window's outer size),
// "presence" (answers with the names its presence strip shows, then those drawing),
// "open <image no> <w> <h>" (another painting window; answers at once, while it opens),
// "where" (the canvas's top left on the screen: "at x y"), "stall <k> <ms>" (the window
// thread stops for ms at the k-th mouse move the canvas gets from now on),
// "close" (closes the painting window), "exit" (the exit command), "quit"
// SIGTERM, SIGINT and SIGHUP end it as they end the program.
// Environment: OEKAKI_INSTANCE_SETTINGS, the settings file (else none is kept);
// OEKAKI_INSTANCE_END_PROCESS=1, closing ends the process as the program's does.
// A Qt thread warning ends it at once with 70.

#include "app/MainWindow.h"
#include "app/SessionEnd.h"
#include "core/settings/SharedSettings.h"
#include "forms/FormUtil.h"
#include "windows/ImageControl.h"
#include "windows/PaintWindow.h"
#include "windows/PresencePanel.h"
#include "ThreadWarnings.h"

#include <QApplication>
#include <QMdiArea>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

namespace {
void reply(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    SessionEnd::BlockSignals();
    // As in the test programs: the test that drives this copy sees it end, and fails.
    CatchThreadWarnings([](const QString &) {
        std::fprintf(stderr, "oekaki_paint_instance: a Qt thread warning: ending with 70\n");
        _exit(70);
    });
    QApplication app(argc, argv);
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s prefix folder file user image width height\n", argv[0]);
        return 2;
    }
    QTemporaryDir settings;
    MainWindow::SettingFileOverride = qEnvironmentVariableIsSet("OEKAKI_INSTANCE_SETTINGS")
                                          ? qEnvironmentVariable("OEKAKI_INSTANCE_SETTINGS")
                                          : settings.filePath(QStringLiteral("none.dat"));
    MainWindow::EndProcessAtClose = qEnvironmentVariableIntValue("OEKAKI_INSTANCE_END_PROCESS") == 1;
    CreateApplicationWindows();
    SessionEnd sessionEnd([](int) {
        if (mainWindow)
            mainWindow->EndSession();
    });
    mainWindow->show();
    ServerName = QString::fromLocal8Bit(argv[1]);
    ServerDataDir = QString::fromLocal8Bit(argv[2]);
    DatabaseName = QString::fromLocal8Bit(argv[3]);
    PcUserNo = std::atoi(argv[4]);
    mainWindow->ConnectDatabase();
    if (!mainWindow->IsConnected())
        return 3;
    CurrentImageNo = std::atoi(argv[5]);
    CurrentImageWidth = std::atoi(argv[6]);
    CurrentImageHeight = std::atoi(argv[7]);
    // Gone once "close" has closed it.
    QPointer<PaintWindow> w = new PaintWindow;
    w->setWindowTitle(QStringLiteral("画像"));
    mainWindow->AddChild(w);
    w->SpeedButton4Click();
    w->WaitIdle();
    reply(QStringLiteral("ready %1").arg(w->ReadCount));

    // "stall": the window busy for a while in the middle of a drag, as a slow repaint would be.
    struct Stall : QObject {
        int movesLeft = 0;
        int ms = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::MouseMove && movesLeft > 0 && --movesLeft == 0)
                QThread::msleep(ulong(ms));
            return false;
        }
    } stall;
    w->Image1->installEventFilter(&stall);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[4096];
        if (!std::fgets(buf, sizeof buf, stdin)) {
            QApplication::exit(0);
            return;
        }
        const QStringList words = QString::fromUtf8(buf).trimmed().split(QLatin1Char(' '));
        if (!w && words[0] != QLatin1String("quit") && words[0] != QLatin1String("exit")) {
            reply(QStringLiteral("closed"));
            return;
        }
        const bool draw = words[0] == QLatin1String("draw") || words[0] == QLatin1String("drawexit");
        const bool hold = words[0] == QLatin1String("hold");
        if ((draw || hold || words[0] == QLatin1String("stroke")) && words.size() > 1) {
            for (int i = 1; i < words.size(); ++i) {
                const QStringList xy = words[i].split(QLatin1Char(','));
                const int x = xy.value(0).toInt(), y = xy.value(1).toInt();
                if (i == 1)
                    w->Image1MouseDown(Qt::LeftButton, Qt::LeftButton, x, y);
                else
                    w->Image1MouseMove(Qt::LeftButton, x, y);
                if (i == words.size() - 1 && !hold)
                    w->Image1MouseUp(Qt::LeftButton, Qt::NoButton, x, y);
            }
            if (hold) {
                reply(QStringLiteral("held"));
                return;
            }
            // "drawexit": the program ends right after mouse-up, as its exit does once the
            // settings are written: the journal thread ends it once the stroke is synced.
            if (words[0] == QLatin1String("drawexit")) {
                mainWindow->Worker().ExitWhenJournaled(7);
                return;
            }
            // "draw" answers once the stroke is in the journal, while the worker stores
            // (as the user goes on drawing).
            if (draw) {
                mainWindow->Worker().WhenJournaled([] { reply(QStringLiteral("drawn")); });
                return;
            }
            w->WaitIdle();
            reply(QStringLiteral("stroked %1").arg(w->UnstoredPoints()));
        } else if (words[0] == QLatin1String("move") && words.size() > 1) {
            for (int i = 1; i < words.size(); ++i) {
                const QStringList xy = words[i].split(QLatin1Char(','));
                w->Image1MouseMove(Qt::LeftButton, xy.value(0).toInt(), xy.value(1).toInt());
            }
            reply(QStringLiteral("moved"));
        } else if (words[0] == QLatin1String("dump") && words.size() > 1) {
            w->WaitIdle();
            w->Bitmap.save(words[1], "PNG");
            reply(QStringLiteral("dumped %1 %2 %3")
                      .arg(w->ReadCount)
                      .arg(w->UnstoredPoints())
                      .arg(mainWindow->IsConnected() ? 1 : 0));
        } else if (words[0] == QLatin1String("pending")) {
            // Points of this window not yet stored, as the worker last reported them.
            reply(QStringLiteral("pending %1").arg(w->UnstoredPoints()));
        } else if (words[0] == QLatin1String("pen") && words.size() == 4) {
            w->CurPenType = words[1].toInt();
            w->CurPenSize = words[2].toInt();
            w->CurPenColor = words[3].toInt();
            const QSize outer = OuterSize(w);
            reply(QStringLiteral("pen %1 %2").arg(outer.width()).arg(outer.height()));
        } else if (words[0] == QLatin1String("open") && words.size() == 4) {
            CurrentImageNo = words[1].toInt();
            CurrentImageWidth = words[2].toInt();
            CurrentImageHeight = words[3].toInt();
            auto *other = new PaintWindow;
            other->setWindowTitle(QStringLiteral("画像 %1").arg(CurrentImageNo));
            mainWindow->AddChild(other);
            reply(QStringLiteral("opening"));
        } else if (words[0] == QLatin1String("where")) {
            const QPoint at = w->Image1->mapToGlobal(QPoint(0, 0));
            reply(QStringLiteral("at %1 %2").arg(at.x()).arg(at.y()));
        } else if (words[0] == QLatin1String("stall") && words.size() == 3) {
            stall.movesLeft = words[1].toInt();
            stall.ms = words[2].toInt();
            reply(QStringLiteral("stalling"));
        } else if (words[0] == QLatin1String("lost")) {
            mainWindow->ConnectionLost();
            reply(QStringLiteral("lost"));
        } else if (words[0] == QLatin1String("presence")) {
            QStringList drawing;
            for (int m : w->PresenceStrip->DrawingNow())
                drawing << QString::number(m);
            reply(QStringLiteral("presence %1 %2").arg(w->PresenceStrip->Names().join(QLatin1Char(',')),
                                                       drawing.join(QLatin1Char(','))));
        } else if (words[0] == QLatin1String("close")) {
            w->close();
            reply(QStringLiteral("closed"));
        } else if (words[0] == QLatin1String("exit")) {
            mainWindow->mnuExitClick();
        } else if (words[0] == QLatin1String("quit")) {
            QApplication::exit(0);
        }
    });
    const int rc = QApplication::exec();
    mainWindow->CloseWithoutAsking();
    DestroyApplicationWindows();
    return rc;
}
