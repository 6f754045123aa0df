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
//   32768), bump-allocated with one free list per bin. The first ones come
//   from 4096-byte pages (bins up to kMediumPageBlockMax, while the arena has
//   taken fewer than kMediumPageLimit such pages), later ones from 64 KiB
//   slabs of the page source. Why pages first: most trees are small, and one
//   medium block (the intern table, a string over 72 bytes, an element
//   array) would otherwise cost a whole slab of address space per tree.
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
// reserves 64 KiB regions from the operating system. A page region keeps its
// bookkeeping in its first page and hands out the other 15; a slab is a
// region of its own. What comes back is reused by any arena. Regions that
// have been wholly free for kReturnDelay go back to the system at the next
// release of their kind, beyond a small cache of each kind
// (kCachedPageRegions, kCachedSlabs): a dropped tree does not keep its
// address space for the rest of the process, and trees built and dropped in
// quick succession reuse the same regions. Regions of large blocks are kept
// too (see ReleaseLarge).
// [any-thread]
class BindingPageSource {
public:
    static constexpr std::size_t kPageSize = 4096;
    static constexpr std::size_t kSlabSize = Platform::kRegionSize;
    static constexpr std::size_t kPagesPerRegion = kSlabSize / kPageSize;
    // Wholly free regions kept for the next trees: 1 MiB of each kind.
    static constexpr std::size_t kCachedPageRegions = 16;
    static constexpr std::size_t kCachedSlabs = 16;
    static constexpr std::int64_t kReturnDelay = 1'000'000'000;  // nanoseconds

    // Replaces kReturnDelay (0: wholly free regions beyond the cache go back
    // at once). For tests and tools.
    void SetReturnDelay(std::int64_t nanoseconds) noexcept;

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
    // it goes back; a kept one costs neither. Beyond kCachedLargeBytes they
    // are kept only for kReturnDelay, since a 32-bit host has little address
    // space to spare.
    static constexpr std::size_t kMaxKeptLarge = 32;
    static constexpr std::size_t kMaxKeptLargeBytes = std::size_t{16} << 20;
    // What stays kept once the delay has passed.
    static constexpr std::size_t kCachedLargeBytes = std::size_t{4} << 20;
    // A region of at least `bytes` (a multiple of kSlabSize) for one large
    // block: the smallest kept region of at most twice that size, else a new
    // one from the system. `*regionBytes` receives its real size. Null when
    // the system refuses.
    void* AcquireLarge(std::size_t bytes, std::size_t* regionBytes);
    // Takes back a region from AcquireLarge (with its real size): kept in a
    // free slot, or in place of the smallest kept region when that is smaller
    // (which then goes), within kMaxKeptLargeBytes; else returned to the
    // system. Kept regions beyond kCachedLargeBytes that have waited for the
    // delay go back too.
    void ReleaseLarge(void* region, std::size_t bytes) noexcept;

    struct Stats {
        std::size_t regionsReserved = 0;  // 64 KiB page and slab regions ever taken
        std::size_t regionsReturned = 0;  // of those, given back to the system
        std::size_t regionsHeld = 0;      // page and slab regions held now
        std::size_t freePages = 0;        // in held page regions, pending ones too
        std::size_t freeSlabs = 0;
        std::size_t keptLargeBytes = 0;  // in regions kept for large blocks
        // Bytes of address space held now: regions, kept large regions and
        // large regions in use.
        std::size_t bytesHeld = 0;
    };
    Stats ReadStats();

    constexpr BindingPageSource() = default;
    BindingPageSource(const BindingPageSource&) = delete;
    BindingPageSource& operator=(const BindingPageSource&) = delete;

private:
    struct PageRegion;  // the bookkeeping in a page region's first page
    static PageRegion* RegionOf(void* page) noexcept;
    void Unlink(PageRegion*& list, PageRegion* region) noexcept;
    void Push(PageRegion*& list, PageRegion* region) noexcept;
    // Gives back `chain` (regions linked through their first word) after the
    // lock is released.
    static void ReturnRegions(void* chain) noexcept;
    struct KeptRegion {
        void* region = nullptr;
        std::size_t bytes = 0;  // 0 for an unused slot
        std::int64_t keptAt = 0;
    };
    // Under the lock: takes kept large regions that have waited for the
    // delay out of their slots, while more than kCachedLargeBytes are kept.
    // Returns how many it wrote to `out` (room for kMaxKeptLarge).
    std::size_t TakeStaleLarge(std::int64_t now, KeptRegion* out) noexcept TAVO_REQUIRES(mutex_);
    // After the lock: gives `count` regions back to the system.
    static void ReturnLarge(const KeptRegion* regions, std::size_t count) noexcept;

