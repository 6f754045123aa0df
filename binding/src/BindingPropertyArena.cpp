#include "binding/BindingPropertyArena.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <set>

#include "detail/KeyedHash.h"
#include "platform/MemoryAccounting.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace Tavo {
namespace {

constexpr std::uint16_t kNoBlock = 0xFFFF;
constexpr std::size_t kLargeHeaderSize = 32;

// Under AddressSanitizer, memory of an arena that is not handed out (free
// blocks, unused parts of pages and slabs, pages given back) is poisoned, so a
// stale reference into a tree is caught like a use after free. The free-list
// links stored in such memory are unpoisoned only while they are accessed.
#if defined(__SANITIZE_ADDRESS__)
void Poison(const void* block, std::size_t bytes) {
    ASAN_POISON_MEMORY_REGION(block, bytes);
}
void Unpoison(const void* block, std::size_t bytes) {
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
}
#else
void Poison(const void*, std::size_t) {}
void Unpoison(const void*, std::size_t) {}
#endif

// Free lists inside blocks: 16-bit indices in small blocks (which may be only
// 4 bytes and 4-aligned), pointers in medium blocks, pages and slabs.
std::uint16_t ReadIndex(const void* block) {
    std::uint16_t index;
    Unpoison(block, sizeof index);
    std::memcpy(&index, block, sizeof index);
    Poison(block, sizeof index);
    return index;
}
void WriteIndex(void* block, std::uint16_t index) {
    Unpoison(block, sizeof index);
    std::memcpy(block, &index, sizeof index);
    Poison(block, sizeof index);
}
void* ReadLink(const void* block) {
    void* link;
    Unpoison(block, sizeof link);
    std::memcpy(&link, block, sizeof link);
    Poison(block, sizeof link);
    return link;
}
void WriteLink(void* block, void* link) {
    Unpoison(block, sizeof link);
    std::memcpy(block, &link, sizeof link);
    Poison(block, sizeof link);
}

std::size_t SmallClassIndex(std::size_t bytes) {
    return (bytes == 0 ? 0 : (bytes + 3) / 4 - 1);
}

// Medium bins, two per octave: index 2k is 3 * 2^(k+5), index 2k+1 is 2^(k+7).
std::size_t MediumBinIndex(std::size_t bytes) {
    unsigned octave = static_cast<unsigned>(std::bit_width(bytes - 1));  // 2^octave >= bytes
    std::size_t lowerBin = std::size_t{3} << (octave - 2);
    return 2 * (octave - 7) + (bytes <= lowerBin ? 0 : 1);
}
std::size_t MediumBinSize(std::size_t index) {
    return index % 2 == 0 ? std::size_t{3} << (index / 2 + 5) : std::size_t{1} << (index / 2 + 7);
}

// The region size of a large block, or 0 when `bytes` cannot be served at all.
std::size_t LargeRegionBytes(std::size_t bytes) {
    constexpr std::size_t kRegion = Platform::kRegionSize;
    if (bytes > std::numeric_limits<std::size_t>::max() - kLargeHeaderSize - kRegion) {
        return 0;
    }
    return (bytes + kLargeHeaderSize + kRegion - 1) / kRegion * kRegion;
}

constinit BindingPageSource pageSource;

// A string record with its text and NUL after it, rounded so that the block
// size class keeps the record aligned.
std::size_t StringBlockSize(std::size_t textSize) {
    constexpr std::size_t kAlign = alignof(BindingInternedString);
    return (sizeof(BindingInternedString) + textSize + 1 + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

// ---- page source -----------------------------------------------------------

// Lives in page 0 of its region, which is never handed out. Guarded by the
// source's mutex.
struct BindingPageSource::PageRegion {
    PageRegion* prev;
    PageRegion* next;
    std::uint32_t freeMask;  // bit i: page i is free (bit 0, the header, never)
    std::uint32_t freeCount;
    std::int64_t emptiedAt;  // monotonic time it fell wholly free
};

// At the start of a slab while it is free. Guarded by the source's mutex.
struct BindingPageSource::FreeSlab {
    FreeSlab* prev;
    FreeSlab* next;
    std::int64_t freedAt;  // monotonic time it came back
};

namespace {
constexpr std::uint32_t kAllPagesFree =
    ((std::uint32_t{1} << BindingPageSource::kPagesPerRegion) - 1) & ~std::uint32_t{1};
constexpr std::uint32_t kUsablePages = BindingPageSource::kPagesPerRegion - 1;
}  // namespace

BindingPageSource& BindingPageSource::Instance() {
    return pageSource;
}

BindingPageSource::PageRegion* BindingPageSource::RegionOf(void* page) noexcept {
    return reinterpret_cast<PageRegion*>(reinterpret_cast<std::uintptr_t>(page) &
                                         ~std::uintptr_t{kSlabSize - 1});
}

void BindingPageSource::Unlink(PageRegion*& list, PageRegion* region) noexcept {
    if (region->prev != nullptr) {
        region->prev->next = region->next;
    } else {
        list = region->next;
    }
    if (region->next != nullptr) {
        region->next->prev = region->prev;
    }
}

void BindingPageSource::Push(PageRegion*& list, PageRegion* region) noexcept {
    region->prev = nullptr;
    region->next = list;
    if (list != nullptr) {
        list->prev = region;
    }
    list = region;
}

void BindingPageSource::ReturnRegions(void* chain) noexcept {
    while (chain != nullptr) {
        void* next = ReadLink(chain);
        // Freed pages and slabs were poisoned; the shadow outlives the mapping.
        Unpoison(chain, kSlabSize);
        Platform::ReleaseRegion(chain, kSlabSize);
        chain = next;
    }
}

void* BindingPageSource::AcquirePage() {
    Platform::MutexLock lock(mutex_);
    if (pendingPages_ != nullptr) {
        // Still counted in use by its region: nothing to update there.
        void* page = pendingPages_;
        pendingPages_ = ReadLink(page);
        --freePageCount_;
        Unpoison(page, kPageSize);
        return page;
    }
    PageRegion* region = partialRegions_;
    if (region == nullptr && emptyRegions_ != nullptr) {
        region = emptyRegions_;
        if (emptyTail_ == region) {
            emptyTail_ = nullptr;
        }
        Unlink(emptyRegions_, region);
        --emptyRegionCount_;
        Push(partialRegions_, region);
    }
    if (region == nullptr) {
        region = static_cast<PageRegion*>(Platform::ReserveRegion(kSlabSize));
        if (region == nullptr) {
            return nullptr;
        }
        ++regionsReserved_;
        region->freeMask = kAllPagesFree;
        region->freeCount = kUsablePages;
        Poison(reinterpret_cast<unsigned char*>(region) + kPageSize, kSlabSize - kPageSize);
        freePageCount_ += kUsablePages;
        Push(partialRegions_, region);
    }
    const int index = std::countr_zero(region->freeMask);
    region->freeMask &= ~(std::uint32_t{1} << index);
    --freePageCount_;
    if (--region->freeCount == 0) {
        Unlink(partialRegions_, region);  // full: on no list until a page comes back
    }
    void* page = reinterpret_cast<unsigned char*>(region) + index * kPageSize;
    Unpoison(page, kPageSize);
    return page;
}

void* BindingPageSource::AcquireSlab() {
    {
        Platform::MutexLock lock(mutex_);
        if (freeSlabs_ != nullptr) {
            FreeSlab* slab = freeSlabs_;
            freeSlabs_ = slab->next;
            if (freeSlabs_ != nullptr) {
                freeSlabs_->prev = nullptr;
            } else {
                slabTail_ = nullptr;
            }
            --freeSlabCount_;
            Unpoison(slab, kSlabSize);
            return slab;
        }
    }
    void* region = Platform::ReserveRegion(kSlabSize);
    if (region != nullptr) {
        Platform::MutexLock lock(mutex_);
        ++regionsReserved_;
    }
    return region;
}

// Why the delay: a region that falls wholly free is kept a moment before it
// goes back to the system (beyond the cache). A program that parses and drops
// documents of one size over and over, or drops a tree and its copy one after
// the other, reuses the same regions instead of unmapping them and faulting
// them in again (which doubled the parse time of a 5 MB document). A one-off
// large tree's regions go back at the first release after the delay.
// Why pages wait in a chain: giving pages back to their regions costs a visit
// to each page and its region. Released pages first join the chain of pending
// pages as they come (one splice), and AcquirePage serves from it first; only
// once the chain has waited for the delay without running empty are its pages
// put back into their regions, and regions that fall wholly free beyond the
// cache go back to the system. A program that keeps needing as many pages as
// it drops keeps draining the chain and never pays for either.
void BindingPageSource::ReleasePages(void* first, void* last, std::size_t count) noexcept {
    if (first == nullptr) {
        return;
    }
    const std::int64_t now = Platform::MonotonicNanoseconds();
    void* giveBack = nullptr;
    KeptRegion staleLarge[kMaxKeptLarge] = {};
    std::size_t staleLargeCount = 0;
    {
        Platform::MutexLock lock(mutex_);
        staleLargeCount = TakeStaleLarge(now, staleLarge);
        if (pendingPages_ == nullptr) {
            pendingSince_ = now;
        }
        WriteLink(last, pendingPages_);
        pendingPages_ = first;
        freePageCount_ += count;
        if (now - pendingSince_ >= returnDelay_) {
            SettlePendingPages(now);
        }
        // Oldest first, while more than the cache is kept: what has been free
        // for the delay goes. (Newest first in the list, so the walk stops at
        // the first region still within the delay.)
        while (emptyRegionCount_ > kCachedPageRegions && emptyTail_ != nullptr &&
               now - emptyTail_->emptiedAt >= returnDelay_) {
            PageRegion* region = emptyTail_;
            emptyTail_ = region->prev;
            Unlink(emptyRegions_, region);
            --emptyRegionCount_;
            freePageCount_ -= kUsablePages;
            ++regionsReturned_;
            WriteLink(region, giveBack);
            giveBack = region;
        }
    }
    ReturnRegions(giveBack);
    ReturnLarge(staleLarge, staleLargeCount);
}

void BindingPageSource::SettlePendingPages(std::int64_t now) noexcept {
    for (void* page = pendingPages_; page != nullptr;) {
        void* next = ReadLink(page);  // the chain's link, in the page's first word
        PageRegion* region = RegionOf(page);
        const auto index = static_cast<unsigned>(
            (reinterpret_cast<std::uintptr_t>(page) - reinterpret_cast<std::uintptr_t>(region)) /
            kPageSize);
        region->freeMask |= std::uint32_t{1} << index;
        if (region->freeCount++ == 0) {
            Push(partialRegions_, region);
        }
        if (region->freeCount == kUsablePages) {
            // Its pages have waited out the delay in the chain: free to go.
            Unlink(partialRegions_, region);
            region->emptiedAt = now - returnDelay_;
            Push(emptyRegions_, region);
            if (emptyTail_ == nullptr) {
                emptyTail_ = region;
            }
            ++emptyRegionCount_;
        }
        page = next;
    }
    pendingPages_ = nullptr;
}

void BindingPageSource::ReleaseSlabs(void* first, void* last, std::size_t count) noexcept {
    if (first == nullptr) {
        return;
    }
    (void)last;
    (void)count;
    const std::int64_t now = Platform::MonotonicNanoseconds();
    void* giveBack = nullptr;
    {
        Platform::MutexLock lock(mutex_);
        for (void* slab = first; slab != nullptr;) {
            void* next = ReadLink(slab);  // the chain's link, in the slab's first word
            // The bookkeeping stays addressable while the slab is free; the
            // rest of it stays poisoned.
            Unpoison(slab, sizeof(FreeSlab));
            auto* node = ::new (slab) FreeSlab{nullptr, freeSlabs_, now};
            if (freeSlabs_ != nullptr) {
                freeSlabs_->prev = node;
            } else {
                slabTail_ = node;
            }
            freeSlabs_ = node;
            ++freeSlabCount_;
            slab = next;
        }
        // As for page regions: the oldest beyond the cache, once free for the delay.
        while (freeSlabCount_ > kCachedSlabs && slabTail_ != nullptr &&
               now - slabTail_->freedAt >= returnDelay_) {
            FreeSlab* node = slabTail_;
            slabTail_ = node->prev;
            if (slabTail_ != nullptr) {
                slabTail_->next = nullptr;
            } else {
                freeSlabs_ = nullptr;
            }
            --freeSlabCount_;
            ++regionsReturned_;
            WriteLink(node, giveBack);
            giveBack = node;
        }
    }
    ReturnRegions(giveBack);
}

void BindingPageSource::SetReturnDelay(std::int64_t nanoseconds) noexcept {
    Platform::MutexLock lock(mutex_);
    returnDelay_ = nanoseconds;
}

void* BindingPageSource::AcquireLarge(std::size_t bytes, std::size_t* regionBytes) {
    {
        Platform::MutexLock lock(mutex_);
        KeptRegion* best = nullptr;
        for (KeptRegion& kept : kept_) {
            if (kept.bytes >= bytes && kept.bytes / 2 <= bytes &&
                (best == nullptr || kept.bytes < best->bytes)) {
                best = &kept;
            }
        }
        if (best != nullptr) {
            void* region = best->region;
            *regionBytes = best->bytes;
            keptLargeBytes_ -= best->bytes;
            largeBytesInUse_ += best->bytes;
            *best = KeptRegion{};
            Unpoison(region, *regionBytes);
            return region;
        }
    }
    *regionBytes = bytes;
    void* region = Platform::ReserveRegion(bytes);
    if (region != nullptr) {
        Platform::MutexLock lock(mutex_);
        largeBytesInUse_ += bytes;
    }
    return region;
}

void BindingPageSource::ReleaseLarge(void* region, std::size_t bytes) noexcept {
    const std::int64_t now = Platform::MonotonicNanoseconds();
    KeptRegion giveBack[kMaxKeptLarge + 1] = {};
    std::size_t giveBackCount = 0;
    {
        Platform::MutexLock lock(mutex_);
        largeBytesInUse_ -= bytes;
        // The slot to use: a free one, else the one of the smallest region
        // if that is smaller than this one (recent sizes are likelier asked).
        KeptRegion* slot = &kept_[0];
        for (KeptRegion& kept : kept_) {
            if (kept.bytes < slot->bytes) {
                slot = &kept;
            }
        }
        if (slot->bytes < bytes && bytes <= kMaxKeptLargeBytes - (keptLargeBytes_ - slot->bytes)) {
            KeptRegion evicted = *slot;
            *slot = KeptRegion{region, bytes, now};
            keptLargeBytes_ += bytes - evicted.bytes;
            Poison(region, bytes);
            region = evicted.region;
            bytes = evicted.bytes;
        }
        if (region != nullptr && bytes != 0) {
            giveBack[giveBackCount++] = KeptRegion{region, bytes, now};
        }
        giveBackCount += TakeStaleLarge(now, giveBack + giveBackCount);
    }
    ReturnLarge(giveBack, giveBackCount);
}

std::size_t BindingPageSource::TakeStaleLarge(std::int64_t now, KeptRegion* out) noexcept {
    std::size_t count = 0;
    for (KeptRegion& kept : kept_) {
        if (keptLargeBytes_ <= kCachedLargeBytes) {
            break;
        }
        if (kept.bytes != 0 && now - kept.keptAt >= returnDelay_) {
            keptLargeBytes_ -= kept.bytes;
            out[count++] = kept;
            kept = KeptRegion{};
        }
    }
    return count;
}

void BindingPageSource::ReturnLarge(const KeptRegion* regions, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        // A kept region was poisoned; the shadow outlives the mapping, and
        // the system may map the same addresses again for a fresh region.
        Unpoison(regions[i].region, regions[i].bytes);
        Platform::ReleaseRegion(regions[i].region, regions[i].bytes);
    }
}

BindingPageSource::Stats BindingPageSource::ReadStats() {
    Platform::MutexLock lock(mutex_);
    const std::size_t held = regionsReserved_ - regionsReturned_;
    return Stats{regionsReserved_,
                 regionsReturned_,
                 held,
                 freePageCount_,
                 freeSlabCount_,
                 keptLargeBytes_,
                 held * kSlabSize + keptLargeBytes_ + largeBytesInUse_};
}

// ---- arena -----------------------------------------------------------------

// The first word must stay the arena link: the page list is handed to the page
// source as a chain as it is.
struct BindingPropertyArena::PageHeader {
    PageHeader* nextInArena;
    PageHeader* nextPartial;
    std::uint16_t blockSize;
    std::uint16_t capacity;
    std::uint16_t bump;      // blocks ever handed out
    std::uint16_t freeHead;  // index of the first free block, kNoBlock if none

    static constexpr std::size_t kBlocksOffset = 32;
    unsigned char* Block(std::size_t index) {
        return reinterpret_cast<unsigned char*>(this) + kBlocksOffset + index * blockSize;
    }
    bool Full() const { return freeHead == kNoBlock && bump == capacity; }
};

struct BindingPropertyArena::SlabNode {
    void* slab;
    SlabNode* next;
};

struct BindingPropertyArena::LargeHeader {
    LargeHeader* prev;
    LargeHeader* next;
    std::size_t regionBytes;
};

BindingPropertyArena* BindingPropertyArena::Create() {
    void* memory = Memory::Allocate(sizeof(BindingPropertyArena));
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return ::new (memory) BindingPropertyArena();
}

void BindingPropertyArena::Destroy(BindingPropertyArena* arena) noexcept {
    if (arena == nullptr) {
        return;
    }
    arena->ReleaseStorage();
    arena->~BindingPropertyArena();
    Unpoison(arena, sizeof(BindingPropertyArena));
    Memory::Free(arena);
}

BindingPropertyArena::BindingPropertyArena() {
    static_assert(sizeof(PageHeader) <= PageHeader::kBlocksOffset);
    static_assert(sizeof(LargeHeader) <= kLargeHeaderSize);
    InitState();
}

void BindingPropertyArena::InitState() noexcept {
    for (SizeClass& sizeClass : small_) {
        sizeClass.partial = nullptr;
        sizeClass.inlineFree = kNoBlock;
        sizeClass.inlineBump = 0;
        Poison(sizeClass.chunk, kInlineChunkSize);
    }
    for (void*& head : mediumFree_) {
        head = nullptr;
    }
    bump_ = bumpEnd_ = nullptr;
    pages_ = lastPage_ = nullptr;
    slabs_ = nullptr;
    large_ = nullptr;
    pageCount_ = mediumPageCount_ = slabCount_ = largeCount_ = 0;
    recent_ = nullptr;
    table_ = nullptr;
    tableHashes_ = nullptr;
    tableCapacity_ = tableCount_ = 0;
    overflow_ = nullptr;  // its nodes went with the pages, no destructor needed
    overflowCount_ = 0;
    internProbes_ = 0;
}

void BindingPropertyArena::ReleaseStorage() noexcept {
    for (LargeHeader* large = large_; large != nullptr;) {
        LargeHeader* next = large->next;
        BindingPageSource::Instance().ReleaseLarge(large, large->regionBytes);
        large = next;
    }
    // Slab nodes live in small-class pages: relink the slabs through their own
    // first words before the pages go.
    void* firstSlab = nullptr;
    void* lastSlab = nullptr;
    for (SlabNode* node = slabs_; node != nullptr; node = node->next) {
        if (lastSlab == nullptr) {
            lastSlab = node->slab;
        }
        WriteLink(node->slab, firstSlab);
        firstSlab = node->slab;
    }
    for (void* slab = firstSlab; slab != nullptr;) {
        void* next = ReadLink(slab);
        Poison(slab, BindingPageSource::kSlabSize);
        slab = next;
    }
    for (PageHeader* page = pages_; page != nullptr;) {
        PageHeader* next = page->nextInArena;
        Poison(page, BindingPageSource::kPageSize);
        page = next;
    }
    BindingPageSource& source = BindingPageSource::Instance();
    source.ReleaseSlabs(firstSlab, lastSlab, slabCount_);
    source.ReleasePages(pages_, lastPage_, pageCount_);
}

void BindingPropertyArena::Reset() noexcept {
    ReleaseStorage();
    InitState();
}

std::size_t BindingPropertyArena::UsableSize(std::size_t bytes) {
    if (bytes <= kSmallMax) {
        return (SmallClassIndex(bytes) + 1) * 4;
    }
    if (bytes <= kMediumMax) {
        return MediumBinSize(MediumBinIndex(bytes));
    }
    std::size_t region = LargeRegionBytes(bytes);
    return region == 0 ? bytes : region - kLargeHeaderSize;
}

void* BindingPropertyArena::Allocate(std::size_t bytes) {
    void* block;
    if (bytes <= kSmallMax) {
        block = AllocateSmall(SmallClassIndex(bytes));
    } else if (bytes <= kMediumMax) {
        block = AllocateMedium(MediumBinIndex(bytes));
    } else {
        return AllocateLarge(bytes);
    }
#if defined(__SANITIZE_ADDRESS__)
    // Sized under the sanitizer only: elsewhere the out-of-line UsableSize
    // call per block bought nothing, and cost 5-8% of building a large tree.
    Unpoison(block, UsableSize(bytes));
#endif
    return block;
}

void BindingPropertyArena::Deallocate(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) {
        return;
    }
#if defined(__SANITIZE_ADDRESS__)
    if (bytes <= kMediumMax) {
        Poison(block, UsableSize(bytes));
    }
#endif
    if (bytes <= kSmallMax) {
        DeallocateSmall(block, SmallClassIndex(bytes));
    } else if (bytes <= kMediumMax) {
        std::size_t index = MediumBinIndex(bytes);
        WriteLink(block, mediumFree_[index]);
        mediumFree_[index] = block;
    } else {
        DeallocateLarge(block);
    }
}

void* BindingPropertyArena::AllocateSmall(std::size_t index) {
    SizeClass& sizeClass = small_[index];
    const std::size_t blockSize = (index + 1) * 4;
    if (sizeClass.inlineFree != kNoBlock) {
        unsigned char* block = sizeClass.chunk + sizeClass.inlineFree * blockSize;
        sizeClass.inlineFree = ReadIndex(block);
        return block;
    }
    if (sizeClass.inlineBump < kInlineChunkSize / blockSize) {
        return sizeClass.chunk + blockSize * sizeClass.inlineBump++;
    }
    PageHeader* page = sizeClass.partial;
    if (page == nullptr) {
        page = static_cast<PageHeader*>(BindingPageSource::Instance().AcquirePage());
        if (page == nullptr) {
            throw std::bad_alloc();
        }
        Poison(reinterpret_cast<unsigned char*>(page) + PageHeader::kBlocksOffset,
               BindingPageSource::kPageSize - PageHeader::kBlocksOffset);
        page->nextInArena = pages_;
        page->nextPartial = nullptr;
        page->blockSize = static_cast<std::uint16_t>(blockSize);
        page->capacity = static_cast<std::uint16_t>(
            (BindingPageSource::kPageSize - PageHeader::kBlocksOffset) / blockSize);
        page->bump = 0;
        page->freeHead = kNoBlock;
        if (pages_ == nullptr) {
            lastPage_ = page;
        }
        pages_ = page;
        ++pageCount_;
        sizeClass.partial = page;
    }
    unsigned char* block;
    if (page->freeHead != kNoBlock) {
        block = page->Block(page->freeHead);
        page->freeHead = ReadIndex(block);
    } else {
        block = page->Block(page->bump++);
    }
    if (page->Full()) {
        sizeClass.partial = page->nextPartial;  // back on the list when a block is freed
    }
    return block;
}

void BindingPropertyArena::DeallocateSmall(void* block, std::size_t index) noexcept {
    SizeClass& sizeClass = small_[index];
    const std::size_t blockSize = (index + 1) * 4;
    auto* bytes = static_cast<unsigned char*>(block);
    auto chunkAddress = reinterpret_cast<std::uintptr_t>(sizeClass.chunk);
    auto address = reinterpret_cast<std::uintptr_t>(block);
    if (address - chunkAddress < kInlineChunkSize) {
        WriteIndex(bytes, sizeClass.inlineFree);
        sizeClass.inlineFree = static_cast<std::uint16_t>((address - chunkAddress) / blockSize);
        return;
    }
    auto* page =
        reinterpret_cast<PageHeader*>(address & ~std::uintptr_t{BindingPageSource::kPageSize - 1});
    bool wasFull = page->Full();
    WriteIndex(bytes, page->freeHead);
    page->freeHead = static_cast<std::uint16_t>(
        (address - reinterpret_cast<std::uintptr_t>(page->Block(0))) / blockSize);
    if (wasFull) {
        page->nextPartial = sizeClass.partial;
        sizeClass.partial = page;
    }
}

void* BindingPropertyArena::AllocateMedium(std::size_t index) {
    if (void* block = mediumFree_[index]) {
        mediumFree_[index] = ReadLink(block);
        return block;
    }
    const std::size_t blockSize = MediumBinSize(index);
    if (static_cast<std::size_t>(bumpEnd_ - bump_) < blockSize) {
        if (blockSize <= kMediumPageBlockMax && slabCount_ == 0 &&
            mediumPageCount_ < kMediumPageLimit) {
            StartMediumPage();
        } else {
            StartSlab();
        }
    }
    void* block = bump_;
    bump_ += blockSize;
    return block;
}

void BindingPropertyArena::RetireBumpTail() noexcept {
    // The tail of the old bump region still serves smaller bins.
    for (std::size_t bin = kMediumBinCount; bin-- > 0;) {
        std::size_t size = MediumBinSize(bin);
        while (static_cast<std::size_t>(bumpEnd_ - bump_) >= size) {
            WriteLink(bump_, mediumFree_[bin]);
            mediumFree_[bin] = bump_;
            bump_ += size;
        }
    }
}

void BindingPropertyArena::StartMediumPage() {
    auto* page = static_cast<unsigned char*>(BindingPageSource::Instance().AcquirePage());
    if (page == nullptr) {
        throw std::bad_alloc();
    }
    RetireBumpTail();
    // Only the first word is used: the arena's page chain runs through it.
    static_assert(sizeof(PageHeader*) <= kMediumPageOffset);
    auto* header = reinterpret_cast<PageHeader*>(page);
    header->nextInArena = pages_;
    if (pages_ == nullptr) {
        lastPage_ = header;
    }
    pages_ = header;
    ++pageCount_;
    ++mediumPageCount_;
    Poison(page + kMediumPageOffset, BindingPageSource::kPageSize - kMediumPageOffset);
    bump_ = page + kMediumPageOffset;
    bumpEnd_ = page + BindingPageSource::kPageSize;
}

void BindingPropertyArena::StartSlab() {
    auto* node = static_cast<SlabNode*>(Allocate(sizeof(SlabNode)));
    auto* slab = static_cast<unsigned char*>(BindingPageSource::Instance().AcquireSlab());
    if (slab == nullptr) {
        Deallocate(node, sizeof(SlabNode));
        throw std::bad_alloc();
    }
    RetireBumpTail();
    Poison(slab, BindingPageSource::kSlabSize);
    node->slab = slab;
    node->next = slabs_;
    slabs_ = node;
    ++slabCount_;
    bump_ = slab;
    bumpEnd_ = slab + BindingPageSource::kSlabSize;
}

void* BindingPropertyArena::AllocateLarge(std::size_t bytes) {
    std::size_t regionBytes = LargeRegionBytes(bytes);
    void* region = regionBytes == 0
                       ? nullptr
                       : BindingPageSource::Instance().AcquireLarge(regionBytes, &regionBytes);
    if (region == nullptr) {
        throw std::bad_alloc();
    }
    auto* header = static_cast<LargeHeader*>(region);
    header->prev = nullptr;
    header->next = large_;
    header->regionBytes = regionBytes;
    if (large_ != nullptr) {
        large_->prev = header;
    }
    large_ = header;
    ++largeCount_;
    return static_cast<unsigned char*>(region) + kLargeHeaderSize;
}

void BindingPropertyArena::DeallocateLarge(void* block) noexcept {
    auto* header =
        reinterpret_cast<LargeHeader*>(static_cast<unsigned char*>(block) - kLargeHeaderSize);
    if (header->prev != nullptr) {
        header->prev->next = header->next;
    } else {
        large_ = header->next;
    }
    if (header->next != nullptr) {
        header->next->prev = header->prev;
    }
    --largeCount_;
    BindingPageSource::Instance().ReleaseLarge(header, header->regionBytes);
}

// ---- interned strings -------------------------------------------------------

const BindingInternedString& BindingInternedString::Empty() {
    static constinit const BindingInternedString empty;
    return empty;
}

// ---- intern table -----------------------------------------------------------

namespace {

std::atomic<BindingPropertyArena::BucketHashFunction> bucketHashForTesting{nullptr};

// The slot of a paired table: its record beside its keyed hash.
struct PairedSlot {
    BindingInternedString* record;
    std::uint32_t keyed;
};

// A table's slots, in either layout: `hashes` is null for a paired table,
// whose `records` are PairedSlots.
inline std::uint32_t KeyedAt(BindingInternedString** records, const std::uint32_t* hashes,
                             std::uint32_t slot) {
    return hashes != nullptr ? hashes[slot]
                             : reinterpret_cast<const PairedSlot*>(records)[slot].keyed;
}
inline BindingInternedString* RecordAt(BindingInternedString** records, const std::uint32_t* hashes,
                                       std::uint32_t slot) {
    return hashes != nullptr ? records[slot]
                             : reinterpret_cast<const PairedSlot*>(records)[slot].record;
}
inline void SetAt(BindingInternedString** records, std::uint32_t* hashes, std::uint32_t slot,
                  BindingInternedString* record, std::uint32_t keyed) {
    if (hashes != nullptr) {
        records[slot] = record;
        hashes[slot] = keyed;
    } else {
        reinterpret_cast<PairedSlot*>(records)[slot] = PairedSlot{record, keyed};
    }
}

}  // namespace

void BindingPropertyArena::SetBucketHashForTesting(BucketHashFunction function) noexcept {
    bucketHashForTesting.store(function, std::memory_order_relaxed);
}

std::uint32_t BindingPropertyArena::BucketHash(std::string_view text) const noexcept {
    if (BucketHashFunction replaced = bucketHashForTesting.load(std::memory_order_relaxed)) {
        const std::uint32_t hash = replaced(text);
        return hash == kEmptySlot ? 1 : hash;
    }
    const std::uint64_t hash = detail::KeyedHash(detail::ProcessHashKey(), text);
    const auto folded = static_cast<std::uint32_t>(hash ^ (hash >> 32));
    return folded == kEmptySlot ? 1 : folded;
}

// Records that did not fit within kMaxProbe slots of their home. Nodes are
// blocks of this arena; the tree is never destroyed on its own, it goes with
// the arena's pages.
struct BindingPropertyArena::OverflowTree {
    struct Entry {
        std::uint32_t keyed;
        BindingInternedString* record;
    };
    struct Key {
        std::uint32_t keyed;
        std::string_view text;
    };
    // Keyed hash, then size, then bytes: a total order, so even texts of one
    // identical hash are found in O(log n) comparisons. Counts each one.
    struct Less {
        using is_transparent = void;
        std::uint64_t* probes;
        static Key Of(const Entry& entry) { return {entry.keyed, entry.record->View()}; }
        static Key Of(const Key& key) { return key; }
        template <class A, class B>
        bool operator()(const A& left, const B& right) const {
            ++*probes;
            const Key l = Of(left);
            const Key r = Of(right);
            if (l.keyed != r.keyed) {
                return l.keyed < r.keyed;
            }
            if (l.text.size() != r.text.size()) {
                return l.text.size() < r.text.size();
            }
            return std::memcmp(l.text.data(), r.text.data(), l.text.size()) < 0;
        }
    };
    template <class T>
    struct Allocator {
        using value_type = T;
        BindingPropertyArena* arena;
        explicit Allocator(BindingPropertyArena* owner) : arena(owner) {}
        template <class U>
        Allocator(const Allocator<U>& other) : arena(other.arena) {}
        T* allocate(std::size_t count) {
            return static_cast<T*>(arena->Allocate(count * sizeof(T)));
        }
        void deallocate(T* block, std::size_t count) noexcept {
            arena->Deallocate(block, count * sizeof(T));
        }
        bool operator==(const Allocator& other) const { return arena == other.arena; }
    };
    std::set<Entry, Less, Allocator<Entry>> entries;

