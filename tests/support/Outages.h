#pragma once
// Network faults on 127.0.0.1 for the bounded-wait tests, without touching the server.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <vector>

// A port that completes the TCP handshake and then never says a word (the kernel
// takes the connections into the backlog; nobody accepts them).
class MuteListener {
public:
    MuteListener();
    ~MuteListener();
    MuteListener(const MuteListener &) = delete;
    MuteListener &operator=(const MuteListener &) = delete;
    int port() const { return port_; }
    // Fills the accept queue, so that later handshakes are not answered either.
    void FillBacklog();

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// Sockets this process has open now (from /proc/self/fd).
int OpenSockets();

// Another client (isql) that has run `statement` and neither commits nor rolls back
// until the object goes: its rows stay locked meanwhile.
class UncommittedChange {
public:
    // `then`: isql commands run after the statement by themselves (a timed COMMIT, say).
    UncommittedChange(const QString &serverPath, const QByteArray &statement, const QByteArray &then = {});
    ~UncommittedChange();
    // True once the statement has run (within 20 s).
    bool ready() const { return ready_; }
    // What isql said (for the failure message).
    QString output() { return QString::fromLocal8Bit(isql_.readAll()); }

private:
    QProcess isql_;
    bool ready_ = false;
};

// This process's events lines open now (its connections to the server's events ports: to
// 127.0.0.1, neither to 3050 nor from or to a port this process listens on) go silent both ways while
// the object lives: every packet is dropped, nothing is closed, neither side notices (a line
// cut under an armed wait). Later connections pass. Needs root and iptables; the rules carry
// the process's PortDrop tag, so a run that dies leaves none for long.
class SilencedEventLines {
public:
    SilencedEventLines();
    ~SilencedEventLines();
    SilencedEventLines(const SilencedEventLines &) = delete;
    SilencedEventLines &operator=(const SilencedEventLines &) = delete;
    int Lines() const { return int(ports_.size()); }
    QString Error() const { return error_; }

private:
    std::vector<int> ports_; // the lines' local ports
    QStringList rules_;
    QString error_;
};
