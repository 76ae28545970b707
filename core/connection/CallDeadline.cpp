#include "core/connection/CallDeadline.h"

#include "db/DataAccess.h"

void CutAllDatabaseCalls()
{
    DataAccess::CancelAllCalls();
}

void ShortenDatabaseReplies(int milliseconds)
{
    DataAccess::ShortenReplyTimeout(milliseconds);
}
