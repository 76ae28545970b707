#include "DbAnswers.h"

#include "StallMeter.h"
#include "app/MainWindow.h"
#include "core/MainDb.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

bool WaitForAnswers(MainDb &db, int boundMs)
{
    // An answer is posted before its request stops counting, so one more pass of the
    // events delivers it; it may ask again, hence the second look.
    const bool answered = WaitUntil(
        [&db] {
            if (db.Pending() > 0)
                return false;
            QCoreApplication::processEvents();
            return db.Pending() == 0;
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
