#pragma once
// The reply deadline of every database call of the process, for the layers above core/,
// which do not reach db/ themselves. Any thread.

// Cuts every call in progress now, as its deadline would.
void CutAllDatabaseCalls();
// From now on every call gets at most this long without an answer.
void ShortenDatabaseReplies(int milliseconds);
