#include "DbAnswers.h"

#include "StallMeter.h"
#include "app/MainWindow.h"
#include "core/connection/MainDb.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

bool WaitForAnswers(MainDb &db, int boundMs)
{
    // An answer is posted before its request stops counting, so one more pass of the
    // events delivers it; it may ask again, and what it shows may post events that ask
    // again (a current row that changes), hence two quiet passes.
    int quiet = 0;
    const bool answered = WaitUntil(
        [&db, &quiet] {
            if (db.Pending() > 0) {
                quiet = 0;
                return false;
            }
            QCoreApplication::processEvents();
            quiet = db.Pending() == 0 ? quiet + 1 : 0;
            return quiet >= 2;
        },
        boundMs);
    if (!answered)
        ADD_FAILURE() << "database commands still unanswered after " << boundMs << " ms: " << db.Pending();
    return answered;
}

bool WaitForDbAnswers(int boundMs)
{
    return !mainWindow || WaitForAnswers(mainWindow->Database(), boundMs);
}
