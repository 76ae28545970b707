// Drawing over a slow network and many people drawing at once, measured side by side
// in one run, with a delay relay in front of the local server for each round trip.
// The person measured draws in the program's real main and painting windows (the
// painting worker stores on its own thread); the others are headless writer processes.
//   - the window's stall: a heartbeat timer on the window thread every 5 ms, the
//     largest gap between two ticks less the 5 ms;
//   - mouse-up to committed: from the mouse-up handler to the painting worker's Stored
//     signal for that stroke, as the window thread receives it;
//   - one 60-point stroke drawn alone, against the raw ISC loop of start, execute,
//     commit per row and against one autocommit transaction (the floor of one round
//     trip and one commit per row), with the round trips the relay counted;
//   - K people at a person's pace (a stroke, then a pause of about 1.5 s, a refresh
//     every 5 s): the window's person plus K-1 writer processes; the writers' store
//     times too, their clashes, and the check that every point is stored once with N
//     gapless;
//   - network faults with a stroke in the window: a silent network (the relay paused
//     for 30 s mid-stroke), a row locked by another connection's uncommitted insert of
//     the next N, and a mute server (accepts, never answers) as the address of a fresh
//     opening;
//   - a long session of one writer: the gap between the oldest active and the next
//     transaction, read from the server while a stroke is being stored.
//   - mouse-up to drawn in another PC's painting window (a painting worker of its own on
//     the same picture), for every K and round trip;
// usage: bench_human_pace [--quick] [--together] [--events-dropped]
//   (--together: only the K people runs; --events-dropped: this process's connections to
//   the server's events port are dropped, as by a firewall; needs root and iptables)
#include "measure/BenchDatabase.h"
#include "measure/Measures.h"
#include "app/MainWindow.h"
#include "core/painting/PaintWorker.h"
#include "core/settings/SharedSettings.h"
#include "core/picture/Stamp.h"
#include "core/painting/StrokeStore.h"
#include "db/DataAccess.h"
#include "db/Tables.h"
#include "relay/DelayRelay.h"
#include "relay/PortDrop.h"
#include "windows/PaintWindow.h"
#include "writer/LoadRun.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ibase.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace measure;

namespace {

constexpr int kPoints = 60;
constexpr int kMoveMs = 8; // between two mouse moves of a stroke

std::vector<QPoint> strokePoints(int seed)
{
    std::vector<QPoint> p;
    for (int i = 0; i < kPoints; ++i)
        p.emplace_back((seed * 13 + i * 3) % 600, (seed * 7 + i) % 400);
    return p;
}

void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

// A painting window opened as the image list opens one; `session` is its worker session
// (0 when its opening never got an answer, as against a mute server).
PaintWindow *OpenWindow(int imageNo, int width, int height, int &session, int waitMs = 30000)
{
    CurrentImageNo = imageNo;
    CurrentImageWidth = width;
    CurrentImageHeight = height;
    int opened = 0;
    bool loaded = false;
    const auto c = QObject::connect(&mainWindow->Worker(), &PaintWorker::Loading, mainWindow,
                                    [&](int id, int, bool done) {
                                        opened = id;
                                        loaded = loaded || done;
                                    });
    auto *w = new PaintWindow;
    w->setWindowTitle(QStringLiteral("画像 ") + QString::number(imageNo));
    mainWindow->AddChild(w);
    RunUntil([&] { return loaded; }, waitMs);
    QObject::disconnect(c);
    w->SpeedButton4Click();
    session = opened;
    return w;
}

// The person at a painting window: strokes through the window's mouse handlers, a
// move every 8 ms, each timed from mouse-up to the worker's Stored signal for it.
class Person : public QObject {
public:
    Person(PaintWindow *w, int session, int top, int bottom, quint32 seed)
        : w_(w), session_(session), top_(top), bottom_(bottom), rng_(seed)
    {
        connect(&mainWindow->Worker(), &PaintWorker::Stored, this, [this](int id, quint64 tag) {
            if (id != session_ || tag == 0 || tag > ups_.size())
                return;
            storedMs.push_back(double(NowNs() - ups_[tag - 1]) / 1e6);
        });
        connect(&mainWindow->Worker(), &PaintWorker::Journaled, this,
                [this](int id, quint64 tag, const QString &, qint64 syncedNs) {
                    if (id == session_ && tag > 0 && tag <= ups_.size())
                        journaledMs.push_back(double(syncedNs - ups_[tag - 1]) / 1e6);
                });
    }

