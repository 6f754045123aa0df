#include "binding/BindingPropertyArena.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "detail/KeyedHash.h"
#include "platform/MemoryAccounting.h"
#include "tests/binding/CollidingTexts.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

using Tavo::BindingPageSource;
using Tavo::BindingProperty;
using Tavo::BindingPropertyArena;

struct ArenaDeleter {
    void operator()(BindingPropertyArena* arena) const { BindingPropertyArena::Destroy(arena); }
};
using ArenaPtr = std::unique_ptr<BindingPropertyArena, ArenaDeleter>;

// Blocks of every size class, medium bin and large region.
TEST(BindingPropertyArena, BlocksAreDistinctAlignedAndReused) {
    ArenaPtr arena(BindingPropertyArena::Create());
    for (std::size_t size : {4, 12, 24, 72, 96, 200, 5000, 40000, 200000}) {
        SCOPED_TRACE(size);
        std::vector<unsigned char*> blocks;
        for (int i = 0; i < 300; ++i) {
            auto* block = static_cast<unsigned char*>(arena->Allocate(size));
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (size % 8 == 0 ? 8 : 4), 0u);
            std::memset(block, i & 0xFF, size);  // a neighbour's bytes would be overwritten
            blocks.push_back(block);
        }
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i][size - 1], static_cast<unsigned char>(i & 0xFF));
        }
        arena->Deallocate(blocks.back(), size);
        if (size <= BindingPropertyArena::kMediumMax) {
            EXPECT_EQ(arena->Allocate(size), blocks.back());  // the freed block comes back first
        } else {
            blocks.pop_back();
        }
        for (unsigned char* block : blocks) {
            arena->Deallocate(block, size);
        }
    }
    EXPECT_EQ(arena->ReadStats().largeBlocks, 0u);
}

TEST(BindingPropertyArena, InternTableGrowsAndErasesWithoutLosingRecordsUntilReset) {
    ArenaPtr arena(BindingPropertyArena::Create());
    EXPECT_EQ(arena->Intern(""), &Tavo::BindingInternedString::Empty());
    EXPECT_EQ(arena->ReadStats().tableCapacity, 0u);  // the empty text needs no table
    std::vector<const Tavo::BindingInternedString*> records;
    for (int i = 0; i < 5000; ++i) {
        records.push_back(arena->Intern("text" + std::to_string(i)));
    }
    EXPECT_EQ(arena->ReadStats().strings, 5000u);
    // Erase every other record; the rest must still be found (probe chains intact).
    for (int i = 0; i < 5000; i += 2) {
        arena->Release(records[i]);
    }
    for (int i = 1; i < 5000; i += 2) {
        EXPECT_EQ(arena->Intern("text" + std::to_string(i)), records[i]);
    }
    EXPECT_EQ(arena->ReadStats().strings, 2500u);
    EXPECT_STREQ(records[1]->CStr(), "text1");

    // Reset (a root's Clear) gives back every page, slab, large block and text.
    arena->Allocate(100000);
    arena->Reset();
    const BindingPropertyArena::Stats stats = arena->ReadStats();
    EXPECT_EQ(stats.pages + stats.slabs + stats.largeBlocks + stats.strings + stats.tableCapacity,
              0u);
    EXPECT_NE(arena->Intern("text1"), nullptr);
}

