#pragma once
// A TCP relay on the loopback address that holds back every byte, in each direction,
// for a set time before passing it on: a slow network in front of the local server.
// The program reaches the server through it as "localhost/<port>:".

#include <atomic>
#include <cstdint>
#include <thread>

class DelayRelay {
public:
    DelayRelay() = default;
    ~DelayRelay() { stop(); }
    DelayRelay(const DelayRelay &) = delete;
    DelayRelay &operator=(const DelayRelay &) = delete;

    // Listens on 127.0.0.1:listenPort (0: any free port) and forwards each connection to
    // 127.0.0.1:targetPort, each direction delayed by oneWayMicroseconds. False on failure.
    bool start(int oneWayMicroseconds, int targetPort = 3050, int listenPort = 0);
    void stop();
    int port() const { return port_; }
    // Any thread: the delay of bytes read from now on.
    void setDelay(int oneWayMicroseconds) { delayNs_ = int64_t(oneWayMicroseconds) * 1000; }
    // Any thread. Pause: nothing more is passed on in either direction and no new
    // connection is taken, but nothing is closed (a silent network, a server that lost
    // power). Resume: what was held goes on, late.
    void pause();
    void resume();
    bool paused() const { return paused_.load(); }

    // Any thread. A lost reply: the next request a client sends after this call (its first
    // read of at least minBytes, on any connection) still reaches the server, but none of
    // the answer reaches the client. Once the server starts answering, its bytes are dropped
    // for graceMs more (whatever else it does with the request gets done), then the
    // connection is cut on both sides. One cut per call; smaller requests pass as usual.
    // `skip` requests (of any size) pass first: the cut lands on the request after them.
    void CutAfterNextRequest(int minBytes = 1, int graceMs = 100, int skip = 0);
    // Any thread. A lost reply to the request that follows the next one of at least
    // minBytes on the same connection (a change's commit, after its statement): it still
    // reaches the server, its answer does not reach the client, and the connection is cut
    // graceMs after the server began answering. One cut per call.
    void CutRequestAfter(int minBytes, int graceMs = 100);
    // Any thread. A half-cut line: the next request of at least minBytes reaches the server,
    // nothing of its answer reaches the client, and afterMs after the request the client's
    // side is reset while the server's stays open (the server learns nothing of the cut and
    // goes on with the request; what it says is read and dropped). One cut per call.
    void HalfCutAfterNextRequest(int minBytes, int afterMs);
    // Any thread. Cuts every connection now, both sides at once (a router that dropped
    // them); new ones are taken as usual.
    void cutAll();
    // Connections cut that way so far.
    int64_t cuts() const { return cuts_.load(); }

    // Any thread. Half-open: each connection taken from now on passes the server's first
    // reply (the answer to the client's connect request) and then goes silent both ways,
    // closing nothing: a server that hangs right after the handshake. Off: connections
    // taken later pass as usual.
    void setHalfOpen(bool on) { halfOpen_ = on; }
    // Any thread. Half-open at once: every connection open now goes silent too (what either
    // side says is read and dropped, nothing is closed), and later ones as setHalfOpen(true).
    void silenceAll();
    // Connections that went silent that way so far.
    int64_t silenced() const { return silenced_.load(); }

    // Times a client turned from listening to talking: one per round trip it waited for.
    int64_t roundTrips() const { return roundTrips_.load(); }
    // How late, on average and at worst, held bytes went out after their due time.
    double meanLateMicroseconds() const;
    int64_t worstLateMicroseconds() const { return worstLateUs_.load(); }

private:
    void run();
    void wake();

    int listenFd_ = -1;
    int wakeFd_ = -1;
    int port_ = 0;
    int targetPort_ = 3050;
    std::atomic<int64_t> delayNs_{0};
    std::thread thread_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<int64_t> roundTrips_{0};
    std::atomic<int64_t> lateSumUs_{0};
    std::atomic<int64_t> lateCount_{0};
    std::atomic<int64_t> worstLateUs_{0};
    // The cut armed and not yet aimed at a connection (0: none), its size and grace.
    std::atomic<int> cutMinBytes_{0};
    std::atomic<int> cutGraceMs_{0};
    std::atomic<int> cutSkip_{0};
    std::atomic<int> cutAfterBytes_{0};
    std::atomic<bool> cutAll_{false};
    std::atomic<bool> silenceAll_{false};
    std::atomic<int> halfCutMinBytes_{0};
    std::atomic<int> halfCutAfterMs_{0};
    std::atomic<int64_t> cuts_{0};
    std::atomic<bool> halfOpen_{false};
    std::atomic<int64_t> silenced_{0};
};
