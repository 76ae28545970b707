#pragma once
// Who has which picture open, read on the main-db thread for the image list: its marks,
// and the names it gives when a picture's strokes cannot be deleted.

#include "core/connection/MainDb.h"
#include "core/presence/PresenceRoster.h"

// One presence read (ok false when the monitoring tables could not be read).
DbRequest<PresenceRoster> ReadOpenPictures();
