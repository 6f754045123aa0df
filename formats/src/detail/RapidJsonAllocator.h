#pragma once
// RapidJSON's allocator concept over the counting hooks, so that the reader's
// and writers' working buffers are accounted like every other allocation of
// the plugin. A refused allocation throws std::bad_alloc where RapidJSON's
// own allocator would hand its stack a null block.

#include <cstddef>
#include <new>

#include "platform/MemoryAccounting.h"

namespace Tavo::detail {

class RapidJsonCountingAllocator {
public:
    static const bool kNeedFree = true;

    void* Malloc(std::size_t size) {
        if (size == 0) {
            return nullptr;
        }
        void* block = Memory::Allocate(size);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return block;
    }
    void* Realloc(void* original, std::size_t /*originalSize*/, std::size_t newSize) {
        if (newSize == 0) {
            Memory::Free(original);
            return nullptr;
        }
        void* block = Memory::Reallocate(original, newSize);
        if (block == nullptr) {
            throw std::bad_alloc();  // `original` is still valid and owned by the caller
        }
        return block;
    }
    static void Free(void* block) { Memory::Free(block); }
};

}  // namespace Tavo::detail