    explicit OverflowTree(BindingPropertyArena* arena)
        : entries(Less{&arena->internProbes_}, Allocator<Entry>(arena)) {}

    // 1 when `text` was there, else 0.
    std::size_t Erase(std::uint32_t keyed, std::string_view text) {
        auto found = entries.find(Key{keyed, text});
        if (found == entries.end()) {
            return 0;
        }
        entries.erase(found);
        return 1;
    }
};

void BindingPropertyArena::ReserveStrings(std::size_t count) {
    if (count > (std::size_t{1} << 30)) {
        count = std::size_t{1} << 30;
    }
    std::size_t capacity = tableCapacity_ == 0 ? 8 : tableCapacity_;
    while (count * 2 > capacity) {
        capacity *= 2;
    }
    if (capacity > tableCapacity_) {
        Rehash(static_cast<std::uint32_t>(capacity));
    }
}

std::size_t BindingPropertyArena::TableBytes(std::uint32_t capacity) {
    return std::size_t{capacity} * (capacity >= kPairedMinCapacity
                                        ? sizeof(PairedSlot)
                                        : sizeof(void*) + sizeof(std::uint32_t));
}

void BindingPropertyArena::Rehash(std::uint32_t capacity) {
    static_assert(kEmptySlot == 0, "a zeroed table is an empty one");
    const std::size_t bytes = TableBytes(capacity);
    auto* table = static_cast<BindingInternedString**>(Allocate(bytes));
    std::memset(static_cast<void*>(table), 0, bytes);
    BindingInternedString** oldTable = table_;
    std::uint32_t* oldHashes = tableHashes_;
    const std::uint32_t oldCapacity = tableCapacity_;
    const std::uint32_t oldCount = tableCount_;
    table_ = table;
    tableHashes_ = capacity >= kPairedMinCapacity
                       ? nullptr
                       : reinterpret_cast<std::uint32_t*>(table + capacity);
    tableCapacity_ = capacity;
    tableCount_ = 0;
    // Records already in the overflow tree stay there; it is searched after
    // the table in any case.
    std::uint32_t moved = 0;
    try {
        for (; moved < oldCapacity; ++moved) {
            const std::uint32_t keyed = KeyedAt(oldTable, oldHashes, moved);
            if (keyed != kEmptySlot) {
                BindingInternedString* record = RecordAt(oldTable, oldHashes, moved);
                if (!PlaceInTable(record, keyed)) {
                    AddToOverflow(record, keyed);
                }
            }
        }
    } catch (...) {
        // Out of memory for a tree node: take back what went to the tree and
        // keep the old table, so every record stays findable exactly once.
        for (std::uint32_t i = 0; i < moved; ++i) {
            const std::uint32_t keyed = KeyedAt(oldTable, oldHashes, i);
            if (BindingInternedString* record = RecordAt(oldTable, oldHashes, i);
                keyed != kEmptySlot && FindInTable(record->View(), keyed) != record) {
                overflowCount_ -= overflow_->Erase(keyed, record->View());
            }
        }
        Deallocate(table, bytes);
        table_ = oldTable;
        tableHashes_ = oldHashes;
        tableCapacity_ = oldCapacity;
        tableCount_ = oldCount;
        throw;
    }
    Deallocate(oldTable, TableBytes(oldCapacity));
    if (recent_ == nullptr && capacity >= kRecentMinCapacity) {
        try {
            recent_ = static_cast<BindingInternedString**>(
                Allocate(kRecentSlots * sizeof(BindingInternedString*)));
            std::memset(static_cast<void*>(recent_), 0, kRecentSlots * sizeof(*recent_));
        } catch (const std::bad_alloc&) {
            recent_ = nullptr;  // a shortcut only: interning works without it
        }
    }
}

std::size_t BindingPropertyArena::RecentSlot(std::string_view text) noexcept {
    // The first and last (up to) 8 bytes and the length; texts are not empty.
    // Fixed-size loads only: a copy of a variable size stalls the load after it.
    const std::size_t size = text.size();
    const char* data = text.data();
    std::uint64_t head;
    std::uint64_t tail;
    if (size >= 8) {
        std::memcpy(&head, data, 8);
        std::memcpy(&tail, data + size - 8, 8);
    } else if (size >= 4) {
        std::uint32_t low;
        std::uint32_t high;
        std::memcpy(&low, data, 4);
        std::memcpy(&high, data + size - 4, 4);
        head = low;
        tail = high;
    } else {
        head = static_cast<unsigned char>(data[0]);
        tail = (static_cast<std::uint64_t>(static_cast<unsigned char>(data[size / 2])) << 8) |
               static_cast<unsigned char>(data[size - 1]);
    }
    const std::uint64_t mixed =
        (head ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ size) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(mixed >> 56);  // 256 slots
}

BindingInternedString* BindingPropertyArena::FindInTable(std::string_view text,
                                                         std::uint32_t keyed) noexcept {
    // Only the keyed hashes are read until one matches: a probe run stays
    // within a cache line or two.
    BindingInternedString** const records = table_;
    const std::uint32_t* const hashes = tableHashes_;
    const std::uint32_t mask = tableCapacity_ - 1;
    std::uint32_t slot = keyed & mask;
    for (std::uint32_t probe = 0; probe < kMaxProbe; ++probe, slot = (slot + 1) & mask) {
        const std::uint32_t stored = KeyedAt(records, hashes, slot);
        ++internProbes_;
        if (stored == kEmptySlot) {
            return nullptr;
        }
        if (stored == keyed) {
            BindingInternedString* record = RecordAt(records, hashes, slot);
            if (record->size_ == text.size() &&
                std::memcmp(record->data_, text.data(), text.size()) == 0) {
                return record;
            }
        }
    }
    return nullptr;
}

bool BindingPropertyArena::PlaceInTable(BindingInternedString* record,
                                        std::uint32_t keyed) noexcept {
    const std::uint32_t mask = tableCapacity_ - 1;
    std::uint32_t slot = keyed & mask;
    for (std::uint32_t probe = 0; probe < kMaxProbe; ++probe, slot = (slot + 1) & mask) {
        ++internProbes_;
        if (KeyedAt(table_, tableHashes_, slot) == kEmptySlot) {
            SetAt(table_, tableHashes_, slot, record, keyed);
            ++tableCount_;
            return true;
        }
    }
    return false;
}

void BindingPropertyArena::AddToOverflow(BindingInternedString* record, std::uint32_t keyed) {
    if (overflow_ == nullptr) {
        overflow_ = ::new (Allocate(sizeof(OverflowTree))) OverflowTree(this);
    }
    overflow_->entries.insert(OverflowTree::Entry{keyed, record});
    ++overflowCount_;
}

const BindingInternedString* BindingPropertyArena::Intern(std::string_view text,
                                                          const std::uint32_t* hash) {
    if (text.empty()) {
        return &BindingInternedString::Empty();
    }
    BindingInternedString** recent = nullptr;
    if (recent_ != nullptr) {
        recent = &recent_[RecentSlot(text)];
        ++internProbes_;
        if (BindingInternedString* record = *recent;
            record != nullptr && record->size_ == text.size() &&
            std::memcmp(record->data_, text.data(), text.size()) == 0) {
            ++record->refCount_;
            return record;
        }
    }
    return InternInTable(text, hash, BucketHash(text), recent);
}

const BindingInternedString* BindingPropertyArena::InternCopied(const BindingInternedString& text) {
    if (text.size_ == 0) {
        return &BindingInternedString::Empty();
    }
    const std::uint32_t hash = text.hash_.load(std::memory_order_relaxed);
    return InternInTable(text.View(), hash != 0 ? &hash : nullptr, BucketHash(text.View()),
                         nullptr);
}

const BindingInternedString* BindingPropertyArena::InternInTable(std::string_view text,
                                                                 const std::uint32_t* hash,
                                                                 std::uint32_t keyed,
                                                                 BindingInternedString** recent) {
    if (table_ != nullptr) {
        BindingInternedString* record = FindInTable(text, keyed);
        if (record == nullptr && overflow_ != nullptr) {
            auto found = overflow_->entries.find(OverflowTree::Key{keyed, text});
            record = found == overflow_->entries.end() ? nullptr : found->record;
        }
        if (record != nullptr) {
            ++record->refCount_;
            if (recent != nullptr) {
                *recent = record;
            }
            return record;
        }
    }
    if (text.size() > std::numeric_limits<std::size_t>::max() - 2 * sizeof(BindingInternedString)) {
        throw std::bad_alloc();
    }
    if ((std::size_t{tableCount_} + overflowCount_ + 1) * 2 > tableCapacity_) {
        // Before the record is made: a failed growth leaves the table as it was.
        Rehash(tableCapacity_ == 0 ? 8 : tableCapacity_ * 2);
    }
    // Record and text in one block: the text follows the record.
    void* memory = Allocate(StringBlockSize(text.size()));
    auto* record = ::new (memory) BindingInternedString();
    char* chars = static_cast<char*>(memory) + sizeof(BindingInternedString);
    std::memcpy(chars, text.data(), text.size());
    chars[text.size()] = '\0';
    record->data_ = chars;
    record->size_ = text.size();
    record->hash_.store(hash != nullptr ? *hash : 0, std::memory_order_relaxed);
    record->refCount_ = 1;
    if (!PlaceInTable(record, keyed)) {
        try {
            AddToOverflow(record, keyed);
        } catch (...) {
            Deallocate(memory, StringBlockSize(text.size()));
            throw;
        }
    }
    return record;
}

void BindingPropertyArena::AddRef(const BindingInternedString* record) noexcept {
    if (record != &BindingInternedString::Empty()) {
        ++const_cast<BindingInternedString*>(record)->refCount_;
    }
}

void BindingPropertyArena::Release(const BindingInternedString* record) noexcept {
    if (record == &BindingInternedString::Empty()) {
        return;
    }
    auto* owned = const_cast<BindingInternedString*>(record);
    if (--owned->refCount_ != 0) {
        return;
    }
    if (recent_ != nullptr) {
        BindingInternedString*& slot = recent_[RecentSlot(owned->View())];
        if (slot == owned) {
            slot = nullptr;
        }
    }
    const std::uint32_t keyed = BucketHash(owned->View());
    BindingInternedString** const records = table_;
    std::uint32_t* const hashes = tableHashes_;
    const std::uint32_t mask = tableCapacity_ - 1;
    std::uint32_t hole = keyed & mask;
    std::uint32_t probe = 0;
    for (; probe < kMaxProbe && RecordAt(records, hashes, hole) != owned;
         ++probe, hole = (hole + 1) & mask) {
        ++internProbes_;
    }
    if (probe == kMaxProbe) {
        overflowCount_ -= overflow_->Erase(keyed, owned->View());
        Deallocate(owned, StringBlockSize(owned->size_));
        return;
    }
    // Erase with backward shift, so probe chains stay unbroken without
    // tombstones. Entries only move towards their home, so none ends up more
    // than kMaxProbe slots from it.
    for (std::uint32_t next = (hole + 1) & mask, nextKeyed;
         (nextKeyed = KeyedAt(records, hashes, next)) != kEmptySlot; next = (next + 1) & mask) {
        ++internProbes_;
        const std::uint32_t home = nextKeyed & mask;
        // The entry may fill the hole unless its home lies cyclically in (hole, next].
        bool staysPut =
            hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!staysPut) {
            SetAt(records, hashes, hole, RecordAt(records, hashes, next), nextKeyed);
            hole = next;
        }
    }
    SetAt(records, hashes, hole, nullptr, kEmptySlot);
    --tableCount_;
    Deallocate(owned, StringBlockSize(owned->size_));
}

BindingPropertyArena::Stats BindingPropertyArena::ReadStats() const {
    return Stats{
        pageCount_,     mediumPageCount_, slabCount_,   largeCount_, tableCount_ + overflowCount_,
        tableCapacity_, overflowCount_,   internProbes_};
}

}  // namespace Tavo
