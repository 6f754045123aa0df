#include "platform/MemoryAccounting.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace Tavo::Memory {
namespace {

struct Counters {
    std::atomic<std::uint64_t> peakBytes{0};
    std::atomic<std::uint64_t> peakAllocations{0};
    std::atomic<std::uint64_t> bytesAllocated{0};
    std::atomic<std::uint64_t> allocations{0};
    std::atomic<std::uint64_t> bytesFreed{0};
    std::atomic<std::uint64_t> frees{0};
    // Why: the live totals are counters of their own rather than differences
    // of the totals above. Two separate loads of bytesAllocated and bytesFreed
    // can see a free whose allocation they missed, and the difference wraps to
    // about 2^64; the peak, which never falls, would keep that for good.
    std::atomic<std::uint64_t> bytesInUse{0};
    std::atomic<std::uint64_t> liveBlocks{0};
};

// Constant-initialised, so the hooks work during static initialisation too.
constinit Counters counters;

std::uint64_t BlockSize(void* block) {
    return Platform::HeapBlockSize(block);
}

// Raises the peak to `inUse`, the live total this thread's own update produced,
// and records the live block count with it.
void RaisePeak(std::uint64_t inUse, std::uint64_t live) {
    std::uint64_t peak = counters.peakBytes.load(std::memory_order_relaxed);
    while (inUse > peak) {
        if (counters.peakBytes.compare_exchange_weak(peak, inUse, std::memory_order_relaxed)) {
            counters.peakAllocations.store(live, std::memory_order_relaxed);
            break;
        }
    }
}

void CountAllocation(void* block) {
    counters.allocations.fetch_add(1, std::memory_order_relaxed);
    if (block == nullptr) {
        return;
    }
    const std::uint64_t size = BlockSize(block);
    counters.bytesAllocated.fetch_add(size, std::memory_order_relaxed);
    const std::uint64_t live = counters.liveBlocks.fetch_add(1, std::memory_order_relaxed) + 1;
    RaisePeak(counters.bytesInUse.fetch_add(size, std::memory_order_relaxed) + size, live);
}

// Counts a free of `size` bytes; `hadBlock` false (a null block) counts a
// free of nothing.
void CountFree(bool hadBlock, std::uint64_t size) {
    counters.bytesFreed.fetch_add(size, std::memory_order_relaxed);
    counters.frees.fetch_add(1, std::memory_order_relaxed);
    if (hadBlock) {
        counters.bytesInUse.fetch_sub(size, std::memory_order_relaxed);
        counters.liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    }
}

}  // namespace

void* Allocate(std::size_t bytes) {
    void* block = std::malloc(bytes);
    CountAllocation(block);
    return block;
}

void Free(void* block) {
    if (block == nullptr) {
        return;
    }
    // Counted before the block goes back: afterwards its size cannot be asked.
    CountFree(true, BlockSize(block));
    std::free(block);
}

void* Reallocate(void* block, std::size_t bytes) {
    const std::uint64_t oldSize = BlockSize(block);
    const bool hadBlock = block != nullptr;
    void* moved = std::realloc(block, bytes);
    if (moved == nullptr && bytes != 0) {
        // The old block is untouched and still live; count only the failed attempt.
        counters.allocations.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    // The old block leaves the live totals before the new one enters, so the
    // peak never sees both at once.
    CountFree(hadBlock, oldSize);
    CountAllocation(moved);
    return moved;
}

char* DuplicateText(const char* text) {
    char* copy = text ? strdup(text) : nullptr;
    CountAllocation(copy);
    return copy;
}

Stats ReadStats() {
    return Stats{counters.peakBytes.load(),      counters.peakAllocations.load(),
                 counters.bytesAllocated.load(), counters.allocations.load(),
                 counters.bytesFreed.load(),     counters.frees.load(),
                 counters.bytesInUse.load(),     counters.liveBlocks.load()};
}

}  // namespace Tavo::Memory
