#pragma once
// The presence read on an attachment of the caller's: one statement over the server's
// monitoring tables (MON$ATTACHMENTS joined with MON$CONTEXT_VARIABLES) and the names of
// the members it finds, from MEMBER. Each read builds the server's monitoring snapshot of
// every attachment, so callers read on a change, not on a clock tick of every window.

#include "core/presence/PresenceRoster.h"

#include <QHash>
#include <QList>

class DataAccess;

// ok = false when the monitoring tables could not be read; a missing MEMBER table leaves
// the names empty and the read ok. No transaction is left open (the snapshot goes with it).
PresenceRoster ReadPresence(DataAccess &db);
// The names of those members that MEMBER holds.
QHash<int, QString> ReadMemberNames(DataAccess &db, const QList<int> &members);
