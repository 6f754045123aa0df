#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using namespace Tavo::Platform;

TEST(Platform, MonotonicClockNeverGoesBackwards) {
    std::int64_t previous = MonotonicNanoseconds();
    for (int i = 0; i < 1000; ++i) {
        std::int64_t now = MonotonicNanoseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Platform, WallClockCountsHundredNanosecondsSince1970) {
    // 2020-01-01 in 100-ns units; any machine running this is later.
    EXPECT_GT(WallClock100ns(), std::int64_t(1'577'836'800) * 10'000'000);
}

TEST(Platform, UtcFromSecondsBreaksDownKnownInstants) {
    struct Row {
        std::int64_t seconds;
        CalendarTime expected;
    };
    const Row rows[] = {
        {0, {1970, 1, 1, 0, 0, 0, 0}},
        {1709647629, {2024, 3, 5, 14, 7, 9, 0}},
        {951782400, {2000, 2, 29, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        CalendarTime t;
        ASSERT_TRUE(UtcFromSeconds(row.seconds, t));
        EXPECT_EQ(t.year, row.expected.year);
        EXPECT_EQ(t.month, row.expected.month);
        EXPECT_EQ(t.day, row.expected.day);
        EXPECT_EQ(t.hour, row.expected.hour);
        EXPECT_EQ(t.minute, row.expected.minute);
        EXPECT_EQ(t.second, row.expected.second);
    }
}

TEST(Platform, LocalTimeFieldsAreInRange) {
    CalendarTime t = LocalTimeNow();
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
}

TEST(Platform, ExecutablePathNamesThisTestAndIsCutToCapacity) {
    char path[1024];
    std::size_t n = ExecutablePath(path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_NE(std::string(path).find("platform_tests"), std::string::npos);

    char small[8];
    std::size_t cut = ExecutablePath(small, sizeof small);
    EXPECT_EQ(cut, 7u);
    EXPECT_EQ(std::strlen(small), 7u);
}

TEST(Platform, ReservedRegionsAreAlignedAndWritable) {
    void* region = ReserveRegion(kRegionSize);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % kRegionSize, 0u);
    std::memset(region, 0xAB, kRegionSize);
    EXPECT_EQ(static_cast<unsigned char*>(region)[kRegionSize - 1], 0xAB);
    ReleaseRegion(region, kRegionSize);
}

TEST(Platform, HighResolutionFrequencyIsPositive) {
    EXPECT_GT(HighResolutionFrequency(), 0u);
    EXPECT_GT(CurrentThreadId(), 0u);
}

}  // namespace