// Tables beyond the caches keep each record beside its keyed hash, smaller
// ones in two arrays: records stay findable exactly once across the change of
// layout, through erasing (backward shifts) and the overflow tree alike.
TEST(BindingPropertyArena, LargeTablesChangeLayoutWithoutLosingRecords) {
    struct Row {
        const char* name;
        BindingPropertyArena::BucketHashFunction hash;
    };
    const Row rows[] = {
        {"keyed", nullptr},
        // Homes 256 slots apart: probe runs reach the cap and spill over.
        {"clustered",
         [](std::string_view text) {
             return static_cast<std::uint32_t>(std::hash<std::string_view>{}(text)) & ~0xFFu;
         }},
    };
    constexpr int kTexts = 300000;  // past 2^18 texts, so past 2^19 slots
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BindingPropertyArena::SetBucketHashForTesting(row.hash);
        ArenaPtr arena(BindingPropertyArena::Create());
        std::vector<const Tavo::BindingInternedString*> records;
        records.reserve(kTexts);
        for (int i = 0; i < kTexts; ++i) {
            records.push_back(arena->Intern("text" + std::to_string(i)));
        }
        ASSERT_GE(arena->ReadStats().tableCapacity, std::size_t{1} << 19);
        if (row.hash != nullptr) {
            EXPECT_GT(arena->ReadStats().overflowStrings, std::size_t{kTexts / 4});
        }
        for (int i = 0; i < kTexts; i += 2) {
            arena->Release(records[static_cast<std::size_t>(i)]);
        }
        std::size_t wrong = 0;
        for (int i = 1; i < kTexts; i += 2) {
            const auto* again = arena->Intern("text" + std::to_string(i));
            wrong += again != records[static_cast<std::size_t>(i)];
            arena->Release(again);
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(arena->ReadStats().strings, std::size_t{kTexts / 2});
        for (int i = 0; i < kTexts; i += 2) {  // erased ones come back as new records
            records[static_cast<std::size_t>(i)] = arena->Intern("text" + std::to_string(i));
        }
        EXPECT_EQ(arena->ReadStats().strings, std::size_t{kTexts});
        for (int i = 0; i < kTexts; i += 1000) {
            wrong +=
                arena->Intern("text" + std::to_string(i)) != records[static_cast<std::size_t>(i)];
        }
        EXPECT_EQ(wrong, 0u);
    }
    BindingPropertyArena::SetBucketHashForTesting(nullptr);
    // The tables' regions stay kept by the page source: let what is beyond
    // its cache go now, for the tests that count kept regions.
    BindingPageSource& source = BindingPageSource::Instance();
    source.SetReturnDelay(0);
    ArenaPtr(BindingPropertyArena::Create())->Allocate(BindingPageSource::kSlabSize);
    source.SetReturnDelay(BindingPageSource::kReturnDelay);
    EXPECT_LE(source.ReadStats().keptLargeBytes, BindingPageSource::kCachedLargeBytes);
}

// Building and dropping a tree costs one general-heap block (its arena), and
// the pages it dropped serve the next tree without reserving more regions.
TEST(BindingPropertyArena, TreesCostOneHeapBlockAndReuseDroppedPages) {
    auto buildAndCopy = [] {
        BindingProperty tree;
        for (int i = 0; i < 20000; ++i) {
            BindingProperty& item = tree.Append();
            item.Field("name").SetString("item" + std::to_string(i % 100));
            item.Field("tags").Append().SetString("a much longer text that needs a medium block");
        }
        const BindingProperty copy(tree);
        EXPECT_EQ(copy.Size(), 20000u);
    };
    const Tavo::Memory::Stats before = Tavo::Memory::ReadStats();
    buildAndCopy();
    const Tavo::Memory::Stats after = Tavo::Memory::ReadStats();
    EXPECT_EQ(after.allocations - before.allocations, 2u);  // one arena per tree
    EXPECT_EQ(after.frees - before.frees, 2u);
    const std::size_t reserved = BindingPageSource::Instance().ReadStats().regionsReserved;
    buildAndCopy();
    EXPECT_EQ(BindingPageSource::Instance().ReadStats().regionsReserved, reserved);
}

