#pragma once
// Whether the server a database path names can be reached, asked over TCP with a
// time limit of our own (the client library waits minutes for an unreachable host).

#include <QByteArray>

namespace isc {

// The host and port a database path names ("host:", "host/port:", "inet://host:port/");
// false for a local path.
bool RemoteServerOf(const QByteArray &path, QByteArray &host, QByteArray &port);
// False only when the server a remote path names has not completed a TCP handshake,
// or not replied to a connection request, within the time. attach() checks the
// handshake itself (the client library would wait for the kernel's give-up, over two
// minutes, whatever time-out item it is given); call this before CREATE DATABASE,
// which has no time-out item at all.
// The account is the one the caller will use: a refused login is answered slowly.
bool ServerAnswers(const QByteArray &path, int timeoutSeconds, const QByteArray &user = QByteArray(),
                   const QByteArray &password = QByteArray());
// False only when a remote server has not completed a TCP handshake within the time.
// Every address the name resolves to is tried in turn, within the one time limit.
bool HandshakeAnswers(const QByteArray &path, int timeoutSeconds);
bool HandshakeAnswersWithin(const QByteArray &path, int timeoutMs);

} // namespace isc