    void Stroke(const std::vector<QPoint> &points)
    {
        w_->Image1MouseDown(Qt::LeftButton, Qt::LeftButton, points[0].x(), points[0].y());
        for (size_t i = 1; i < points.size(); ++i) {
            RunFor(kMoveMs);
            w_->Image1MouseMove(Qt::LeftButton, points[i].x(), points[i].y());
        }
        RunFor(kMoveMs);
        ups_.push_back(NowNs());
        w_->Image1MouseUp(Qt::LeftButton, Qt::NoButton, points.back().x(), points.back().y());
        drawn.insert(drawn.end(), points.begin(), points.end());
    }

    // A random stroke in the person's band with a random pen, as the writers draw.
    void RandomStroke()
    {
        w_->CurPenType = uniform(0, 5);
        w_->CurPenSize = uniform(1, 5);
        w_->CurPenColor = uniform(0, 0xFFFFFF);
        std::vector<QPoint> p;
        int x = uniform(6, w_->ImageWidth - 7), y = uniform(top_ + 6, bottom_ - 7);
        p.emplace_back(x, y);
        while (int(p.size()) < kPoints) {
            // Every move goes somewhere new: the window keeps a point only when it moved.
            const int nx = std::clamp(x + uniform(-3, 3), 6, w_->ImageWidth - 7);
            const int ny = std::clamp(y + uniform(-3, 3), top_ + 6, bottom_ - 7);
            if (nx == x && ny == y)
                continue;
            x = nx;
            y = ny;
            p.emplace_back(x, y);
        }
        Stroke(p);
    }

    int uniform(int lo, int hi) { return int(rng_.bounded(lo, hi + 1)); }
    bool AllStored() const { return storedMs.size() == ups_.size(); }
    const std::vector<int64_t> &Ups() const { return ups_; }
    int Strokes() const { return int(ups_.size()); }