// Why: the source kept every region it ever reserved, so one large document
// cost its address space for the rest of the process (for good, in a 32-bit
// host). Wholly free regions go back to the system beyond the cache once they
// have been free for the delay (here 0; by default they wait a second, for
// the next tree, and go at the first release after that).
TEST(BindingPageSource, DroppedTreeLeavesAtMostTheCacheHeld) {
    BindingPageSource& source = BindingPageSource::Instance();
    source.SetReturnDelay(0);
    // Regions other tests left free go back first (at the next release), so
    // the tree below takes fresh ones whichever tests ran before.
    {
        ArenaPtr flush(BindingPropertyArena::Create());
        flush->Allocate(BindingPropertyArena::kMediumPageBlockMax);  // a page
        flush->Allocate(BindingPropertyArena::kMediumMax);           // a slab
    }
    const BindingPageSource::Stats before = source.ReadStats();
    const std::size_t cache =
        BindingPageSource::kCachedPageRegions + BindingPageSource::kCachedSlabs;
    {
        BindingProperty tree;
        for (int i = 0; i < 60000; ++i) {
            BindingProperty& item = tree.Append();
            item.Field("id").SetString("item" + std::to_string(i));
            item.Field("note").SetString(std::string(100 + i % 50, 'n') + std::to_string(i));
        }
        ASSERT_GT(source.ReadStats().regionsHeld, before.regionsHeld + 4 * cache);
    }
    const BindingPageSource::Stats after = source.ReadStats();
    source.SetReturnDelay(BindingPageSource::kReturnDelay);
    EXPECT_LE(after.regionsHeld, before.regionsHeld + cache);
    EXPECT_GT(after.regionsReturned, before.regionsReturned);
    EXPECT_LE(after.keptLargeBytes, BindingPageSource::kCachedLargeBytes);
    EXPECT_LE(after.bytesHeld, after.regionsHeld * BindingPageSource::kSlabSize +
                                   BindingPageSource::kCachedLargeBytes);
}

// Why: one medium block (the intern table, a text over 72 bytes) took a
// whole 64 KiB slab, so a host keeping a hundred small trees alive held
// megabytes of address space for kilobytes of data.
TEST(BindingPropertyArena, SmallTreesHoldPagesNotSlabs) {
    constexpr std::size_t kTrees = 1000;
    BindingPageSource& source = BindingPageSource::Instance();
    const BindingPageSource::Stats before = source.ReadStats();
    std::vector<BindingProperty> trees(kTrees);
    for (std::size_t i = 0; i < kTrees; ++i) {
        BindingProperty& tree = trees[i];
        tree.Field("text").SetString(std::string(100, 'x') + std::to_string(i));
        tree.Field("count").SetUnsigned(std::uint64_t{i});
        tree.Field("flag").SetBool(i % 2 == 0);
        tree.Field("list").Append().SetString("short");
    }
    const BindingPageSource::Stats after = source.ReadStats();
    // Three pages a tree at most (two small-class pages, one of medium
    // blocks), in regions that keep one page of every 16 for their
    // bookkeeping, plus one partly used region.
    constexpr std::size_t kPagesPerTree = 3;
    const std::size_t regions = (kTrees * kPagesPerTree + BindingPageSource::kPagesPerRegion - 2) /
                                (BindingPageSource::kPagesPerRegion - 1);
    EXPECT_LE(after.bytesHeld - before.bytesHeld, (regions + 1) * BindingPageSource::kSlabSize);
}

