#pragma once
// One PC of the live-pen bench: a painting worker (its own journal, database and events
// threads, its own attachments) with the picture open, on a thread of its own that stands
// for the PC's window thread, with that thread's stall measured. A drawing PC draws
// strokes of random moves in its band and hands them over as the painting window does,
// with the old pacing or the new; every PC notes when each row of another's arrives.
// Threads: made and used on its own thread; the run reads what it noted only once
// Finished() holds and the thread has stopped drawing.

#include "core/painting/PaintWorker.h"
#include "measure/Measures.h"

#include <QObject>
#include <QPoint>
#include <QRandomGenerator>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace live {

enum class Pacing {
    // As before: a block every 100 ms while drawn, the next only once the last was taken
    // (at once when that took longer).
    Clock,
    // Slices every PaintWorker::SliceMs whether or not a block is in flight; the database
    // thread sends as the line allows.
    Line,
};

struct PcPlan {
    QString database;
    int imageNo = 0;
    int user = 0;      // MN, 1..
    bool draws = false;
    Pacing pacing = Pacing::Line;
    int strokes = 3;
    int points = 150;  // a move every MoveMs
    int top = 0, bottom = 480;
    int sliceMs = PaintWorker::SliceMs; // the new pacing's slices
};

// A row of another PC's stroke as it reached this PC's window thread.
struct Arrival {
    int mn = 0, dn = 0, index = 0; // index: the point's place in its stroke
    int64_t ns = 0;
};

class LivePc : public QObject {
public:
    static constexpr int MoveMs = 10;  // between two mouse moves
    static constexpr int ClockMs = 100; // the old pacing's period

    explicit LivePc(const PcPlan &plan);
    ~LivePc() override;

    // This thread: waits until attached and the picture drawn (and, when asked, listening).
    bool Ready(bool events, int ms);
    void Start();
    void Stop() { worker_.Stop(); }
    bool Finished() const { return finished_.load(); }
    // Any thread: rows of other PCs' strokes arrived so far.
    int Arrived() const { return arrived_.load(); }

    // Read once finished.
    std::vector<std::vector<int64_t>> strokeMoves; // per own stroke (DN - 1): each point's move time
    std::vector<std::vector<int64_t>> strokeHanded; // ... when it was handed to the worker
    std::vector<std::vector<int64_t>> strokeBack;   // ... when its committed row came back here
    std::vector<int64_t> ups, stored;               // per own stroke: mouse-up, Stored
    std::vector<QPoint> drawn;
    std::vector<Arrival> arrivals;
    int blocks = 0;      // hand-overs of the old pacing, slices of the new
    int storeAnswers = 0; // deliveries holding own committed rows: about one per store statement
    double StallMs() const { return heartbeat_ ? heartbeat_->LongestMs() : 0; }
    void ResetStall()
    {
        if (heartbeat_)
            heartbeat_->Reset();
    }

private:
    void step();
    void hand(bool last);
    void checkFinished();

    PcPlan plan_;
    PaintWorker worker_;
    int session_ = 0;
    QRandomGenerator rng_;
    QTimer move_, slice_, refresh_;
    std::unique_ptr<measure::Heartbeat> heartbeat_;
    bool drawing_ = false;
    int64_t pauseUntil_ = 0;
    int x_ = 0, y_ = 0;
    std::vector<QPoint> pen_;
    size_t handed_ = 0;
    quint64 tag_ = 0, nextTag_ = 1;
    bool inFlight_ = false;
    int64_t lastHandNs_ = 0;
    std::vector<int> seen_; // per (mn, dn): rows of it arrived, flattened as mn * 64 + dn
    std::atomic<bool> finished_{false};
    std::atomic<int> arrived_{0};
};

// A LivePc on a thread of its own: made, asked and ended there.
class PcThread {
public:
    explicit PcThread(const PcPlan &plan);
    ~PcThread(); // stops the worker, ends the thread and waits for it
    // Runs `f(pc)` on the PC's thread and waits for it.
    template <class F> auto Call(F &&f)
    {
        decltype(f(*pc_)) out{};
        QMetaObject::invokeMethod(anchor_.get(), [&] { out = f(*pc_); }, Qt::BlockingQueuedConnection);
        return out;
    }
    LivePc &Pc() { return *pc_; }

private:
    class QThread *thread_ = nullptr;
    std::unique_ptr<QObject> anchor_;
    LivePc *pc_ = nullptr;
};

} // namespace live
