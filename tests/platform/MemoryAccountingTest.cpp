#include "platform/MemoryAccounting.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Tavo::Memory::ReadStats;
using Tavo::Memory::Stats;

Stats Delta(const Stats& before, const Stats& after) {
    return Stats{after.peakBytes, after.peakAllocations, after.bytesAllocated - before.bytesAllocated,
                 after.allocations - before.allocations, after.bytesFreed - before.bytesFreed,
                 after.frees - before.frees};
}

TEST(MemoryAccounting, AllocateAndFreeCountTrueBlockSizes) {
    Stats before = ReadStats();
    void* block = Tavo::Memory::Allocate(10);
    ASSERT_NE(block, nullptr);
    Stats mid = Delta(before, ReadStats());
    EXPECT_EQ(mid.allocations, 1u);
    EXPECT_GE(mid.bytesAllocated, 10u);  // the usable size, at least what was asked
    Tavo::Memory::Free(block);
    Stats after = Delta(before, ReadStats());
    EXPECT_EQ(after.frees, 1u);
    EXPECT_EQ(after.bytesFreed, mid.bytesAllocated);
}

TEST(MemoryAccounting, FreeingNullChangesNothing) {
    Stats before = ReadStats();
    Tavo::Memory::Free(nullptr);
    Stats after = ReadStats();
    EXPECT_EQ(after.frees, before.frees);
    EXPECT_EQ(after.bytesFreed, before.bytesFreed);
}

TEST(MemoryAccounting, FailedAllocationStillCounts) {
    Stats before = ReadStats();
    void* block = Tavo::Memory::Allocate(SIZE_MAX - 1024);
    EXPECT_EQ(block, nullptr);
    Stats after = Delta(before, ReadStats());
    EXPECT_EQ(after.allocations, 1u);
    EXPECT_EQ(after.bytesAllocated, 0u);
}

TEST(MemoryAccounting, ReallocateCountsOldFreedAndNewAllocated) {
    void* block = Tavo::Memory::Allocate(16);
    Stats before = ReadStats();
    block = Tavo::Memory::Reallocate(block, 4096);
    ASSERT_NE(block, nullptr);
    Stats after = Delta(before, ReadStats());
    EXPECT_EQ(after.frees, 1u);
    EXPECT_GE(after.bytesFreed, 16u);
    EXPECT_EQ(after.allocations, 1u);
    EXPECT_GE(after.bytesAllocated, 4096u);
    Tavo::Memory::Free(block);

    Stats beforeNull = ReadStats();
    void* fresh = Tavo::Memory::Reallocate(nullptr, 8);
    Stats afterNull = Delta(beforeNull, ReadStats());
    EXPECT_EQ(afterNull.bytesFreed, 0u);
    EXPECT_EQ(afterNull.allocations, 1u);
    Tavo::Memory::Free(fresh);
}

TEST(MemoryAccounting, DuplicateTextCopiesAndCounts) {
    Stats before = ReadStats();
    char* copy = Tavo::Memory::DuplicateText("heartbeat");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "heartbeat");
    EXPECT_EQ(Delta(before, ReadStats()).allocations, 1u);
    Tavo::Memory::Free(copy);
}

TEST(MemoryAccounting, PeakTracksLargestLiveTotalAndNeverFalls) {
    void* big = Tavo::Memory::Allocate(1 << 20);
    Stats atPeak = ReadStats();
    EXPECT_GE(atPeak.peakBytes, atPeak.bytesAllocated - atPeak.bytesFreed);
    Tavo::Memory::Free(big);
    Stats after = ReadStats();
    EXPECT_EQ(after.peakBytes, atPeak.peakBytes);
    EXPECT_LE(after.bytesFreed, after.bytesAllocated);
}

}  // namespace
