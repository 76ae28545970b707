// How long one PC whose events connection never completes holds up another PC's events,
// with the server's events port set as it is now (scripts/firebird-up.sh).
//   bench_event_port [--quick] [--server localhost/PORT --aux PORTS --conf FILE]
// (needs root and iptables; by default the local server on 127.0.0.1:3050 as configured;
// --server etc. measure another instance, e.g. one started with another configuration)
// "Dead" PCs are child processes whose connections to the events port are dropped (as
// by a firewall); each asks for an event and hangs in the request. Meanwhile a healthy
// PC asks for one (the time its request takes) and another connection posts it (the
// time until it arrives). Rows: 0, 1 and 3 dead PCs side by side; and the server log's
// secondary-connection timeouts counted before and after. Then (unless --quick) the program
// itself behind that firewall for a few minutes: a painting worker with a picture open, in
// a child process whose events port is dropped; meanwhile a healthy PC asks for an event
// every 15 s. Its worst delay, the child's requests for events, and the server log's
// timeouts over that time.

#include "measure/BenchDatabase.h"
#include "core/painting/PaintWorker.h"
#include "writer/LoadRun.h"
#include "relay/PortDrop.h"
#include "db/DataAccess.h"
#include "db/EventWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <unistd.h>

using namespace measure;

