// Several writers, each a separate process with its own connection, draw on one
// picture at the same time through the local server, refreshing as they go.

#include "TestDatabase.h"

#include "writer/LoadRun.h"

#include <gtest/gtest.h>

TEST(SharedPainting, FourWritersStoreEveryPointOnceAndDrawTheSamePicture)
{
    TestDatabase t;
    ASSERT_TRUE(t.created());
    LoadConfig config;
    config.serverPath = t.serverPath();
    config.writers = 4;
    config.strokes = 20;
    config.points = 15;
    config.writerProgram = QStringLiteral(OEKAKI_STROKE_WRITER);
    config.timeoutSeconds = 300;

    const LoadOutcome o = RunSharedPainting(config);
    EXPECT_TRUE(o.problems.isEmpty()) << qPrintable(o.problems.join(QLatin1Char('\n')));
    EXPECT_EQ(o.storedRows, o.expectedRows);
    EXPECT_TRUE(o.gapless);
    EXPECT_TRUE(o.everyPointOnce);
    EXPECT_EQ(o.bitmapsEqualToReplay, config.writers);
    RecordProperty("clashes", o.clashes);
    std::printf("shared painting: %d writers, %d points, %d clashes, %.1f s\n", config.writers,
                o.expectedRows, o.clashes, o.seconds);
}
