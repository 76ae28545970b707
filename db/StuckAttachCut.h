#pragma once
// An attach that hangs after the server's first reply has no time limit in the client
// library, and no handle the watchdog could cut it by. Given up, its thread would wait
// forever; this closes the line it waits on, so that the attach fails and the thread
// ends. The line is found from what the thread is blocked in (Linux's
// /proc/self/task/<tid>/syscall) and must be a TCP connection to that server's port.
// Threads: any thread; `tid` is the blocked thread's kernel id.

#include <QByteArray>
#include <sys/types.h>

namespace isc {

// The calling thread's kernel id.
pid_t CurrentThreadId();
// Shuts the line down both ways (not closed: the client library still owns it); false
// when the thread is not waiting on a connection to the server `path` names.
bool CutLineThreadWaitsOn(pid_t tid, const QByteArray &path);

} // namespace isc
