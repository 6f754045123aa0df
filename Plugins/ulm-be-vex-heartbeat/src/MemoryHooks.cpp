// Every C++ allocation of the plugin goes through the counting hooks of
// platform/MemoryAccounting.h, so that GetMemoryStats sees all of them.
//
// Why here: these replacements of operator new and delete (every variant the
// C++ runtime defines, so that none of the runtime's own is linked in) are
// compiled into the shared library only, which links the C++ runtime
// statically and keeps every symbol but the export local (exports.map). The
// plugin's code, the framework's and the runtime's inside the library bind
// to them; the host's operator new and delete stay the host's, and the
// host's allocations are never counted here.
//
// Over-aligned blocks are carved out of a larger counted block; the word
// before the aligned address holds the block's start.
// [any-thread]

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/MemoryAccounting.h"

namespace {

constexpr std::size_t kBasicAlignment = alignof(std::max_align_t);

void* Allocate(std::size_t size) noexcept {
    return Tavo::Memory::Allocate(size != 0 ? size : 1);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    const std::size_t align = static_cast<std::size_t>(alignment);
    if (align <= kBasicAlignment) {
        return Allocate(size);
    }
    std::size_t total = 0;
    if (__builtin_add_overflow(size, align + sizeof(void*), &total)) {
        return nullptr;
    }
    void* block = Tavo::Memory::Allocate(total);
    if (block == nullptr) {
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
    const std::uintptr_t aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    reinterpret_cast<void**>(aligned)[-1] = block;
    return reinterpret_cast<void*>(aligned);
}

void Free(void* pointer) noexcept {
    Tavo::Memory::Free(pointer);
}

void FreeAligned(void* pointer, std::align_val_t alignment) noexcept {
    if (pointer == nullptr) {
        return;
    }
    if (static_cast<std::size_t>(alignment) <= kBasicAlignment) {
        Tavo::Memory::Free(pointer);
        return;
    }
    Tavo::Memory::Free(reinterpret_cast<void**>(pointer)[-1]);
}

// The throwing forms: retry through the new-handler, as the runtime's do.
template <class Attempt>
void* AllocateOrThrow(Attempt attempt) {
    for (;;) {
        if (void* pointer = attempt()) {
            return pointer;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

}  // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow([size] { return Allocate(size); });
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow([size] { return Allocate(size); });
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow([=] { return AllocateAligned(size, alignment); });
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return AllocateOrThrow([=] { return AllocateAligned(size, alignment); });
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}

void operator delete(void* pointer) noexcept {
    Free(pointer);
}
void operator delete[](void* pointer) noexcept {
    Free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    Free(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    Free(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    Free(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    Free(pointer);
}
void operator delete(void* pointer, std::align_val_t alignment) noexcept {
    FreeAligned(pointer, alignment);
}
void operator delete[](void* pointer, std::align_val_t alignment) noexcept {
    FreeAligned(pointer, alignment);
}
void operator delete(void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    FreeAligned(pointer, alignment);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    FreeAligned(pointer, alignment);
}
void operator delete(void* pointer, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    FreeAligned(pointer, alignment);
}
void operator delete[](void* pointer, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    FreeAligned(pointer, alignment);
}