// Medium blocks bump-allocated from pages behave like those from slabs, and
// blocks too large for a page, or past the page budget, go to slabs.
TEST(BindingPropertyArena, MediumBlocksComeFromPagesUntilTheBudget) {
    ArenaPtr arena(BindingPropertyArena::Create());
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    auto allocate = [&](std::size_t size) {
        auto* block = static_cast<unsigned char*>(arena->Allocate(size));
        std::memset(block, static_cast<int>(blocks.size() & 0xFF), size);
        blocks.emplace_back(block, size);
    };
    for (std::size_t pages = 0; pages <= BindingPropertyArena::kMediumPageLimit; ++pages) {
        allocate(3000);
    }
    EXPECT_EQ(arena->ReadStats().mediumPages, BindingPropertyArena::kMediumPageLimit);
    EXPECT_EQ(arena->ReadStats().slabs, 1u);
    arena->Reset();
    blocks.clear();
    allocate(100);
    allocate(3000);
    EXPECT_EQ(arena->ReadStats().slabs, 0u);
    EXPECT_EQ(arena->ReadStats().mediumPages, 1u);
    allocate(5000);  // beyond what a page holds: a slab
    EXPECT_EQ(arena->ReadStats().slabs, 1u);
    for (int i = 0; i < 40; ++i) {
        allocate(2000);
    }
    const BindingPropertyArena::Stats stats = arena->ReadStats();
    EXPECT_EQ(stats.mediumPages, 1u);  // no going back to pages once slabs are in use
    EXPECT_EQ(stats.slabs, 2u);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        auto [block, size] = blocks[i];
        EXPECT_EQ(block[0], static_cast<unsigned char>(i & 0xFF));
        EXPECT_EQ(block[size - 1], static_cast<unsigned char>(i & 0xFF));
    }
    arena->Reset();
    EXPECT_EQ(arena->ReadStats().pages + arena->ReadStats().mediumPages, 0u);
}

TEST(BindingPropertyArena, FreedLargeRegionsServeTheNextLargeBlocksUpToTheCap) {
    BindingPageSource& source = BindingPageSource::Instance();
    // A size no other test uses; its region holds the 32-byte header too.
    const std::size_t size = 40 * BindingPageSource::kSlabSize;
    const std::size_t regionBytes = 41 * BindingPageSource::kSlabSize;
    void* first;
    {
        ArenaPtr arena(BindingPropertyArena::Create());
        first = arena->Allocate(size);
        std::memset(first, 1, size);
    }
    const std::size_t kept = source.ReadStats().keptLargeBytes;
    EXPECT_GE(kept, regionBytes);
    {
        ArenaPtr arena(BindingPropertyArena::Create());
        EXPECT_EQ(arena->Allocate(size), first);  // the same region, touched already
        EXPECT_EQ(source.ReadStats().keptLargeBytes, kept - regionBytes);
        // Too large to keep: goes back to the system when freed.
        const std::size_t hugeSize = BindingPageSource::kMaxKeptLargeBytes;
        void* huge = arena->Allocate(hugeSize);
        std::memset(huge, 2, hugeSize);
        arena->Deallocate(huge, hugeSize);
        EXPECT_EQ(source.ReadStats().keptLargeBytes, kept - regionBytes);
    }
    EXPECT_EQ(source.ReadStats().keptLargeBytes, kept);
}

// A kept region pushed out by a larger one goes back to the system without
// its poison: the system may hand the same addresses out again as a fresh
// region, which must be writable. A source of its own: the process-wide one
// may still keep regions from earlier tests, which would take the slots.
TEST(BindingPropertyArena, EvictedLargeRegionsLeaveNoPoisonBehind) {
    static BindingPageSource source;
    constexpr std::size_t kSlab = BindingPageSource::kSlabSize;
    std::vector<void*> regions;
    for (std::size_t i = 0; i < BindingPageSource::kMaxKeptLarge; ++i) {
        std::size_t bytes = 0;
        regions.push_back(source.AcquireLarge(kSlab, &bytes));
        ASSERT_NE(regions.back(), nullptr);
        ASSERT_EQ(bytes, kSlab);
    }
    for (void* region : regions) {
        source.ReleaseLarge(region, kSlab);
    }
    std::size_t bytes = 0;
    void* larger = source.AcquireLarge(3 * kSlab, &bytes);
    ASSERT_NE(larger, nullptr);
    source.ReleaseLarge(larger, bytes);  // every slot is taken: a smallest one goes
#if defined(__SANITIZE_ADDRESS__)
    std::size_t clean = 0;
    for (void* region : regions) {
        clean += __asan_region_is_poisoned(region, kSlab) == nullptr ? 1 : 0;
    }
    EXPECT_EQ(clean, 1u);
#endif
}

