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
};

// Constant-initialised, so the hooks work during static initialisation too.
constinit Counters counters;

std::uint64_t BlockSize(void* block) { return Platform::HeapBlockSize(block); }

void UpdatePeak() {
    std::uint64_t inUse = counters.bytesAllocated.load(std::memory_order_relaxed) -
                          counters.bytesFreed.load(std::memory_order_relaxed);
    std::uint64_t peak = counters.peakBytes.load(std::memory_order_relaxed);
    while (inUse > peak) {
        if (counters.peakBytes.compare_exchange_weak(peak, inUse, std::memory_order_relaxed)) {
            counters.peakAllocations.store(counters.allocations.load(std::memory_order_relaxed) -
                                               counters.frees.load(std::memory_order_relaxed),
                                           std::memory_order_relaxed);
            break;
        }
    }
}

void CountAllocation(void* block) {
    counters.bytesAllocated.fetch_add(BlockSize(block), std::memory_order_relaxed);
    counters.allocations.fetch_add(1, std::memory_order_relaxed);
    UpdatePeak();
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
    counters.bytesFreed.fetch_add(BlockSize(block), std::memory_order_relaxed);
    counters.frees.fetch_add(1, std::memory_order_relaxed);
    std::free(block);
}

void* Reallocate(void* block, std::size_t bytes) {
    std::uint64_t oldSize = BlockSize(block);
    void* moved = std::realloc(block, bytes);
    if (moved == nullptr && bytes != 0) {
        // The old block is untouched and still live; count only the failed attempt.
        counters.allocations.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    counters.bytesFreed.fetch_add(oldSize, std::memory_order_relaxed);
    counters.frees.fetch_add(1, std::memory_order_relaxed);
    CountAllocation(moved);
    return moved;
}

char* DuplicateText(const char* text) {
    char* copy = text ? strdup(text) : nullptr;
    CountAllocation(copy);
    return copy;
}

Stats ReadStats() {
    return Stats{counters.peakBytes.load(), counters.peakAllocations.load(),
                 counters.bytesAllocated.load(), counters.allocations.load(),
                 counters.bytesFreed.load(), counters.frees.load()};
}

}  // namespace Tavo::Memory