    Platform::Mutex mutex_;
    std::int64_t returnDelay_ TAVO_GUARDED_BY(mutex_) = kReturnDelay;
    void* pendingPages_ TAVO_GUARDED_BY(mutex_) =
        nullptr;  // released, not yet back in their regions
    std::int64_t pendingSince_ TAVO_GUARDED_BY(mutex_) =
        0;  // when the pending chain was last empty
    // Puts every pending page back into its region. Under the lock.
    void SettlePendingPages(std::int64_t now) noexcept TAVO_REQUIRES(mutex_);
    PageRegion* partialRegions_ TAVO_GUARDED_BY(mutex_) = nullptr;  // some pages free, some in use
    PageRegion* emptyRegions_ TAVO_GUARDED_BY(mutex_) = nullptr;    // every page free; newest first
    PageRegion* emptyTail_ TAVO_GUARDED_BY(mutex_) = nullptr;       // the oldest of them
    std::size_t emptyRegionCount_ TAVO_GUARDED_BY(mutex_) = 0;
    struct FreeSlab;  // the bookkeeping at the start of a free slab
    FreeSlab* freeSlabs_ TAVO_GUARDED_BY(mutex_) = nullptr;  // newest first
    FreeSlab* slabTail_ TAVO_GUARDED_BY(mutex_) = nullptr;   // the oldest
    std::size_t freePageCount_ TAVO_GUARDED_BY(mutex_) = 0;
    std::size_t freeSlabCount_ TAVO_GUARDED_BY(mutex_) = 0;
    std::size_t regionsReserved_ TAVO_GUARDED_BY(mutex_) = 0;
    std::size_t regionsReturned_ TAVO_GUARDED_BY(mutex_) = 0;
    std::size_t largeBytesInUse_ TAVO_GUARDED_BY(mutex_) = 0;
    KeptRegion kept_[kMaxKeptLarge] TAVO_GUARDED_BY(mutex_) = {};
    std::size_t keptLargeBytes_ TAVO_GUARDED_BY(mutex_) = 0;
};

