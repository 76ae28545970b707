#pragma once
// Database commands answer later: the main-db thread runs them and the answer comes back
// as an event. Tests that call a handler wait with this before they look at the outcome.

class MainDb;

// Processes events until every request of `db` has been answered and the answers (and
// what they asked in turn) delivered; false, with a failure naming the wait, after boundMs.
bool WaitForAnswers(MainDb &db, int boundMs = 15000);
// The same for the main window's connection (true when there is no main window).
bool WaitForDbAnswers(int boundMs = 15000);
