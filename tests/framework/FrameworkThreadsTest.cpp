// The framework's state shared with host worker threads: the task table,
// the timer table, the service-proxy tables. Built on its own (label
// "threads") so the ThreadSanitizer stage runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Testing;

class Timers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loaded.Initialize()); }
    LogCapture log;
    LoadedModule loaded;
};

TEST_F(Timers, TasksMayRunOnOtherThreadsConcurrently) {
    std::atomic<int> ran{0};
    for (int i = 0; i < 200; ++i) {
        (void)loaded->ScheduleTask(
            "t", [&] { ++ran; }, 0);
    }
    const std::vector<HostScheduledTask> tasks = loaded.host.Pending();
    auto fireHalf = [&](std::size_t parity) {
        for (std::size_t i = parity; i < tasks.size(); i += 2) {
            tasks[i].Fire();
        }
    };
    std::thread other(fireHalf, 1);
    fireHalf(0);
    other.join();
    EXPECT_EQ(ran.load(), 200);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
}

// Timer firings run on a host worker thread while the host thread starts and
// restarts timers; the timer table is shared between them.
TEST_F(Timers, StartingTimersWhileFiringsRunOnAnotherThread) {
    std::atomic<int> fired{0};
    std::atomic<bool> stop{false};
    loaded->StartTimer("T0", 0, [&] { ++fired; });
    std::thread worker([&] {
        while (!stop.load()) {
            if (!loaded.host.RunNext()) {
                std::this_thread::yield();
            }
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "T" + std::to_string(i % 64);
        loaded->StartTimer(name, 0, [&] { ++fired; });
    }
    while (fired.load() < 100) {
        std::this_thread::yield();
    }
    stop.store(true);
    worker.join();
    EXPECT_GE(fired.load(), 100);
    EXPECT_TRUE(log.Matching("Couldn't find timer").empty());
}

TEST_F(Timers, TasksScheduledFromSeveralThreadsGetDistinctIdsAndAllRun) {
    std::atomic<int> ran{0};
    std::vector<std::thread> threads;
    std::vector<std::vector<std::uint64_t>> ids(3);
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                ids[t].push_back(loaded->ScheduleTask(
                    "t", [&] { ++ran; }, 0));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<std::uint64_t> all;
    for (const auto& list : ids) {
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(loaded.host.RunAll(), 300u);
    EXPECT_EQ(ran.load(), 300);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
}

using Reply = Client::AppModule::PluginServiceProxyResponse;

// Requests are registered on a worker thread while the host thread delivers
// the replies; every request is answered exactly once.
TEST(ServiceProxyThreads, RequestsRegisteredWhileRepliesArriveAreAllFulfilled) {
    LogCapture log;
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    constexpr int kRequests = 100;
    std::atomic<int> fulfilled{0};
    auto deliver = [&](const std::string& uuid) {
        const std::string json = "{\"uuid\":\"" + uuid +
                                 "\",\"serviceName\":\"s\",\"methodName\":\"m\","
                                 "\"payload\":\"p\",\"status\":\"200\",\"error\":\"\"}";
        OwnedHostValue payload(json);
        loaded.host.Deliver("OnServiceProxyUuidEvent", payload.Get());
    };
    std::thread worker([&] {
        for (int i = 0; i < kRequests; ++i) {
            EXPECT_TRUE(loaded->AddServiceProxyRequest("u" + std::to_string(i),
                                                       [&](const Reply&) { ++fulfilled; }));
        }
    });
    for (int i = 0; i < kRequests; ++i) {
        deliver("u" + std::to_string(i));
    }
    worker.join();
    // Each reply event fulfils at most one pair: a few more events settle
    // the requests that were registered after their reply arrived.
    for (int i = 0; i < kRequests && fulfilled.load() < kRequests; ++i) {
        deliver("unrelated");
    }
    EXPECT_EQ(fulfilled.load(), kRequests);
}

}  // namespace
