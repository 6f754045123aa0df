#pragma once
// The plugin's allocation accounting: four hooks that do the C library's work
// and count it in six process-wide atomic 64-bit counters, which the host reads
// through GetMemoryStats. Sizes are the true block sizes the C library reports
// (which can exceed the size asked for). Every allocation of the plugin goes
// through these hooks; texts handed to the host are made by DuplicateText.
// [any-thread]

#include <cstddef>
#include <cstdint>

namespace Tavo::Memory {

struct Stats {
    std::uint64_t peakBytes = 0;        // largest bytesInUse seen; never falls
    std::uint64_t peakAllocations = 0;  // liveBlocks when peakBytes was last raised
    std::uint64_t bytesAllocated = 0;
    std::uint64_t allocations = 0;  // counts failed allocations too
    std::uint64_t bytesFreed = 0;
    std::uint64_t frees = 0;
    std::uint64_t bytesInUse = 0;  // sizes of the blocks allocated and not yet freed
    std::uint64_t liveBlocks = 0;  // blocks allocated and not yet freed
};

// malloc: on success counts the block's size; counts one allocation either way.
void* Allocate(std::size_t bytes);
// free: null is ignored and changes no counter.
void Free(void* block);
// realloc: counts the old block freed (0 bytes for null) and the new block
// allocated (0 bytes on failure).
void* Reallocate(void* block, std::size_t bytes);
// strdup of a NUL-terminated text; null in, null out (counted as a failed
// allocation).
char* DuplicateText(const char* text);

// Each counter read as one atomic value. The live totals are counters of their
// own, so they stay exact while other threads allocate; the differences
// bytesAllocated - bytesFreed of one read may be off by what ran in between.
Stats ReadStats();

}  // namespace Tavo::Memory
