#include "platform/MemoryAccounting.h"

#include <gtest/gtest.h>

#include <cstdint>

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
                 now.frees - before.frees};
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

}  // namespace