// The bucket hash depends on the key and on every byte and the length of the
// text, including texts of the lengths where its word reads overlap.
TEST(KeyedHash, DependsOnTheKeyEveryByteAndTheLength) {
    const Tavo::detail::HashKey key{0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
    const Tavo::detail::HashKey other{0x0706050403020100ull, 0x0f0e0d0c0b0a0909ull};
    for (std::size_t size : {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100}) {
        SCOPED_TRACE(size);
        const std::string text(size, 'a');
        const std::uint64_t hash = Tavo::detail::KeyedHash(key, text);
        EXPECT_NE(hash, Tavo::detail::KeyedHash(other, text));
        EXPECT_NE(hash, Tavo::detail::KeyedHash(key, text + '\0'));
        for (std::size_t i = 0; i < size; ++i) {
            std::string changed = text;
            changed[i] = 'b';
            ASSERT_NE(hash, Tavo::detail::KeyedHash(key, changed)) << "byte " << i;
        }
    }
    EXPECT_NE(Tavo::detail::KeyedHash(Tavo::detail::ProcessHashKey(), "a"),
              Tavo::detail::KeyedHash(key, "a"));  // the process key is not a fixed one
}

// Interns every text into a fresh arena, checks each is found again and
// returns the slots and records looked at.
std::uint64_t InternCost(const std::vector<std::string>& texts) {
    ArenaPtr arena(BindingPropertyArena::Create());
    std::vector<const Tavo::BindingInternedString*> records;
    for (const std::string& text : texts) {
        records.push_back(arena->Intern(text));
    }
    const std::uint64_t cost = arena->ReadStats().internProbes;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        wrong += arena->Intern(texts[i]) != records[i] || records[i]->View() != texts[i];
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(arena->ReadStats().strings, texts.size());
    return cost;
}

// Why: buckets chosen by FNV-1a let a document of texts sharing their low
// hash bits (or the whole value) turn interning quadratic. The cost is
// counted, not timed: crafted sets stay within a small factor of random
// texts of the same size.
TEST(BindingPropertyArenaIntern, CollidingFnvTextsCostAboutAsMuchAsRandomOnes) {
    constexpr std::size_t kBlocks = 16;  // 2^16 texts of 80 letters
    const std::uint64_t random = InternCost(Tavo::Testing::RandomTexts(
        std::size_t{1} << kBlocks, kBlocks * Tavo::Testing::kCollidingBlockSize));
    struct Row {
        const char* name;
        std::uint32_t mask;
    };
    for (const Row& row :
         {Row{"low 20 bits alike", 0xFFFFFu}, Row{"one full value", 0xFFFFFFFFu}}) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> texts = Tavo::Testing::CollidingTexts(kBlocks, row.mask);
        ASSERT_EQ(Tavo::Fnv1a32(texts.front()) & row.mask, Tavo::Fnv1a32(texts.back()) & row.mask);
        EXPECT_LE(InternCost(texts), 2 * random);
    }
}

// The cache of recent records is chosen by the length and the first and last
// bytes: texts alike in those must still get their own records, and an
// erased record must never come back from it.
TEST(BindingPropertyArenaIntern, RecentRecordsAreConfirmedAndForgottenWhenErased) {
    ArenaPtr arena(BindingPropertyArena::Create());
    for (int i = 0; i < 300; ++i) {  // a table large enough for the cache
        arena->Intern("filler" + std::to_string(i));
    }
    ASSERT_GE(arena->ReadStats().tableCapacity, 256u);
    const std::size_t base = arena->ReadStats().strings;
    struct Row {
        const char* first;
        const char* second;
    };
    for (const Row& row : {Row{"headhead-X-tailtail", "headhead-Y-tailtail"}, Row{"ab", "ba"},
                           Row{"short", "shorT"}, Row{"0123456789abcdef", "0123456789abcdeF"}}) {
        SCOPED_TRACE(row.first);
        const Tavo::BindingInternedString* first = arena->Intern(row.first);
        const Tavo::BindingInternedString* second = arena->Intern(row.second);
        EXPECT_NE(first, second);
        EXPECT_EQ(first->View(), row.first);
        EXPECT_EQ(second->View(), row.second);
        EXPECT_EQ(arena->Intern(row.first), first);
        EXPECT_EQ(arena->Intern(row.second), second);
        for (int i = 0; i < 2; ++i) {
            arena->Release(first);
            arena->Release(second);
        }
    }
    EXPECT_EQ(arena->ReadStats().strings, base);
    // Erased, then interned again: a new record of the same text.
    for (const char* text : {"solo", "a text of more than sixteen bytes"}) {
        arena->Release(arena->Intern(text));
        EXPECT_EQ(arena->ReadStats().strings, base);
        const Tavo::BindingInternedString* again = arena->Intern(text);
        EXPECT_EQ(again->View(), text);
        EXPECT_EQ(arena->ReadStats().strings, base + 1);
        arena->Release(again);
    }
}

