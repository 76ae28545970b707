#include "windows/DatabaseSettingsDialog.h"

#include <gtest/gtest.h>

TEST(DatabaseNameExtension, UpperCasedAndFdbOnlyWithoutExtension)
{
    const struct {
        const char *typed, *stored;
    } cases[] = {
        {"paint", "PAINT.FDB"},
        {"paint.gdb", "PAINT.GDB"},
        {"PAINT.", "PAINT."},
        {" paint ", " PAINT .FDB"},
        {"a.b\\paint", "A.B\\PAINT.FDB"},
        {"a.b/paint", "A.B/PAINT.FDB"},
        {"x.y:paint", "X.Y:PAINT.FDB"},
        {"dir\\p.fdb", "DIR\\P.FDB"},
        {"a.b.c", "A.B.C"},
        {".hidden", ".HIDDEN"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DatabaseNameWithExtension(QString::fromUtf8(c.typed)), QString::fromUtf8(c.stored))
            << c.typed;
}
