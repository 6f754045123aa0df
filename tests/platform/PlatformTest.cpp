#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
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
    EXPECT_TRUE(local.month >= 1 && local.month <= 12 && local.day >= 1 && local.day <= 31);
    EXPECT_TRUE(local.hour >= 0 && local.hour <= 23 && local.minute >= 0 && local.minute <= 59);
    EXPECT_TRUE(local.second >= 0 && local.second <= 60 && local.millisecond >= 0 &&
                local.millisecond < 1000);
    EXPECT_NE(HighResolutionFrequency(), 0u);
}

TEST(Platform, UtcFromSecondsBreaksDownKnownInstants) {
    struct Row {
        std::int64_t seconds;
        int year, month, day, hour, minute, second;
    };
    const Row rows[] = {
        {0, 1970, 1, 1, 0, 0, 0},          {1709647629, 2024, 3, 5, 14, 7, 9},
        {951782400, 2000, 2, 29, 0, 0, 0}, {1796462296, 2026, 12, 5, 9, 18, 16},
        {-86400, 1969, 12, 31, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.seconds);
        CalendarTime t;
        ASSERT_TRUE(UtcFromSeconds(row.seconds, t));
        EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second),
                  std::tie(row.year, row.month, row.day, row.hour, row.minute, row.second));
    }
}

TEST(Platform, UtcFromSecondsRefusesInstantsOutOfRangeAndKeepsOutput) {
    for (std::int64_t seconds :
         {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
        SCOPED_TRACE(seconds);
        CalendarTime t{1, 2, 3, 4, 5, 6, 7};
        EXPECT_FALSE(UtcFromSeconds(seconds, t));
        EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond),
                  std::make_tuple(1, 2, 3, 4, 5, 6, 7));
    }
}

TEST(Platform, CounterHasFrequencyAndAdvances) {
    EXPECT_GT(HighResolutionFrequency(), 0u);
    const std::uint64_t first = HighResolutionCounter();
    std::uint64_t later = first;
    for (int i = 0; i < 1'000'000 && later == first; ++i) {
        later = HighResolutionCounter();
    }
    EXPECT_GT(later, first);
}

TEST(Platform, ThreadIdsDifferBetweenThreads) {
    const std::uint32_t mine = CurrentThreadId();
    std::uint32_t other = mine;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(other, mine);
}

TEST(Platform, RegionsAreAlignedWritableAndReleased) {
    for (std::size_t bytes : {kRegionSize, 3 * kRegionSize, 16 * kRegionSize}) {
        SCOPED_TRACE(bytes);
        void* region = ReserveRegion(bytes);
        ASSERT_NE(region, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % kRegionSize, 0u);
        auto* bytesOf = static_cast<unsigned char*>(region);
        bytesOf[0] = 1;
        bytesOf[bytes - 1] = 2;
        EXPECT_EQ(bytesOf[0] + bytesOf[bytes - 1], 3);
        ReleaseRegion(region, bytes);
    }
    ReleaseRegion(nullptr, kRegionSize);  // ignored
}

TEST(Platform, HeapBlockSizeCoversTheRequestAndNullIsZero) {
    EXPECT_EQ(HeapBlockSize(nullptr), 0u);
    for (std::size_t bytes : {1u, 24u, 1000u, 100000u}) {
        SCOPED_TRACE(bytes);
        void* block = std::malloc(bytes);
        ASSERT_NE(block, nullptr);
        EXPECT_GE(HeapBlockSize(block), bytes);
        std::free(block);
    }
}

TEST(Platform, ProcessMemoryFiguresAreConsistent) {
    ProcessMemory memory;
    ASSERT_TRUE(QueryProcessMemory(memory));
    EXPECT_GT(memory.workingSet, 0u);
    EXPECT_GE(memory.peakWorkingSet, memory.workingSet);
    // privateBytes may be 0 where the system keeps no commit charge (Wine).
}

TEST(Platform, EventTracingIsFoundExactlyOnWindows) {
    EXPECT_EQ(TracingAvailable(), kWindows);
    std::uint64_t handle = 99;
    const TraceGuid provider{0x01234567, 0x89ab, 0x4def, {1, 2, 3, 4, 5, 6, 7, 8}};
    const bool registered = TraceRegister(provider, nullptr, nullptr, &handle);
    EXPECT_EQ(registered, kWindows);
    EXPECT_EQ(handle != 0, registered);
    const TraceEvent event{1, 0, 0, 0, 0, 0, 0};
    const std::uint32_t value = 7;
    const TraceField field{&value, sizeof value};
    if (!registered) {
        EXPECT_FALSE(TraceWrite(handle, event, &field, 1));
    }
    EXPECT_FALSE(TraceWrite(0, event, &field, 1));
    EXPECT_FALSE(TraceWrite(handle, event, nullptr, 1));
    TraceUnregister(handle);
    TraceUnregister(handle);  // a second end is ignored
    TraceUnregister(0);
}

TEST(Platform, MutexExcludesOtherThreads) {
    static constinit Mutex mutex;  // constant-initialised on every system
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            MutexLock lock(mutex);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    if (!mutex.try_lock()) {
        FAIL() << "try_lock refused a free mutex";
    }
    std::thread([&] { EXPECT_FALSE(mutex.try_lock()); }).join();
    mutex.unlock();
}

TEST(Platform, ExecutablePathNamesThisTestAndIsCutToCapacity) {
    char path[1024];
    ASSERT_GT(ExecutablePath(path, sizeof path), 0u);
    const std::string text(path);
    const std::string expected = kWindows ? "platform_tests.exe" : "platform_tests";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
    EXPECT_NE(std::strchr(kPathSeparators, text[text.size() - expected.size() - 1]), nullptr);
    char small[8];
    EXPECT_EQ(ExecutablePath(small, sizeof small), 7u);
    EXPECT_EQ(std::strlen(small), 7u);
}

}  // namespace
