// Counting replacements of the global allocation functions, linked into a
// benchmark program when it asks HeapAllocations(). Not inlined, so the
// compiler never pairs a malloc it can see with a delete it cannot.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench/BenchSupport.h"

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

namespace Tavo::Bench {
std::uint64_t HeapAllocations() {
    return g_allocations.load(std::memory_order_relaxed);
}
}  // namespace Tavo::Bench

#define TAVO_NOINLINE __attribute__((noinline))
TAVO_NOINLINE void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
TAVO_NOINLINE void* operator new[](std::size_t size) {
    return operator new(size);
}
TAVO_NOINLINE void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size != 0 ? size : 1);
}
TAVO_NOINLINE void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
TAVO_NOINLINE void operator delete(void* p) noexcept {
    std::free(p);
}
TAVO_NOINLINE void operator delete[](void* p) noexcept {
    std::free(p);
}
TAVO_NOINLINE void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
TAVO_NOINLINE void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
