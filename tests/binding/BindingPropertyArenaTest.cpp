#include "binding/BindingPropertyArena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MemoryAccounting.h"

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

// Pages come from a process-wide source shared by every tree on any thread.
TEST(BindingPropertyArena, TreesOnSeveralThreadsShareThePageSource) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 20; ++round) {
                BindingProperty tree;
                for (int i = 0; i < 500; ++i) {
                    tree.Append().Field("v").SetString(std::to_string(t * 1000 + i));
                }
                const BindingProperty copy(tree);
                for (int i = 0; i < 500; ++i) {
                    failures[t] +=
                        copy.ElementAt(i).Find("v").GetString() != std::to_string(t * 1000 + i);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
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
// region, which must be writable.
TEST(BindingPropertyArena, EvictedLargeRegionsLeaveNoPoisonBehind) {
    BindingPageSource& source = BindingPageSource::Instance();
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

}  // namespace
