#pragma once
// The end of the program, the same for its exit command and for the end of the desktop
// session: once the settings are written, every stroke handed over is made durable in
// the journal, then the process ends at once. No thread is joined, no connection
// detached, no exit handler of the client library run: any of them may wait for a
// server that does not answer. The server drops the connections that go away.
// Threads: called on the window thread; it does not return.

#include <functional>

// Ends the process with `rc` once the journal holds every stroke handed over so far.
[[noreturn]] void EndProcess(int rc);

// The journal's side of the end. `handOff(rc)` is called once, on the window thread, by
// EndProcess; it arranges for EndProcessNow(rc) to be called (from any thread) once
// every journal entry asked for before it is written and synced, and returns at once.
// Without one, the journal is complete already (its entries are written as strokes are
// handed over).
void SetJournalHandOff(std::function<void(int rc)> handOff);

// Ends the process now: the standard streams are flushed, then _exit. Any thread.
[[noreturn]] void EndProcessNow(int rc);

// Seconds after which the process ends whatever the journal does (a network home folder
// that stopped answering): the settings are written by then.
inline constexpr unsigned EndProcessLastResortSeconds = 10;
