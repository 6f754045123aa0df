#pragma once
// The storage of one dynamic value tree: every non-scalar payload (string
// records, blob bytes, enum payloads, element arrays, structure maps and
// their nodes) and the tree's interned-string table.
//
// Blocks come in three bands, chosen by size:
// - small (1..72 bytes): 18 size classes of 4, 8, ..., 72 bytes. Each class
//   first serves a 144-byte inline chunk of the arena object, then 4096-byte
//   pages from the process-wide page source. Free blocks are kept in 16-bit
//   index lists per chunk or page; a page is found from a block by clearing
//   the low 12 address bits.
// - medium (73..32768 bytes): 18 bins, two per octave (96, 128, 192, ...,
//   32768), bump-allocated from 64 KiB slabs of the page source, with one
//   free list per bin.
// - large: a region of its own (64 KiB multiples) from the page source, which
//   keeps a few freed ones for the next large blocks and returns the rest to
//   the operating system.
// Dropping the arena hands every page and slab back to the page source in one
// locked step; no per-value work is needed for a tree that is dropped whole.
//
// Ownership: created by the root value that first needs it and destroyed with
// it. Threading: one thread at a time, like the tree it serves.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/BindingProperty.h"
#include "platform/Platform.h"

namespace Tavo {

// Process-wide source of 4096-byte pages and 64 KiB slabs for all arenas. It
// reserves 64 KiB regions from the operating system and keeps every page and
// slab it gets back for reuse by any arena (it never returns them). Regions
// of large blocks are kept too, up to kMaxKeptLarge of them and
// kMaxKeptLargeBytes in all.
// [any-thread]
class BindingPageSource {
public:
    static constexpr std::size_t kPageSize = 4096;
    static constexpr std::size_t kSlabSize = Platform::kRegionSize;
    static constexpr std::size_t kPagesPerRegion = kSlabSize / kPageSize;

    static BindingPageSource& Instance();

    // One page (aligned to kPageSize) or slab (aligned to kSlabSize), or null
    // when the operating system refuses memory. Contents are unspecified.
    void* AcquirePage();
    void* AcquireSlab();
    // Takes back a chain of `count` pages (slabs) linked through their first
    // word, from `first` to `last` inclusive. They must not be used afterwards.
    void ReleasePages(void* first, void* last, std::size_t count) noexcept;
    void ReleaseSlabs(void* first, void* last, std::size_t count) noexcept;

    // Why keep large regions: a tree read from a document is dropped soon
    // after, and the next one needs blocks of much the same sizes. A fresh
    // region costs a page fault per page on first touch and a TLB flush when
    // it goes back; a kept one costs neither.
    static constexpr std::size_t kMaxKeptLarge = 32;
    static constexpr std::size_t kMaxKeptLargeBytes = std::size_t{16} << 20;
    // A region of at least `bytes` (a multiple of kSlabSize) for one large
    // block: the smallest kept region of at most twice that size, else a new
    // one from the system. `*regionBytes` receives its real size. Null when
    // the system refuses.
    void* AcquireLarge(std::size_t bytes, std::size_t* regionBytes);
    // Takes back a region from AcquireLarge (with its real size): kept in a
    // free slot, or in place of the smallest kept region when that is smaller
    // (which then goes), within kMaxKeptLargeBytes; else returned to the
    // system.
    void ReleaseLarge(void* region, std::size_t bytes) noexcept;

    struct Stats {
        std::size_t regionsReserved = 0;  // 64 KiB regions ever taken from the system
        std::size_t freePages = 0;
        std::size_t freeSlabs = 0;
        std::size_t keptLargeBytes = 0;  // in regions kept for large blocks
    };
    Stats ReadStats();

    constexpr BindingPageSource() = default;
    BindingPageSource(const BindingPageSource&) = delete;
    BindingPageSource& operator=(const BindingPageSource&) = delete;

private:
    Platform::Mutex mutex_;
    void* freePages_ = nullptr;
    void* freeSlabs_ = nullptr;
    std::size_t freePageCount_ = 0;
    std::size_t freeSlabCount_ = 0;
    std::size_t regionsReserved_ = 0;
    struct KeptRegion {
        void* region;
        std::size_t bytes;  // 0 for an unused slot
    };
    KeptRegion kept_[kMaxKeptLarge] = {};
    std::size_t keptLargeBytes_ = 0;
};

class BindingPropertyArena {
public:
    static constexpr std::size_t kSmallClassCount = 18;
    static constexpr std::size_t kSmallMax = 72;
    static constexpr std::size_t kInlineChunkSize = 144;
    static constexpr std::size_t kMediumBinCount = 18;
    static constexpr std::size_t kMediumMax = 32768;

