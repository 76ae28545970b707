#pragma once
// One run of the live-pen bench: K PCs on one picture, D of them drawing, through one delay
// relay, with the old pacing or the new; what the people saw and what the server spent.

#include "live/LivePc.h"

#include <QString>
#include <vector>

class DelayRelay;

namespace live {

struct Mix {
    int people = 2;
    int drawers = 2;
    bool eventsDropped = false; // no events: the one-second refresh
};

struct Figures {
    std::vector<double> penMs;         // each drawer's point to each other PC's window thread
    double worstDrawerPenP95 = 0;      // the 95th percentile of the drawer worst off
    // The pen's way in three steps: the point waits for its hand-over; handed over to its
    // row committed and back at the drawer (journal, the block's turn, the block); back to
    // drawn at another PC (the event, that PC's refresh; the commit's answer and the event
    // leave the server together).
    std::vector<double> waitMs, commitMs, otherMs;
    std::vector<double> upStoredMs;    // mouse-up to Stored at the drawer
    std::vector<double> upDrawnMs;     // mouse-up to the stroke's last row at another PC
    double stallMs = 0;                // the longest stall of any PC's window thread
    double serverCpu = 0;              // % of one core, over the run
    double benchCpu = 0;               // this process (every PC's threads, the relay)
    double blocksPerDrawer = 0;        // store statements per second (own rows' deliveries)
    double tripsPerPc = 0;             // round trips per second per PC
    double relayLateMs = 0;            // the relay's mean lateness
    double seconds = 0;
    QString problem;                   // empty: every point once, in order, N gapless
};

Figures RunMix(const QString &database, const QString &direct, DelayRelay &relay, int imageNo, const Mix &mix,
               Pacing pacing, int strokes, int points, int sliceMs);

} // namespace live
