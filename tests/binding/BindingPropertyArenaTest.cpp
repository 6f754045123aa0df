#include "binding/BindingPropertyArena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MemoryAccounting.h"

namespace {

using Tavo::BindingPageSource;
using Tavo::BindingProperty;
using Tavo::BindingPropertyArena;

struct ArenaDeleter {
    void operator()(BindingPropertyArena* arena) const { BindingPropertyArena::Destroy(arena); }
};
using ArenaPtr = std::unique_ptr<BindingPropertyArena, ArenaDeleter>;

TEST(BindingPropertyArena, UsableSizesFollowTheClassesAndBins) {
    struct Row {
        std::size_t asked;
        std::size_t usable;
    };
    const Row rows[] = {
        {0, 4},
        {1, 4},
        {4, 4},
        {5, 8},
        {72, 72},
        {73, 96},
        {96, 96},
        {97, 128},
        {129, 192},
        {193, 256},
        {24577, 32768},
        {32768, 32768},
        {32769, 65536 - 32},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.asked);
        EXPECT_EQ(BindingPropertyArena::UsableSize(row.asked), row.usable);
    }
}

TEST(BindingPropertyArena, BlocksAreDistinctAlignedAndReused) {
    ArenaPtr arena(BindingPropertyArena::Create());
    for (std::size_t size : {4, 12, 24, 72, 96, 200, 5000, 40000, 200000}) {
        SCOPED_TRACE(size);
        std::vector<unsigned char*> blocks;
        for (int i = 0; i < 300; ++i) {
            auto* block = static_cast<unsigned char*>(arena->Allocate(size));
            auto address = reinterpret_cast<std::uintptr_t>(block);
            EXPECT_EQ(address % (size % 8 == 0 ? 8 : 4), 0u);
            std::memset(block, i & 0xFF, size);  // ASan catches overlap with a neighbour
            blocks.push_back(block);
        }
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i][size - 1], static_cast<unsigned char>(i & 0xFF));
        }
        unsigned char* last = blocks.back();
        arena->Deallocate(last, size);
        if (size <= BindingPropertyArena::kMediumMax) {
            EXPECT_EQ(arena->Allocate(size), last);  // the freed block comes back first
        } else {
            blocks.pop_back();
        }
        for (unsigned char* block : blocks) {
            arena->Deallocate(block, size);
        }
    }
    EXPECT_EQ(arena->ReadStats().largeBlocks, 0u);
}

TEST(BindingPropertyArena, InternTableGrowsAndErasesWithoutLosingRecords) {
    ArenaPtr arena(BindingPropertyArena::Create());
    std::vector<const Tavo::BindingInternedString*> records;
    for (int i = 0; i < 5000; ++i) {
        records.push_back(arena->Intern("text" + std::to_string(i)));
    }
    EXPECT_EQ(arena->ReadStats().strings, 5000u);
    EXPECT_GE(arena->ReadStats().tableCapacity, 10000u);
    // Erase every other record; the rest must still be found (probe chains intact).
    for (int i = 0; i < 5000; i += 2) {
        arena->Release(records[i]);
    }
    for (int i = 1; i < 5000; i += 2) {
        EXPECT_EQ(arena->Intern("text" + std::to_string(i)), records[i]);
    }
    EXPECT_EQ(arena->ReadStats().strings, 2500u);
    EXPECT_EQ(records[1]->View(), "text1");
    EXPECT_EQ(records[1]->CStr()[5], '\0');
}

TEST(BindingPropertyArena, InternTableStartsWithEightBuckets) {
    ArenaPtr arena(BindingPropertyArena::Create());
    EXPECT_EQ(arena->ReadStats().tableCapacity, 0u);
    EXPECT_EQ(arena->Intern(""), &Tavo::BindingInternedString::Empty());
    EXPECT_EQ(arena->ReadStats().tableCapacity, 0u);
    arena->Intern("x");
    EXPECT_EQ(arena->ReadStats().tableCapacity, 8u);
}

TEST(BindingPropertyArena, DroppedPagesServeTheNextArena) {
    BindingPageSource& source = BindingPageSource::Instance();
    auto build = [] {
        BindingProperty tree;
        for (int i = 0; i < 3000; ++i) {
            BindingProperty& item = tree.Append();
            item.Field("name").SetString("item" + std::to_string(i));
            item.Field("size").SetSigned(std::int64_t{i});
        }
        return tree;
    };
    { BindingProperty first = build(); }
    std::size_t reserved = source.ReadStats().regionsReserved;
    { BindingProperty second = build(); }
    EXPECT_EQ(source.ReadStats().regionsReserved, reserved);
}

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
                BindingProperty copy(tree);
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

TEST(BindingPropertyArena, BuildingAndDroppingATreeCostsOneHeapBlock) {
    Tavo::Memory::Stats before = Tavo::Memory::ReadStats();
    {
        BindingProperty tree;
        for (int i = 0; i < 20000; ++i) {
            BindingProperty& item = tree.Append();
            item.Field("name").SetString("item" + std::to_string(i % 100));
            item.Field("tags").Append().SetString("a much longer text that needs a medium block");
        }
        BindingProperty copy(tree);
        EXPECT_EQ(copy.Size(), 20000u);
    }
    Tavo::Memory::Stats after = Tavo::Memory::ReadStats();
    EXPECT_EQ(after.allocations - before.allocations, 2u);  // one arena per tree
    EXPECT_EQ(after.frees - before.frees, 2u);
}

TEST(BindingPropertyArena, ResetEmptiesTheArena) {
    ArenaPtr arena(BindingPropertyArena::Create());
    for (int i = 0; i < 1000; ++i) {
        arena->Allocate(40);
        arena->Allocate(1000);
    }
    arena->Allocate(100000);
    arena->Intern("kept?");
    arena->Reset();
    BindingPropertyArena::Stats stats = arena->ReadStats();
    EXPECT_EQ(stats.pages, 0u);
    EXPECT_EQ(stats.slabs, 0u);
    EXPECT_EQ(stats.largeBlocks, 0u);
    EXPECT_EQ(stats.strings, 0u);
    EXPECT_EQ(stats.tableCapacity, 0u);
    EXPECT_NE(arena->Intern("kept?"), nullptr);
}

}  // namespace

namespace {

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

}  // namespace