    // A new, empty arena: one block from the counting allocator. Throws
    // std::bad_alloc when memory is refused.
    static BindingPropertyArena* Create();
    // Releases everything the arena holds, then the arena itself. Null is ignored.
    static void Destroy(BindingPropertyArena* arena) noexcept;

    BindingPropertyArena(const BindingPropertyArena&) = delete;
    BindingPropertyArena& operator=(const BindingPropertyArena&) = delete;

    // A block of at least `bytes` bytes (UsableSize(bytes) in fact), aligned
    // to 8 when that size is a multiple of 8 and to 4 otherwise. Throws
    // std::bad_alloc when memory is refused.
    void* Allocate(std::size_t bytes);
    // Returns a block. `bytes` is any size between the one asked for and its
    // UsableSize.
    void Deallocate(void* block, std::size_t bytes) noexcept;
    // What a request of `bytes` really receives; containers grow into it.
    static std::size_t UsableSize(std::size_t bytes);

    // The record of `text` in this arena with its count raised by one, stored
    // (copied) when new. `hash` must be Fnv1a32(text). The empty text gives
    // the shared empty record, which is never counted. Finding an existing
    // record does not allocate. Throws std::bad_alloc.
    const BindingInternedString* Intern(std::string_view text, std::uint32_t hash);
    const BindingInternedString* Intern(std::string_view text) {
        return Intern(text, Fnv1a32(text));
    }
    // Makes room for `count` distinct texts, so that as many can be interned
    // without growing the table again (a copy of a whole tree asks for its
    // source's count up front). Throws std::bad_alloc.
    void ReserveStrings(std::size_t count);
    // One more user of a record of this arena.
    static void AddRef(const BindingInternedString* record) noexcept;
    // One user less; the record is erased when none is left.
    void Release(const BindingInternedString* record) noexcept;

    // Frees every block and string at once: the arena is as new. Whatever
    // pointed into it is dangling afterwards.
    void Reset() noexcept;

    struct Stats {
        std::size_t pages = 0;          // small-class pages held
        std::size_t slabs = 0;          // medium slabs held
        std::size_t largeBlocks = 0;    // large regions held
        std::size_t strings = 0;        // distinct interned texts
        std::size_t tableCapacity = 0;  // buckets of the intern table (0 before the first)
    };
    Stats ReadStats() const;

private:
    struct PageHeader;
    struct SlabNode;
    struct LargeHeader;
    struct SizeClass {
        PageHeader* partial = nullptr;  // pages with a free or unused block
        std::uint16_t inlineFree = 0;   // head of the chunk's free list
        std::uint16_t inlineBump = 0;   // blocks of the chunk ever handed out
        alignas(8) unsigned char chunk[kInlineChunkSize];
    };

    BindingPropertyArena();
    ~BindingPropertyArena() = default;

    void* AllocateSmall(std::size_t index);
    void DeallocateSmall(void* block, std::size_t index) noexcept;
    void* AllocateMedium(std::size_t index);
    void* AllocateLarge(std::size_t bytes);
    void DeallocateLarge(void* block) noexcept;
    void Rehash(std::uint32_t capacity);
    void ReleaseStorage() noexcept;
    void InitState() noexcept;

    SizeClass small_[kSmallClassCount];
    void* mediumFree_[kMediumBinCount];
    unsigned char* bump_;
    unsigned char* bumpEnd_;
    PageHeader* pages_;  // every small-class page, linked through its first word
    PageHeader* lastPage_;
    SlabNode* slabs_;     // every medium slab
    LargeHeader* large_;  // every large region, doubly linked
    std::size_t pageCount_;
    std::size_t slabCount_;
    std::size_t largeCount_;
    // Open-addressing intern table (linear probing, power-of-two capacity,
    // at most half full), itself a block of this arena.
    BindingInternedString** table_;
    std::uint32_t tableCapacity_;
    std::uint32_t tableCount_;
};

}  // namespace Tavo