    std::vector<double> storedMs;
    std::vector<double> journaledMs; // mouse-up to the journal entry synced
    std::vector<QPoint> drawn;

private:
    PaintWindow *w_;
    int session_;
    int top_, bottom_;
    QRandomGenerator rng_;
    std::vector<int64_t> ups_;
};

// Another PC's painting window on the same picture: a painting worker of its own (its own
// threads and attachment) refreshed every 5 s as a window is, and at each event. Times
// from the person's mouse-up to the moment the stroke's last row reaches the window thread.
class OtherPc : public QObject {
public:
    OtherPc(const QString &database, int imageNo, const std::vector<int64_t> &ups)
        : ups_(ups)
    {
        session_ = worker_.Open(database, imageNo);
        connect(&worker_, &PaintWorker::Rows, this, [this](int id, const QVector<StrokeRow> &rows) {
            if (id != session_)
                return;
            const int64_t now = NowNs();
            for (const StrokeRow &r : rows) {
                if (r.mn != 1 || r.dn < 1)
                    continue;
                if (++points_[r.dn] == kPoints && size_t(r.dn) <= ups_.size())
                    drawnMs.push_back(double(now - ups_[size_t(r.dn) - 1]) / 1e6);
            }
        });
        refresh_.setInterval(5000);
        connect(&refresh_, &QTimer::timeout, this, [this] { worker_.Refresh(session_); });
        refresh_.start();
    }
    bool Listening(const QString &database) const { return worker_.Listening(database); }
    std::vector<double> drawnMs;

private:
    const std::vector<int64_t> &ups_;
    PaintWorker worker_;
    int session_ = 0;
    QTimer refresh_;
    std::map<int, int> points_;
};

// The person's rows (author 1) are what was drawn, in order, and N runs 1.. without gaps
// over everyone's rows.
QString CheckWindowRows(const QString &path, const QString &table, const std::vector<QPoint> &drawn,
                        int expectedTotal = -1)
{
    DataAccess db;
    db.ConnectDatabase(path);
    if (!db.IsConnected())
        return QStringLiteral("cannot connect to check the rows");
    std::vector<QPoint> mine;
    int n = 0;
    bool gapless = true;
    const int rows = db.ForEachRow(QStringLiteral("*"), table, QString(), QStringLiteral("N"),
                                   [&](const QStringList &r) {
                                       if (r[ImageTable::N].toInt() != ++n)
                                           gapless = false;
                                       if (r[ImageTable::MN].toInt() == 1)
                                           mine.emplace_back(r[ImageTable::X].toInt(),
                                                             r[ImageTable::Y].toInt());
                                   });
    if (!gapless)
        return QStringLiteral("N is not gapless");
    if (mine != drawn)
        return QStringLiteral("the window's rows (%1) are not the %2 points drawn")
            .arg(mine.size())
            .arg(drawn.size());
    if (expectedTotal >= 0 && rows != expectedTotal)
        return QStringLiteral("%1 rows, %2 expected").arg(rows).arg(expectedTotal);
    return QString();
}

// A port on 127.0.0.1 whose TCP handshake the kernel completes; nobody reads or answers.
class MuteListener {
public:
    MuteListener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
            && listen(fd_, 64) == 0 && getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~MuteListener()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

isc_db_handle attachRaw(const QByteArray &path)
{
    ISC_STATUS_ARRAY st;
    isc_db_handle db = 0;
    std::vector<char> dpb = {isc_dpb_version1};
    auto add = [&dpb](char tag, const char *s) {
        dpb.push_back(tag);
        dpb.push_back(static_cast<char>(strlen(s)));
        dpb.insert(dpb.end(), s, s + strlen(s));
    };
    add(isc_dpb_user_name, "SYSDBA");
    add(isc_dpb_password, "plumstone");
    if (isc_attach_database(st, 0, path.constData(), &db, static_cast<short>(dpb.size()), dpb.data())) {
        isc_print_status(st);
        return 0;
    }
    return db;
}

// 60 rows straight through the client library; autocommit: one transaction whose
// statements commit as they complete, else start, execute, commit per row.
double rawStrokeMs(const QByteArray &path, const QString &table, int firstN, bool autocommit)
{
    ISC_STATUS_ARRAY st;
    isc_db_handle db = attachRaw(path);
    if (!db)
        return -1;
    static const char autoTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                   isc_tpb_rec_version, isc_tpb_wait, isc_tpb_autocommit};
    const std::vector<QPoint> pts = strokePoints(firstN);
    bool ok = true;
    QElapsedTimer t;
    t.start();
    isc_tr_handle tr = 0;
    if (autocommit)
        ok = isc_start_transaction(st, &tr, 1, &db, sizeof autoTpb, autoTpb) == 0;
    for (int i = 0; ok && i < kPoints; ++i) {
        const QByteArray sql = QStringLiteral("INSERT INTO %1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) "
                                              "VALUES (%2, 1, 1, 2, 3, 255, %3, %4)")
                                   .arg(table)
                                   .arg(firstN + i)
                                   .arg(pts[size_t(i)].x())
                                   .arg(pts[size_t(i)].y())
                                   .toLatin1();
        if (!autocommit)
            ok = isc_start_transaction(st, &tr, 1, &db, 0, nullptr) == 0;
        ok = ok && isc_dsql_execute_immediate(st, &db, &tr, 0, sql.constData(), 3, nullptr) == 0;
        if (ok && !autocommit)
            ok = isc_commit_transaction(st, &tr) == 0;
    }
    if (ok && autocommit)
        ok = isc_commit_transaction(st, &tr) == 0;
    const double ms = t.nsecsElapsed() / 1e6;
    if (!ok) {
        isc_print_status(st);
        if (tr)
            isc_rollback_transaction(st, &tr);
    }
    isc_detach_database(st, &db);
    return ok ? ms : -1;
}

struct Gaps {
    qint64 oldestActive = 0, oldestSnapshot = 0, oldestInteresting = 0, next = 0;
};

Gaps readGaps(DataAccess &db)
{
    QStringList row(4);
    db.SelectFields(QStringLiteral("MON$OLDEST_TRANSACTION, MON$OLDEST_ACTIVE, MON$OLDEST_SNAPSHOT, "
                                   "MON$NEXT_TRANSACTION"),
                    QStringLiteral("MON$DATABASE"), QString(), row);
    db.EndQuery();
    return {row[1].toLongLong(), row[2].toLongLong(), row[0].toLongLong(), row[3].toLongLong()};
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows' stroke journal and settings stay in folders of this run.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // progress shows as it comes
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const bool together = app.arguments().contains(QStringLiteral("--together"));
    const bool eventsDropped = app.arguments().contains(QStringLiteral("--events-dropped"));
    if (eventsDropped)
        PortDrop::RemoveLeftovers();
    const int strokesPerWriter = quick ? 3 : 6;
    const int sessionStrokes = quick ? 60 : 400;
    const std::vector<int> roundTripsMs = {0, 2, 10};
    const std::vector<int> people = {1, 4, 8, 16};

    const QString dir = MakeServerFolder();
    const QString file = dir + QStringLiteral("PACE.FDB");
    const QString direct = QStringLiteral("localhost:") + file;
    DataAccess db;
    if (!CreateBenchDatabase(db, direct))
        return 1;

    // The program's windows, as its entry makes them, connected straight to the server;
    // painting windows reach it through the relay of the round trip measured.
    MainWindow::SettingFileOverride = state.filePath(QStringLiteral("none.dat"));
    AssignDefaultSettings();
    CreateApplicationWindows();
    mainWindow->show();
    ServerName = QStringLiteral("localhost:");
    ServerDataDir = dir;
    DatabaseName = QStringLiteral("PACE.FDB");
    mainWindow->ConnectDatabase();
    if (!mainWindow->IsConnected()) {
        std::printf("the main window cannot connect\n");
        return 1;
    }
    PcUserNo = 1;
    Heartbeat heartbeat;

    std::printf("human pace%s: %d-point strokes, a mouse move every %d ms, %d strokes per person, "
                "pause about 1.5 s, refresh every 5 s; the person measured draws in a real painting "
                "window, the others are writer processes; stall = largest gap of a 5 ms timer on "
                "the window thread; mouse-up to committed = to the worker's Stored signal\n",
                quick ? " (quick)" : "", kPoints, kMoveMs, strokesPerWriter);

    int tableNo = 0;
    bool allPassed = true;
    for (const int rtt : roundTripsMs) {
        DelayRelay relay;
        ServerName = QStringLiteral("localhost:");
        if (rtt > 0) {
            if (!relay.start(rtt * 500)) {
                std::printf("cannot start the relay\n");
                return 1;
            }
            ServerName = QStringLiteral("localhost/%1:").arg(relay.port());
        }
        const QString path = DatabasePath();
        std::printf("\nround trip %d ms%s\n", rtt, rtt ? " (through the delay relay)" : " (loopback)");
        std::unique_ptr<PortDrop> drop;
        if (eventsDropped) {
            drop = std::make_unique<PortDrop>(PortDrop::EventPorts(), std::vector<int>{relay.port()});
            if (!drop->Active()) {
                std::printf("cannot drop the events port: %s\n", drop->Error().c_str());
                return 1;
            }
            std::printf("  the server's events port (%s) dropped for this process\n", PortDrop::EventPorts().c_str());
        }

        // One stroke at a time in the window, against the two raw loops, taken in turns.
        if (!together) {
            const int imageNo = ++tableNo;
            const QString rawTable = QStringLiteral("RAW_%1").arg(imageNo);
            db.CreateImageTable(rawTable);
            int session = 0;
            PaintWindow *w = OpenWindow(imageNo, 640, 480, session);
            Person person(w, session, 0, 480, 7);
            std::vector<double> stalls, raw3, rawAuto, tripsWin, tripsRaw3, tripsAuto;
            const int repeats = quick ? 3 : 7;
            int rawN = 1;
            for (int r = 0; r < repeats; ++r) {
                int64_t before = relay.roundTrips();
                heartbeat.Reset();
                person.Stroke(strokePoints(r));
                if (!RunUntil([&] { return person.AllStored(); }, 60000))
                    std::printf("  (the stroke was not stored within 60 s!)\n");
                stalls.push_back(heartbeat.LongestMs());
                tripsWin.push_back(double(relay.roundTrips() - before));
                before = relay.roundTrips();
                raw3.push_back(rawStrokeMs(path.toLocal8Bit(), rawTable, rawN, false));
                tripsRaw3.push_back(double(relay.roundTrips() - before));
                rawN += kPoints;
                before = relay.roundTrips();
                rawAuto.push_back(rawStrokeMs(path.toLocal8Bit(), rawTable, rawN, true));
                tripsAuto.push_back(double(relay.roundTrips() - before));
                rawN += kPoints;
            }
            const double wm = Percentile(person.storedMs, 0.5), r3 = Percentile(raw3, 0.5),
                         ra = Percentile(rawAuto, 0.5), st = Percentile(stalls, 1.0);
            std::printf("  one %d-point stroke alone (median of %d): mouse-up to committed %.1f ms; "
                        "raw start/execute/commit loop %.1f ms; bare autocommit loop %.1f ms (ratio "
                        "%.2f); window's longest stall %.1f ms\n",
                        kPoints, repeats, wm, r3, ra, wm / ra, st);
            if (rtt > 0)
                std::printf("  round trips per stroke: window %.0f (mouse-up to stored), raw loop %.0f, "
                            "autocommit loop %.0f (the raw loops include attaching); relay late by "
                            "%.0f us on average\n",
                            Percentile(tripsWin, 0.5), Percentile(tripsRaw3, 0.5),
                            Percentile(tripsAuto, 0.5), relay.meanLateMicroseconds());
            std::printf("  mouse-up to its journal entry on disk: median %.2f ms, worst %.2f ms\n",
                        Percentile(person.journaledMs, 0.5), Percentile(person.journaledMs, 1.0));
            std::printf("TABLE|One %d-point stroke alone, round trip %d ms: mouse-up to committed|%.0f "
                        "ms; bare autocommit loop %.0f ms (ratio %.2f); raw 3-round-trip loop %.0f ms; "
                        "longest stall %.0f ms|at most 1.03x the autocommit loop\n",
                        kPoints, rtt, wm, ra, wm / ra, r3, st);
            delete w;
        }

        for (const int k : people) {
            const int imageNo = ++tableNo;
            LoadConfig c;
            c.serverPath = direct;
            c.writerPath = path;
            c.table = ImageTable::NameOf(imageNo);
            c.writers = k;
            c.firstWriter = 1; // the window's person, author 1, in band 0
            c.strokes = strokesPerWriter;
            c.points = kPoints;
            c.width = 640;
            c.height = 640;
            c.pauseMs = 1500;
            c.refreshMs = 5000;
            c.writerProgram = QStringLiteral(OEKAKI_STROKE_WRITER);
            c.timeoutSeconds = 900;
            std::atomic<bool> windowDone{false};
            c.elsewhereDone = &windowDone;
            db.CreateImageTable(c.table);

            int session = 0;
            PaintWindow *w = OpenWindow(imageNo, c.width, c.height, session);
            Person person(w, session, 0, c.height / k, quint32(100 + k * 7 + rtt));
            OtherPc other(path, imageNo, person.Ups());
            RunUntil([&] { return other.Listening(path); }, 3000);
            LoadOutcome o;
            QThread *writers = QThread::create([&] { o = RunSharedPainting(c); });
            writers->start();
            heartbeat.Reset();
            RunFor(person.uniform(0, c.pauseMs)); // people do not all start at once
            for (int s = 0; s < c.strokes; ++s) {
                person.RandomStroke();
                RunFor(person.uniform(c.pauseMs * 2 / 3, c.pauseMs * 4 / 3));
            }
            const bool stored = RunUntil([&] { return person.AllStored(); }, 180000);
            const double stall = heartbeat.LongestMs();
            // The other PC's last refresh comes at most 5 s later.
            RunUntil([&] { return other.drawnMs.size() == size_t(person.Strokes()); }, 12000);
            windowDone = true;
            RunUntil([&] { return writers->isFinished(); }, 1000000);
            writers->wait();
            delete writers;
            delete w;
            QStringList problems = o.problems;
            if (!stored)
                problems << QStringLiteral("the window's strokes were not all stored within 3 minutes");
            const QString mine = CheckWindowRows(direct, c.table, person.drawn);
            if (!mine.isEmpty())
                problems << mine;
            const bool passed = problems.isEmpty();
            allPassed = allPassed && passed;
            const std::vector<double> &m = person.storedMs;
            std::printf("  %2d people: window's longest stall %6.1f ms; mouse-up to committed median "
                        "%6.1f ms, 95th percentile %6.1f ms, worst %6.1f ms; writers' store median "
                        "%6.1f ms, 95th %6.1f ms; %d clashes; N gapless and every point once: %s\n",
                        k, stall, Percentile(m, 0.5), Percentile(m, 0.95), Percentile(m, 1.0),
                        Percentile(o.storeMs, 0.5), Percentile(o.storeMs, 0.95), o.clashes,
                        passed ? "yes" : "NO");
            for (const QString &p : problems)
                std::printf("    problem: %s\n", qPrintable(p));
            std::printf("      mouse-up to the journal entry on disk: median %.2f ms, worst %.2f ms\n",
                        Percentile(person.journaledMs, 0.5), Percentile(person.journaledMs, 1.0));
            std::printf("      mouse-up to drawn in another PC's painting window (%s): median %6.1f ms, "
                        "95th percentile %6.1f ms, %zu of %d strokes\n",
                        other.Listening(path) ? "events and the 5 s refresh" : "no events: the 1 s refresh",
                        Percentile(other.drawnMs, 0.5), Percentile(other.drawnMs, 0.95),
                        other.drawnMs.size(), person.Strokes());
            std::printf("TABLE|%d people, round trip %d ms: mouse-up to drawn on another PC|median %.0f, "
                        "95th percentile %.0f ms|95th percentile at most 200 ms\n",
                        k, rtt, Percentile(other.drawnMs, 0.5), Percentile(other.drawnMs, 0.95));
            std::printf("TABLE|%d people at a person's pace, round trip %d ms|longest stall %.0f ms; "
                        "mouse-up to committed median %.0f, 95th percentile %.0f, worst %.0f ms; "
                        "check %s|stall at most 50 ms%s\n",
                        k, rtt, stall, Percentile(m, 0.5), Percentile(m, 0.95), Percentile(m, 1.0),
                        passed ? "passed" : "FAILED",
                        k == 16 && rtt == 0 ? "; 95th percentile at most 200 ms" : "");
        }
        relay.stop();
    }

    if (together) {
        mainWindow->DisconnectDatabase();
        DestroyApplicationWindows();
        db.DisconnectDatabase();
        QDir(dir).removeRecursively();
        return allPassed ? 0 : 1;
    }
    // Network faults, each with a stroke in a fresh window.
    std::printf("\nnetwork faults (a 2 ms round trip through the relay)\n");
    {
        DelayRelay relay;
        relay.start(1000);
        ServerName = QStringLiteral("localhost/%1:").arg(relay.port());

        // Silent: the relay holds everything for 30 s while a stroke is being stored; a
        // second stroke is drawn meanwhile.
        {
            const int imageNo = ++tableNo;
            int session = 0;
            PaintWindow *w = OpenWindow(imageNo, 640, 480, session);
            Person person(w, session, 0, 480, 11);
            heartbeat.Reset();
            person.RandomStroke();
            QElapsedTimer silence;
            QTimer::singleShot(40, [&] {
                relay.pause();
                silence.start();
            });
            RunFor(5000);
            person.RandomStroke();
            RunUntil([&] { return silence.isValid() && silence.elapsed() >= 30000; }, 40000);
            relay.resume();
            QElapsedTimer sinceResume;
            sinceResume.start();
            const bool stored = RunUntil([&] { return person.AllStored(); }, 60000);
            const double afterResume = sinceResume.elapsed() / 1000.0;
            const double stall = heartbeat.LongestMs();
            QString problem = stored ? CheckWindowRows(direct, ImageTable::NameOf(imageNo), person.drawn,
                                                       2 * kPoints)
                                     : QStringLiteral("not stored within 60 s of the resume");
            allPassed = allPassed && problem.isEmpty();
            std::printf("  silent network for 30 s mid-stroke: window's longest stall %.1f ms; both "
                        "strokes stored, the first %.1f s after its mouse-up (%.1f s after the resume); %s\n",
                        stall, Percentile(person.storedMs, 1.0) / 1000,
                        afterResume,
                        problem.isEmpty() ? "every point once" : qPrintable(problem));
            std::printf("TABLE|Silent network (relay paused 30 s mid-stroke)|longest stall %.0f ms; "
                        "stored once %s|stall at most 100 ms\n",
                        stall, problem.isEmpty() ? "yes" : "NO");
            delete w;
        }

        // Locked row: another connection's uncommitted insert of the next N, for 10 s.
        {
            const int imageNo = ++tableNo;
            const QString table = ImageTable::NameOf(imageNo);
            int session = 0;
            PaintWindow *w = OpenWindow(imageNo, 640, 480, session);
            Person person(w, session, 0, 480, 13);
            ISC_STATUS_ARRAY st;
            isc_db_handle holder = attachRaw(direct.toLocal8Bit());
            isc_tr_handle tr = 0;
            const QByteArray sql = QStringLiteral("INSERT INTO %1 (N, MN, DN, PTYP, PSIZ, PCOL, X, Y) "
                                                  "VALUES (1, 9, 1, 0, 1, 0, 1, 1)")
                                       .arg(table)
                                       .toLatin1();
            const bool held = holder && isc_start_transaction(st, &tr, 1, &holder, 0, nullptr) == 0
                              && isc_dsql_execute_immediate(st, &holder, &tr, 0, sql.constData(), 3,
                                                            nullptr) == 0;
            heartbeat.Reset();
            person.RandomStroke();
            RunFor(10000);
            const bool waitedWhileHeld = !person.AllStored();
            if (tr)
                isc_rollback_transaction(st, &tr);
            if (holder)
                isc_detach_database(st, &holder);
            const bool stored = RunUntil([&] { return person.AllStored(); }, 60000);
            const double stall = heartbeat.LongestMs();
            QString problem = !held ? QStringLiteral("the lock could not be taken")
                              : !waitedWhileHeld ? QStringLiteral("stored while the row was locked")
                              : stored ? CheckWindowRows(direct, table, person.drawn, kPoints)
                                       : QStringLiteral("not stored within 60 s of the rollback");
            allPassed = allPassed && problem.isEmpty();
            std::printf("  row locked for 10 s by an uncommitted insert of the next N: window's "
                        "longest stall %.1f ms; stored %.1f s after mouse-up; %s\n",
                        stall, Percentile(person.storedMs, 1.0) / 1000,
                        problem.isEmpty() ? "every point once" : qPrintable(problem));
            std::printf("TABLE|Locked row (uncommitted insert of the next N, 10 s)|longest stall %.0f "
                        "ms; stored once %s|stall at most 100 ms\n",
                        stall, problem.isEmpty() ? "yes" : "NO");
            delete w;
        }
        relay.stop();
    }

    // A long session: does the server's oldest active transaction keep up?
    {
        const QString table = QStringLiteral("IMG_%1").arg(++tableNo);
        db.CreateImageTable(table);
        DataAccess windowDb, monitor;
        windowDb.ConnectDatabase(direct);
        monitor.ConnectDatabase(direct);
        QImage image(640, 480, QImage::Format_RGB32);
        StrokeStore store(windowDb, image);
        store.SetTable(table);
        store.Load();
        qint64 worstActive = 0, worstSnapshot = 0, worstInteresting = 0;
        Gaps last;
        store.beforeInsert = [&](int n) {
            if ((n - 1) % (kPoints * 20) != 0)
                return;
            last = readGaps(monitor);
            worstActive = std::max(worstActive, last.next - last.oldestActive);
            worstSnapshot = std::max(worstSnapshot, last.next - last.oldestSnapshot);
            worstInteresting = std::max(worstInteresting, last.next - last.oldestInteresting);
        };
        const Gaps first = readGaps(monitor);
        for (int s = 0; s < sessionStrokes; ++s)
            store.Store(1, {0, 2, 0}, strokePoints(s));
        const Gaps end = readGaps(monitor);
        std::printf("\nlong session: %d strokes of %d points by one window; transactions %lld -> %lld;"
                    " largest gap to the next transaction, read in mid-stroke: oldest active %lld,"
                    " oldest snapshot %lld, oldest interesting %lld\n",
                    sessionStrokes, kPoints, first.next, end.next, worstActive, worstSnapshot,
                    worstInteresting);
        std::printf("TABLE|Long session, %d rows: next minus oldest active transaction|at most %lld "
                    "(oldest snapshot %lld)|bounded, not growing with the rows\n",
                    sessionStrokes * kPoints, worstActive, worstSnapshot);
    }
    // Mute: a fresh painting window whose database server accepts and never answers. Last,
    // since the worker goes on trying to reach it.
    {
        MuteListener mute;
        ServerName = QStringLiteral("localhost/%1:").arg(mute.port());
        const int imageNo = ++tableNo;
        heartbeat.Reset();
        int session = 0;
        PaintWindow *w = OpenWindow(imageNo, 640, 480, session, 200);
        Person person(w, session, 0, 480, 17);
        person.RandomStroke();
        RunFor(quick ? 15000 : 25000);
        const double stall = heartbeat.LongestMs();
        std::printf("\nmute server (accepts, never answers) as the address of a fresh opening, "
                    "watched for %d s with a stroke drawn: window's longest stall %.1f ms\n",
                    quick ? 15 : 25, stall);
        std::printf("TABLE|Mute server as the address of a fresh opening|longest stall %.0f ms|stall "
                    "at most 100 ms\n",
                    stall);
        delete w;
        ServerName = QStringLiteral("localhost:");
    }
    mainWindow->DisconnectDatabase();
    DestroyApplicationWindows();
    db.DisconnectDatabase();
    QDir(dir).removeRecursively();
    return allPassed ? 0 : 1;
}
