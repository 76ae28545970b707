#include "DelayRelay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int64_t nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void tune(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

struct Chunk {
    int64_t due;
    std::string bytes;
    size_t sent = 0;
};

// One direction of a connection.
struct Flow {
    int from = -1, to = -1;
    std::deque<Chunk> held;
    bool eof = false;     // the sender has closed its side
    bool closed = false;  // passed on to the receiver
};

struct Link {
    Flow up, down; // client to server, server to client
    bool clientTalking = false;
    // A lost reply: the request was let through; the answer is dropped, and the
    // connection cut at cutAt once the server has begun answering (0: not yet).
    bool doomed = false;
    int64_t graceNs = 0;
    int64_t cutAt = 0;
    // Half-open: the server's first reply passes, then nothing more either way.
    bool halfOpen = false;
    bool silent = false;
    // This request passes whole: the armed cut waits for a later one.
    bool passRequest = false;
    // The next request is the one whose answer is lost (see CutRequestAfter).
    bool cutNext = false;
    // A half-cut: the server's answers are dropped, and at halfCutAt (0: none) the client's
    // side is reset, the server's left open.
    bool halfCut = false;
    int64_t halfCutAt = 0;
    bool done() const { return up.closed && down.closed; }
};

} // namespace

bool DelayRelay::start(int oneWayMicroseconds, int targetPort, int listenPort)
{
    stop();
    signal(SIGPIPE, SIG_IGN);
    delayNs_ = int64_t(oneWayMicroseconds) * 1000;
    targetPort_ = targetPort;
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(listenPort);
    socklen_t len = sizeof a;
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listenFd_, 64) != 0
        || getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    fcntl(listenFd_, F_SETFL, fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
    port_ = ntohs(a.sin_port);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void DelayRelay::wake()
{
    const uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!write(wakeFd_, &one, sizeof one);
}

void DelayRelay::pause()
{
    paused_ = true;
    wake();
}

void DelayRelay::resume()
{
    paused_ = false;
    wake();
}

void DelayRelay::CutRequestAfter(int minBytes, int graceMs)
{
    cutGraceMs_ = std::max(graceMs, 0);
    cutAfterBytes_ = std::max(minBytes, 1);
    wake();
}

void DelayRelay::CutAfterNextRequest(int minBytes, int graceMs, int skip)
{
    cutGraceMs_ = std::max(graceMs, 0);
    cutSkip_ = std::max(skip, 0);
    cutMinBytes_ = std::max(minBytes, 1);
    wake();
}

void DelayRelay::HalfCutAfterNextRequest(int minBytes, int afterMs)
{
    halfCutAfterMs_ = std::max(afterMs, 0);
    halfCutMinBytes_ = std::max(minBytes, 1);
    wake();
}

void DelayRelay::silenceAll()
{
    halfOpen_ = true;
    silenceAll_ = true;
    wake();
}

void DelayRelay::cutAll()
{
    cutAll_ = true;
    wake();
}

void DelayRelay::stop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    if (listenFd_ >= 0)
        close(listenFd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

double DelayRelay::meanLateMicroseconds() const
{
    const int64_t n = lateCount_.load();
    return n ? double(lateSumUs_.load()) / double(n) : 0.0;
}

void DelayRelay::run()
{
    std::vector<std::unique_ptr<Link>> links;
    std::vector<pollfd> fds;
    std::vector<Flow *> owner; // per pollfd: the flow it reads from or writes to
    std::vector<char> buf(1 << 16);

    auto readInto = [&](Flow &f, Link &l, bool fromClient) {
        for (;;) {
            const ssize_t got = recv(f.from, buf.data(), buf.size(), 0);
            if (got > 0) {
                if (l.silent)
                    continue; // read and dropped: the other side hears nothing
                if (!fromClient && l.halfOpen) {
                    l.silent = true;
                    ++silenced_;
                }
                const bool newRequest = fromClient && !l.clientTalking;
                if (newRequest)
                    ++roundTrips_;
                l.clientTalking = fromClient;
                if (newRequest && l.cutNext) {
                    l.cutNext = false;
                    l.doomed = true;
                    l.graceNs = int64_t(cutGraceMs_.load()) * 1000000;
                } else if (newRequest) {
                    int after = cutAfterBytes_.load();
                    if (after > 0 && got >= after && cutAfterBytes_.compare_exchange_strong(after, 0))
                        l.cutNext = true;
                }
                if (newRequest && cutMinBytes_.load() > 0) {
                    int skip = cutSkip_.load();
                    if (skip > 0 && cutSkip_.compare_exchange_strong(skip, skip - 1))
                        l.passRequest = true;
                }
                if (!fromClient && l.halfCut)
                    continue;
                if (fromClient && !l.halfCut) {
                    int armed = halfCutMinBytes_.load();
                    if (armed > 0 && got >= armed && halfCutMinBytes_.compare_exchange_strong(armed, 0)) {
                        l.halfCut = true;
                        l.halfCutAt = nowNs() + int64_t(halfCutAfterMs_.load()) * 1000000;
                    }
                }
                if (!fromClient)
                    l.passRequest = false;
                if (!fromClient && l.doomed) {
                    if (l.cutAt == 0)
                        l.cutAt = nowNs() + l.graceNs;
                    continue; // the answer never reaches the client
                }
                if (fromClient && !l.doomed && !l.passRequest) {
                    int armed = cutMinBytes_.load();
                    if (armed > 0 && got >= armed && cutMinBytes_.compare_exchange_strong(armed, 0)) {
                        l.doomed = true;
                        l.graceNs = int64_t(cutGraceMs_.load()) * 1000000;
                    }
                }
                f.held.push_back({nowNs() + delayNs_, std::string(buf.data(), size_t(got))});
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR))
                f.eof = true;
            if (got < 0 && errno == EINTR)
                continue;
            return;
        }
    };
    auto passOn = [&](Flow &f) {
        const int64_t now = nowNs();
        while (!f.held.empty() && f.held.front().due <= now) {
            Chunk &c = f.held.front();
            if (c.sent == 0) {
                const int64_t late = (now - c.due) / 1000;
                lateSumUs_ += late;
                ++lateCount_;
                if (late > worstLateUs_)
                    worstLateUs_ = late;
            }
            const ssize_t put = send(f.to, c.bytes.data() + c.sent, c.bytes.size() - c.sent, MSG_NOSIGNAL);
            if (put < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return;
                f.held.clear();
                f.eof = true;
                break;
            }
            c.sent += size_t(put);
            if (c.sent < c.bytes.size())
                return;
            f.held.pop_front();
        }
        if (f.eof && f.held.empty() && !f.closed) {
            shutdown(f.to, SHUT_WR);
            f.closed = true;
        }
    };

    for (;;) {
        fds.clear();
        owner.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        owner.push_back(nullptr);
        fds.push_back({listenFd_, POLLIN, 0});
        owner.push_back(nullptr);
        int64_t next = -1;
        const int64_t now = nowNs();
        const bool paused = paused_.load();
        if (paused)
            fds[1].events = 0; // new connections wait in the backlog, handshake done
        for (auto &l : links) {
            if (paused)
                continue;
            if (l->cutAt > 0 && (next < 0 || l->cutAt < next))
                next = l->cutAt;
            if (l->halfCutAt > 0 && (next < 0 || l->halfCutAt < next))
                next = l->halfCutAt;
            for (Flow *f : {&l->up, &l->down}) {
                if (!f->eof) {
                    fds.push_back({f->from, POLLIN, 0});
                    owner.push_back(f);
                }
                if (!f->held.empty()) {
                    const int64_t due = f->held.front().due;
                    if (due <= now) {
                        fds.push_back({f->to, POLLOUT, 0});
                        owner.push_back(f);
                    } else if (next < 0 || due < next) {
                        next = due;
                    }
                }
            }
        }
        timespec wait{};
        if (next >= 0) {
            const int64_t left = std::max<int64_t>(next - now, 0);
            wait.tv_sec = left / 1000000000;
            wait.tv_nsec = left % 1000000000;
        }
        const int r = ppoll(fds.data(), fds.size(), next >= 0 ? &wait : nullptr, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents) {
            uint64_t count = 0;
            (void)!read(wakeFd_, &count, sizeof count);
            if (stopping_.load())
                break;
            if (silenceAll_.exchange(false)) {
                for (auto &l : links) {
                    l->silent = true;
                    l->up.held.clear();
                    l->down.held.clear();
                    ++silenced_;
                }
            }
            if (cutAll_.exchange(false)) {
                const linger abort{1, 0};
                for (auto &l : links) {
                    setsockopt(l->up.from, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    setsockopt(l->up.to, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                    close(l->up.from);
                    close(l->up.to);
                    ++cuts_;
                }
                links.clear();
            }
            continue;
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int c = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0)
                    break;
                const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in target = loopback(targetPort_);
                if (s < 0 || connect(s, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
                    if (s >= 0)
                        close(s);
                    close(c);
                    continue;
                }
                tune(c);
                tune(s);
                auto l = std::make_unique<Link>();
                l->halfOpen = halfOpen_.load();
                l->up.from = l->down.to = c;
                l->up.to = l->down.from = s;
                links.push_back(std::move(l));
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents || !owner[i])
                continue;
            Flow &f = *owner[i];
            if (fds[i].events & POLLIN) {
                for (auto &l : links)
                    if (&l->up == &f || &l->down == &f) {
                        readInto(f, *l, &f == &l->up);
                        break;
                    }
            }
        }
        for (auto &l : links) {
            if (paused_.load())
                break;
            passOn(l->up);
            passOn(l->down);
        }
        const int64_t cutNow = nowNs();
        for (auto it = links.begin(); it != links.end();) {
            Link &l = **it;
            if (l.cutAt > 0 && l.cutAt <= cutNow && !paused_.load()) {
                // Both sides at once: the client sees its connection broken mid-answer,
                // the server a client gone after the request.
                const linger abort{1, 0};
                setsockopt(l.up.from, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                l.up.closed = l.down.closed = true;
                ++cuts_;
            }
            if (l.halfCutAt > 0 && l.halfCutAt <= cutNow && !paused_.load()) {
                // Only the client's side: reset, with nothing said to the server.
                const linger abort{1, 0};
                setsockopt(l.up.from, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                close(l.up.from);
                l.up.from = l.down.to = -1;
                l.up.eof = l.up.closed = true;
                l.up.held.clear();
                l.down.held.clear();
                l.halfCutAt = 0;
                ++cuts_;
            }
            if ((*it)->done()) {
                close((*it)->up.from);
                close((*it)->up.to);
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &l : links) {
        close(l->up.from);
        close(l->up.to);
    }
}
