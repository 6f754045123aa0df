// The process-wide page source shared by trees on several threads. Built on
// its own (label "threads") so the ThreadSanitizer stage runs it.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingPropertyArena.h"

namespace {

using Tavo::BindingPageSource;
using Tavo::BindingProperty;

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

// Several threads take pages and slabs and give them back in chains while
// regions come and go.
TEST(BindingPageSource, PagesAndSlabsMoveBetweenThreadsWithoutLoss) {
    BindingPageSource& source = BindingPageSource::Instance();
    const BindingPageSource::Stats before = source.ReadStats();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &source, &failures] {
            for (int round = 0; round < 50; ++round) {
                std::vector<void*> pages;
                for (int i = 0; i < 100; ++i) {
                    pages.push_back(source.AcquirePage());
                    std::memset(pages.back(), t, BindingPageSource::kPageSize);
                }
                void* slab = source.AcquireSlab();
                std::memset(slab, t, BindingPageSource::kSlabSize);
                for (void* page : pages) {
                    failures[t] += static_cast<unsigned char*>(page)[100] != t;
                }
                for (std::size_t i = 0; i < pages.size(); ++i) {  // one chain
                    void* next = i + 1 < pages.size() ? pages[i + 1] : nullptr;
                    std::memcpy(pages[i], &next, sizeof next);
                }
                source.ReleasePages(pages.front(), pages.back(), pages.size());
                std::memset(slab, 0, sizeof(void*));
                source.ReleaseSlabs(slab, slab, 1);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    const BindingPageSource::Stats after = source.ReadStats();
    EXPECT_LE(after.regionsHeld, before.regionsHeld + BindingPageSource::kCachedPageRegions +
                                     BindingPageSource::kCachedSlabs);
}

}  // namespace
