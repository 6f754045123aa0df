// The memory counters while several threads allocate and free. Built on its
// own (label "threads") so the ThreadSanitizer stage runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/MemoryAccounting.h"

namespace {

using Tavo::Memory::ReadStats;
using Tavo::Memory::Stats;

// Why: with the live total derived from two loads, a block allocated and freed
// by another thread between them made the total wrap and the peak stick near
// 2^64. Threads allocate and free blocks of very different sizes, more threads
// than cores so that one is often preempted between two counter updates; the
// peak must stay within what can truly be live at once.
TEST(MemoryAccounting, PeakStaysWithinTheTrueMaximumUnderConcurrentAllocation) {
    constexpr int kPairs = 3;
    constexpr int kSmallLive = 64;
    constexpr std::size_t kSmall = 16;
    constexpr std::size_t kLarge = 64 * 1024;
    const Stats before = ReadStats();
    std::atomic<int> running{kPairs};
    std::vector<std::thread> threads;
    for (int pair = 0; pair < kPairs; ++pair) {
        threads.emplace_back([&] {
            while (running.load(std::memory_order_relaxed) > 0) {
                Tavo::Memory::Free(Tavo::Memory::Allocate(kLarge));
            }
        });
        threads.emplace_back([&] {
            std::vector<void*> live;
            for (int round = 0; round < 20000; ++round) {
                for (int i = 0; i < kSmallLive; ++i) {
                    live.push_back(Tavo::Memory::Allocate(kSmall));
                }
                for (void* block : live) {
                    Tavo::Memory::Free(block);
                }
                live.clear();
            }
            running.fetch_sub(1);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const Stats after = ReadStats();
    // Usable sizes exceed the request by at most a few words for small blocks
    // and a page for large ones.
    const std::uint64_t trueMaximum =
        before.bytesInUse + kPairs * (kSmallLive * (kSmall + 32) + kLarge + 4096);
    EXPECT_LE(after.peakBytes, std::max(before.peakBytes, trueMaximum));
    EXPECT_EQ(after.bytesInUse, before.bytesInUse);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
}

}  // namespace
