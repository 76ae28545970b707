#include "core/catalogue/PresenceRequests.h"

#include "core/presence/PresenceRead.h"

DbRequest<PresenceRoster> ReadOpenPictures()
{
    return {true, [](DataAccess &db) { return ReadPresence(db); }};
}