// Why: every new text took its slot of the recent cache, so a document of
// unique codes or ids pushed out the few keys it repeats. A text is cached
// once it is found again; texts met once leave the cache alone.
TEST(BindingPropertyArenaIntern, TextsMetOnceDoNotPushRepeatedOnesOutOfTheRecentCache) {
    ArenaPtr arena(BindingPropertyArena::Create());
    for (int i = 0; i < 300; ++i) {  // a table large enough for the cache
        arena->Intern("filler" + std::to_string(i));
    }
    const char* keys[] = {"id", "name", "city", "count"};
    for (const char* key : keys) {
        arena->Intern(key);
        arena->Intern(key);  // found: cached from now on
    }
    for (int i = 0; i < 5000; ++i) {
        arena->Intern("code-" + std::to_string(i));
    }
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        const std::uint64_t before = arena->ReadStats().internProbes;
        arena->Intern(key);
        EXPECT_EQ(arena->ReadStats().internProbes - before, 1u);  // the cache's slot only
    }
}

// An attacker who knows the bucket hash (here: it is FNV-1a again, or one
// constant) still cannot make a probe chain longer than the cap; what does
// not fit goes to the ordered overflow tree, found in O(log n) comparisons.
TEST(BindingPropertyArenaIntern, CostStaysBoundedWhenTheBucketHashIsDefeated) {
    struct Row {
        const char* name;
        BindingPropertyArena::BucketHashFunction hash;
    };
    const Row rows[] = {
        {"FNV-1a", [](std::string_view text) { return Tavo::Fnv1a32(text); }},
        {"constant", [](std::string_view) { return std::uint32_t{7}; }},
    };
    constexpr std::size_t kBlocks = 14;
    const std::vector<std::string> texts = Tavo::Testing::CollidingTexts(kBlocks, 0xFFFFFFFFu);
    const std::uint64_t perText = 2 * 32 + 6 * (kBlocks + 1);  // both probe runs, two tree walks
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BindingPropertyArena::SetBucketHashForTesting(row.hash);
        EXPECT_LE(InternCost(texts), texts.size() * perText);

        // Release and reuse through the tree and the table alike.
        ArenaPtr arena(BindingPropertyArena::Create());
        std::vector<const Tavo::BindingInternedString*> records;
        for (const std::string& text : texts) {
            records.push_back(arena->Intern(text));
        }
        EXPECT_GT(arena->ReadStats().overflowStrings, 0u);
        for (std::size_t i = 0; i < texts.size(); i += 2) {
            arena->Release(records[i]);
        }
        std::size_t wrong = 0;
        for (std::size_t i = 1; i < texts.size(); i += 2) {
            wrong += arena->Intern(texts[i]) != records[i];
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(arena->ReadStats().strings, texts.size() / 2);
        arena->Reset();
        EXPECT_EQ(arena->ReadStats().strings + arena->ReadStats().overflowStrings, 0u);
        EXPECT_EQ(arena->Intern(texts[0])->View(), texts[0]);
    }
    BindingPropertyArena::SetBucketHashForTesting(nullptr);
}

}  // namespace
