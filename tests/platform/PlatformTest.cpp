#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

namespace {

using namespace Tavo::Platform;

TEST(Platform, MonotonicClockNeverGoesBackwards) {
    std::int64_t previous = MonotonicNanoseconds();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = MonotonicNanoseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

// A program that offers no development clock (every real host, and this test)
// gets the system's clocks.
TEST(Platform, ClocksAreTheSystemsWithoutADevelopmentHost) {
    EXPECT_FALSE(UsingDevClock());
    using Units = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    const std::int64_t system =
        std::chrono::duration_cast<Units>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_LT(std::llabs(WallClock100ns() - system), 10'000'000);  // within a second
    const CalendarTime local = LocalTimeNow();
    EXPECT_GE(local.year, 2024);
    EXPECT_TRUE(local.month >= 1 && local.month <= 12 && local.millisecond < 1000);
    EXPECT_NE(HighResolutionFrequency(), 0u);
}

TEST(Platform, UtcFromSecondsBreaksDownKnownInstants) {
    struct Row {
        std::int64_t seconds;
        int year, month, day, hour, minute, second;
    };
    const Row rows[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {1709647629, 2024, 3, 5, 14, 7, 9},
        {951782400, 2000, 2, 29, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        CalendarTime t;
        ASSERT_TRUE(UtcFromSeconds(row.seconds, t));
        EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second),
                  std::tie(row.year, row.month, row.day, row.hour, row.minute, row.second));
    }
}

TEST(Platform, ExecutablePathNamesThisTestAndIsCutToCapacity) {
    char path[1024];
    ASSERT_GT(ExecutablePath(path, sizeof path), 0u);
    EXPECT_NE(std::string(path).find("platform_tests"), std::string::npos);
    char small[8];
    EXPECT_EQ(ExecutablePath(small, sizeof small), 7u);
    EXPECT_EQ(std::strlen(small), 7u);
}

}  // namespace