class BindingPropertyArena {
public:
    static constexpr std::size_t kSmallClassCount = 18;
    static constexpr std::size_t kSmallMax = 72;
    static constexpr std::size_t kInlineChunkSize = 144;
    static constexpr std::size_t kMediumBinCount = 18;
    static constexpr std::size_t kMediumMax = 32768;
    // Medium blocks bump-allocated from pages: the bins that fit a page after
    // its link word, and how many pages an arena takes before its slabs.
    static constexpr std::size_t kMediumPageOffset = 16;
    static constexpr std::size_t kMediumPageBlockMax = 3072;
    static constexpr std::size_t kMediumPageLimit = 8;

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
    const BindingInternedString* Intern(std::string_view text, std::uint32_t hash) {
        return Intern(text, &hash);
    }
    // The same, leaving the FNV-1a hash of a new record to its first Hash():
    // no pass over the bytes besides the lookup's.
    const BindingInternedString* Intern(std::string_view text) { return Intern(text, nullptr); }
    // The record of another arena's text in this one, taking over its hash
    // if that is known yet (copies of trees).
    const BindingInternedString* Intern(const BindingInternedString& text) {
        const std::uint32_t hash = text.hash_.load(std::memory_order_relaxed);
        return Intern(text.View(), hash != 0 ? &hash : nullptr);
    }
    // Intern(text) without the cache of recent records, for copies that
    // keep their own map from the source's records to this arena's.
    const BindingInternedString* InternCopied(const BindingInternedString& text);
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
        std::size_t pages = 0;            // pages held, of small classes and medium blocks
        std::size_t mediumPages = 0;      // of `pages`, those bump-allocated for medium blocks
        std::size_t slabs = 0;            // medium slabs held
        std::size_t largeBlocks = 0;      // large regions held
        std::size_t strings = 0;          // distinct interned texts
        std::size_t tableCapacity = 0;    // buckets of the intern table (0 before the first)
        std::size_t overflowStrings = 0;  // of `strings`, those in the overflow tree
        // Table slots and records looked at by Intern and Release since the
        // arena was made or reset: the measure of their cost.
        std::uint64_t internProbes = 0;
    };

    // Replaces the keyed bucket hash of every arena, for tests that play an
    // attacker who knows it; null restores it. Not for concurrent use with
    // interning.
    using BucketHashFunction = std::uint32_t (*)(std::string_view text);
    static void SetBucketHashForTesting(BucketHashFunction function) noexcept;
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
    // Intern with the FNV-1a hash given, or null to compute it when needed.
    const BindingInternedString* Intern(std::string_view text, const std::uint32_t* hash);
    // The table's part of Intern, once the bucket hash is known. A record
    // found goes to `recent` (a slot of the recent cache, or null).
    const BindingInternedString* InternInTable(std::string_view text, const std::uint32_t* hash,
                                               std::uint32_t keyed, BindingInternedString** recent);
    // Move medium bump allocation to a fresh page (slab), after handing the
    // rest of the current one to the free lists. Throw std::bad_alloc.
    void StartMediumPage();
    void StartSlab();
    void RetireBumpTail() noexcept;
    void* AllocateLarge(std::size_t bytes);
    void DeallocateLarge(void* block) noexcept;
    void Rehash(std::uint32_t capacity);
    void ReleaseStorage() noexcept;
    void InitState() noexcept;

    SizeClass small_[kSmallClassCount];
    void* mediumFree_[kMediumBinCount];
    unsigned char* bump_;
    unsigned char* bumpEnd_;
    PageHeader* pages_;  // every page (small-class and medium), linked through its first word
    PageHeader* lastPage_;
    SlabNode* slabs_;     // every medium slab
    LargeHeader* large_;  // every large region, doubly linked
    std::size_t pageCount_;
    std::size_t mediumPageCount_;  // of pageCount_, pages of medium blocks
    std::size_t slabCount_;
    std::size_t largeCount_;
    // The intern table. Buckets are chosen by a keyed hash (see
    // binding/detail/KeyedHash.h), not by the records' FNV-1a values, which
    // an input can aim at. Open addressing with linear probing, power-of-two
    // capacity, at most half full; a record sits at most kMaxProbe slots
    // from its home. One block of this arena, in one of two layouts:
    // - below kPairedMinCapacity slots, tableCapacity_ record pointers, then
    //   as many 32-bit keyed hashes (kEmptySlot where there is no record).
    //   Probes read only the dense hashes, so the table of a document of tens
    //   of thousands of texts stays in the caches, and an insert writes its
    //   pointer without waiting for the line.
    // - from kPairedMinCapacity on (tables larger than the caches, where
    //   every probe misses), each slot's pointer beside its keyed hash, so a
    //   probe and the insert after it touch one line instead of two
    //   (tableHashes_ is null then).
    // Measured: paired slots throughout parsed documents of 2^15 texts 10%
    // slower; separate arrays throughout copied a tree of a million texts
    // 25% slower.
    //
    // Why the overflow tree: should the keyed hash be defeated, texts that
    // cannot find a slot within kMaxProbe go to an ordered tree (by keyed
    // hash, size, then bytes) instead of lengthening the probe chain, so an
    // Intern costs at most kMaxProbe slot checks and O(log n) comparisons
    // whatever the input.
    static constexpr std::uint32_t kMaxProbe = 32;
    // The keyed hash of a free slot; BucketHash never returns it.
    static constexpr std::uint32_t kEmptySlot = 0;
    static constexpr std::uint32_t kPairedMinCapacity = std::uint32_t{1} << 19;
    static std::size_t TableBytes(std::uint32_t capacity);
    struct OverflowTree;
    std::uint32_t BucketHash(std::string_view text) const noexcept;
    BindingInternedString* FindInTable(std::string_view text, std::uint32_t keyed) noexcept;
    bool PlaceInTable(BindingInternedString* record, std::uint32_t keyed) noexcept;
    void AddToOverflow(BindingInternedString* record, std::uint32_t keyed);
    // Why a cache of recent records: documents repeat a few hundred keys and
    // texts many thousand times, and the keyed hash passes over every byte.
    // A slot chosen by a cheap hash of the length and the first and last
    // bytes holds the record last found there in the table; a hit is
    // confirmed by comparing the bytes, a miss takes the table's way. New
    // records are not cached: most texts met for the first time in bulk
    // input (codes, ids, free text) are never met again, and pushed out the
    // keys that are (building a million structures with a unique text each,
    // and parsing small_objects, got 4-10% faster). The cache only ever
    // saves work, so inputs aimed at its hash cost no more than the table.
    // Made once the table reaches kRecentMinCapacity (small trees go
    // without); records leave it when they are erased.
    static constexpr std::size_t kRecentSlots = 256;
    static constexpr std::uint32_t kRecentMinCapacity = 256;
    static std::size_t RecentSlot(std::string_view text) noexcept;
    BindingInternedString** recent_;
    BindingInternedString** table_;
    std::uint32_t* tableHashes_;
    std::uint32_t tableCapacity_;
    std::uint32_t tableCount_;    // records in the table
    OverflowTree* overflow_;      // null until the first record that does not fit
    std::size_t overflowCount_;   // records in the overflow tree
    std::uint64_t internProbes_;  // slots and records compared by Intern and Release
};

}  // namespace Tavo