namespace {
constexpr int CapMs = 60000;

int logTimeouts()
{
    QFile log(qEnvironmentVariable("OEKAKI_SERVER_LOG", QStringLiteral("/var/log/firebird/firebird3.0.log")));
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    return log.readAll().count("waiting for a secondary connection");
}

QString confFile = QStringLiteral("/etc/firebird/3.0/firebird.conf");
std::string eventPorts;

QString confValue(const char *key)
{
    QFile conf(confFile);
    QString value = QStringLiteral("(default)");
    if (conf.open(QIODevice::ReadOnly))
        for (const QByteArray &line : conf.readAll().split('\n'))
            if (line.trimmed().startsWith(key))
                value = QString::fromLatin1(line.mid(line.indexOf('=') + 1).trimmed());
    return value;
}

// A dead PC: its events connection never completes. Says "asking" and hangs in the request.
int deadPc(const QString &path, const std::string &ports)
{
    PortDrop drop(ports);
    if (!drop.Active()) {
        std::fprintf(stderr, "dead pc: %s\n", drop.Error().c_str());
        return 2;
    }
    DataAccess db;
    db.ConnectDatabase(path);
    EventWatcher w(db, "E", [](bool) {});
    std::printf("asking\n");
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    const bool ok = w.Arm();
    std::fprintf(stderr, "dead pc: its request ended after %lld ms (%s)\n", t.elapsed(),
                 ok ? "armed" : qPrintable(w.LastError()));
    std::fflush(nullptr);
    _exit(0); // the line is dead: no orderly goodbye
}

// The program behind the firewall: a picture open in a painting worker for `minutes`.
int programPc(const QString &path, const std::string &ports, int minutes)
{
    PortDrop drop(ports);
    if (!drop.Active()) {
        std::fprintf(stderr, "program pc: %s\n", drop.Error().c_str());
        return 2;
    }
    PaintWorker worker;
    worker.Open(path, 1);
    QTimer::singleShot(minutes * 60000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::fflush(nullptr);
    _exit(0);
}

struct Healthy {
    qint64 askMs = -1;     // -1: not within CapMs
    qint64 deliverMs = -1; // from the post's commit to the delivery
};

Healthy healthyPc(const QString &path)
{
    Healthy h;
    auto *db = new DataAccess; // left behind when its request hangs past the cap
    db->ConnectDatabase(path);
    auto came = std::make_shared<std::promise<void>>();
    auto once = std::make_shared<std::atomic<bool>>(false);
    auto *w = new EventWatcher(*db, "E", [came, once](bool) {
        if (!once->exchange(true))
            came->set_value();
    });
    auto armed = std::make_shared<std::promise<bool>>();
    QElapsedTimer t;
    t.start();
    std::thread([w, armed] { armed->set_value(w->Arm()); }).detach();
    auto armedF = armed->get_future();
    if (armedF.wait_for(std::chrono::milliseconds(CapMs)) != std::future_status::ready || !armedF.get())
        return h;
    h.askMs = t.elapsed();
    DataAccess poster;
    poster.ConnectDatabase(path);
    poster.ExecuteSql({"EXECUTE BLOCK AS BEGIN", "POST_EVENT 'E';", "END"});
    t.restart();
    auto cameF = came->get_future();
    if (cameF.wait_for(std::chrono::milliseconds(CapMs)) == std::future_status::ready)
        h.deliverMs = t.elapsed();
    poster.DisconnectDatabase();
    if (h.deliverMs >= 0) {
        delete w;
        db->DisconnectDatabase();
        delete db;
    }
    return h;
}

QString ms(qint64 v)
{
    return v < 0 ? QStringLiteral(">%1").arg(CapMs) : QString::number(v);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "--dead-pc")
        return deadPc(args[2], args[3].toStdString());
    if (args.size() == 5 && args[1] == "--program-pc")
        return programPc(args[2], args[3].toStdString(), args[4].toInt());
    PortDrop::RemoveLeftovers();
    const bool quick = args.contains("--quick");
    auto option = [&](const char *name, const QString &otherwise) {
        const int at = args.indexOf(QString::fromLatin1(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1] : otherwise;
    };
    const QString server = option("--server", QStringLiteral("localhost"));
    confFile = option("--conf", confFile);
    eventPorts = option("--aux", QString::fromStdString(PortDrop::EventPorts())).toStdString();
    const QString folder = MakeServerFolder();
    if (folder.isEmpty())
        return 1;
    const QString path = server + QStringLiteral(":") + folder + "EVENTS.FDB";
    {
        DataAccess db;
        if (!CreateBenchDatabase(db, path))
            return 1;
    }
    std::printf("server: RemoteAuxPort = %s, ConnectionTimeout = %s; events port(s) dropped for dead PCs: %s\n",
                qPrintable(confValue("RemoteAuxPort")), qPrintable(confValue("ConnectionTimeout")),
                eventPorts.c_str());
    std::printf("%-10s %16s %22s\n", "dead PCs", "healthy ask ms", "post to delivery ms");
    const int logBefore = logTimeouts();
    std::vector<QProcess *> dead;
    for (int n : quick ? std::vector<int>{0, 1} : std::vector<int>{0, 1, 3}) {
        while (int(dead.size()) < n) {
            auto *p = new QProcess;
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(app.applicationFilePath(), {"--dead-pc", path, QString::fromStdString(eventPorts)});
            if (!p->waitForReadyRead(20000)) {
                std::fprintf(stderr, "a dead PC did not start its request\n");
                return 1;
            }
            dead.push_back(p);
        }
        QThread::msleep(1000); // the dead requests are inside the server's wait
        const Healthy h = healthyPc(path);
        std::printf("%-10d %16s %22s\n", n, qPrintable(ms(h.askMs)), qPrintable(ms(h.deliverMs)));
        std::fflush(stdout);
    }
    for (QProcess *p : dead) {
        p->kill();
        p->waitForFinished(5000);
    }
    const int logAfter = logTimeouts();
    std::printf("server log: secondary-connection timeouts %d before, %d after\n", logBefore, logAfter);
    if (!quick) {
        const int minutes = option("--minutes", QStringLiteral("6")).toInt();
        const int before = logTimeouts();
        QProcess program;
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(app.applicationFilePath(),
                      {"--program-pc", path, QString::fromStdString(eventPorts), QString::number(minutes)});
        QElapsedTimer t;
        t.start();
        qint64 worstAsk = 0, worstDeliver = 0;
        int tries = 0;
        while (t.elapsed() < minutes * 60000 - 20000) {
            QThread::msleep(15000);
            const Healthy h = healthyPc(path);
            ++tries;
            worstAsk = h.askMs < 0 ? CapMs : std::max(worstAsk, h.askMs);
            worstDeliver = h.deliverMs < 0 ? CapMs : std::max(worstDeliver, h.deliverMs);
        }
        program.waitForFinished(minutes * 60000);
        const QByteArray said = program.readAllStandardError();
        std::printf("the program behind the firewall for %d min: it asked for events %d times (each "
                    "given up); a healthy PC asked %d times meanwhile: worst ask %lld ms, worst post to "
                    "delivery %lld ms; server log: %d secondary-connection timeouts over that time\n",
                    minutes, int(said.count("no events from")), tries, worstAsk, worstDeliver,
                    logTimeouts() - before);
    }
    std::fflush(nullptr);
    // Requests past the cap may still hang: nothing waits for them.
    _exit(0);
}
