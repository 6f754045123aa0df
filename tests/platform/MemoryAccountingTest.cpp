#include "platform/MemoryAccounting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Tavo::Memory::ReadStats;
using Tavo::Memory::Stats;

// Counter changes since `before`; the peak fields are taken as they are now.
Stats Since(const Stats& before) {
    const Stats now = ReadStats();
    return Stats{now.peakBytes,
                 now.peakAllocations,
                 now.bytesAllocated - before.bytesAllocated,
                 now.allocations - before.allocations,
                 now.bytesFreed - before.bytesFreed,
                 now.frees - before.frees,
                 now.bytesInUse,
                 now.liveBlocks};
}

// Sizes are the usable sizes of the blocks; the peak is the largest live
// total seen and never falls.
TEST(MemoryAccounting, AllocateAndFreeCountEveryAttemptAndFreeingNullChangesNothing) {
    const Stats before = ReadStats();
    void* block = Tavo::Memory::Allocate(1 << 20);
    ASSERT_NE(block, nullptr);
    const Stats allocated = Since(before);
    EXPECT_EQ(allocated.allocations, 1u);
    EXPECT_GE(allocated.bytesAllocated, 1u << 20);
    const Stats atPeak = ReadStats();
    EXPECT_GE(atPeak.peakBytes, atPeak.bytesAllocated - atPeak.bytesFreed);
    Tavo::Memory::Free(block);
    Tavo::Memory::Free(nullptr);
    const Stats freed = Since(before);
    EXPECT_EQ(freed.frees, 1u);
    EXPECT_EQ(freed.bytesFreed, allocated.bytesAllocated);
    EXPECT_EQ(freed.peakBytes, atPeak.peakBytes);

    const Stats beforeFailure = ReadStats();
    EXPECT_EQ(Tavo::Memory::Allocate(SIZE_MAX - 1024), nullptr);
    EXPECT_EQ(Since(beforeFailure).allocations, 1u);  // a failed allocation still counts
    EXPECT_EQ(Since(beforeFailure).bytesAllocated, 0u);
}

TEST(MemoryAccounting, ReallocateAndDuplicateTextCountWhatTheyAllocateAndFree) {
    Stats before = ReadStats();
    void* block = Tavo::Memory::Reallocate(nullptr, 16);  // a plain allocation
    EXPECT_EQ(Since(before).bytesFreed, 0u);
    EXPECT_EQ(Since(before).allocations, 1u);
    before = ReadStats();
    block = Tavo::Memory::Reallocate(block, 4096);
    ASSERT_NE(block, nullptr);
    const Stats moved = Since(before);
    EXPECT_EQ(moved.frees, 1u);
    EXPECT_GE(moved.bytesFreed, 16u);
    EXPECT_EQ(moved.allocations, 1u);
    EXPECT_GE(moved.bytesAllocated, 4096u);
    Tavo::Memory::Free(block);

    before = ReadStats();
    char* copy = Tavo::Memory::DuplicateText("heartbeat");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "heartbeat");
    EXPECT_EQ(Since(before).allocations, 1u);
    Tavo::Memory::Free(copy);
}

TEST(MemoryAccounting, LiveTotalsFollowAllocationsAndFrees) {
    const Stats before = ReadStats();
    std::vector<void*> blocks;
    for (int i = 0; i < 100; ++i) {
        blocks.push_back(Tavo::Memory::Allocate(32));
    }
    blocks.push_back(Tavo::Memory::Reallocate(Tavo::Memory::Allocate(8), 256));
    const Stats during = Since(before);
    EXPECT_EQ(during.liveBlocks, before.liveBlocks + 101);
    EXPECT_EQ(during.bytesInUse - before.bytesInUse, during.bytesAllocated - during.bytesFreed);
    for (void* block : blocks) {
        Tavo::Memory::Free(block);
    }
    const Stats after = ReadStats();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.bytesInUse, before.bytesInUse);
}

// The block count recorded with the peak is the live count at that moment:
// blocks allocated and freed before do not add to it.
TEST(MemoryAccounting, PeakAllocationsCountOnlyLiveBlocks) {
    for (int i = 0; i < 1000; ++i) {
        Tavo::Memory::Free(Tavo::Memory::Allocate(16));
    }
    const Stats before = ReadStats();
    void* big = Tavo::Memory::Allocate(before.peakBytes + (1u << 20));  // raises the peak
    ASSERT_NE(big, nullptr);
    const Stats atPeak = ReadStats();
    EXPECT_GT(atPeak.peakBytes, before.peakBytes);
    EXPECT_EQ(atPeak.peakAllocations, atPeak.liveBlocks);
    EXPECT_LE(atPeak.peakAllocations + 1000, atPeak.allocations);  // the freed blocks are out
    Tavo::Memory::Free(big);
}

}  // namespace
