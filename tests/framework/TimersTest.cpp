#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/AppModule.h"
#include "framework/CallbackContext.h"
#include "platform/Platform.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::LogLevel;
using Tavo::Testing::HostEntry;
using Tavo::Testing::LoadedModule;
using Tavo::Testing::LogCapture;

// The delays the module asked for, in order. They are computed from the
// monotonic clock, so a few microseconds may have passed: compare with a margin.
std::vector<double> ScheduledDelays(const Tavo::Testing::TestHost& host) {
    std::vector<double> delays;
    for (const auto& call : host.CallsTo(HostEntry::ScheduleCallback)) {
        delays.push_back(call.delaySeconds);
    }
    return delays;
}

constexpr double kMargin = 0.5;

class Timers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loaded.Initialize()); }
    LoadedModule loaded;
};

TEST_F(Timers, FirstFiringComesOnePeriodAfterStartThenEveryPeriod) {
    int fired = 0;
    loaded->StartTimer("vex-heartbeat.HB", 60, [&] { ++fired; });
    EXPECT_EQ(fired, 0);
    ASSERT_EQ(loaded.host.CountOf(HostEntry::ScheduleCallback), 1u);
    const auto call = loaded.host.CallsTo(HostEntry::ScheduleCallback)[0];
    EXPECT_EQ(call.text, "Timer: vex-heartbeat.HB");
    EXPECT_EQ(call.flags, 0);
    EXPECT_NEAR(call.delaySeconds, 60, kMargin);

    loaded.host.RunUntil(59);
    EXPECT_EQ(fired, 0);
    loaded.host.RunUntil(60 * 3 + kMargin);
    EXPECT_EQ(fired, 3);
}

TEST_F(Timers, RestartBeforeFiringRunsOnlyTheNewChain) {
    LogCapture log;
    int oldHandler = 0;
    int newHandler = 0;
    loaded->StartTimer("vex-heartbeat.HB", 60, [&] { ++oldHandler; });
    loaded->StartTimer("vex-heartbeat.HB", 30, [&] { ++newHandler; });

    loaded.host.RunUntil(30 + kMargin);
    EXPECT_EQ(newHandler, 1);
    loaded.host.RunUntil(90 + kMargin);  // the old 60-second callback runs here too
    EXPECT_EQ(oldHandler, 0);
    EXPECT_EQ(newHandler, 3);
    EXPECT_TRUE(log.Matching("Couldn't find timer").empty());
    const std::vector<double> delays = ScheduledDelays(loaded.host);
    ASSERT_EQ(delays.size(), 5u);  // 60, 30, then one re-arm per new firing
    for (std::size_t i = 1; i < delays.size(); ++i) {
        EXPECT_NEAR(delays[i], 30, kMargin);
    }
}

TEST_F(Timers, HandlerRestartingItsOwnTimerEndsTheOldChain) {
    int first = 0;
    int second = 0;
    loaded->StartTimer("T", 10, [&] {
        ++first;
        loaded->StartTimer("T", 20, [&] { ++second; });
    });
    loaded.host.RunUntil(10 + kMargin);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(loaded.host.PendingCount(), 1u);  // only the new chain
    loaded.host.RunUntil(29);
    EXPECT_EQ(second, 0);
    loaded.host.RunUntil(30 + kMargin);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(first, 1);
}

TEST_F(Timers, TaskIdsCountFromOneForFiringsAndReArmsAlike) {
    EXPECT_EQ(loaded->NextTaskId(), 1u);
    loaded->StartTimer("T", 1, [] {});
    EXPECT_EQ(loaded->NextTaskId(), 2u);
    loaded.host.RunNext();  // fires and re-arms
    EXPECT_EQ(loaded->NextTaskId(), 3u);
    EXPECT_EQ(loaded->ScheduleTask(
                  "one-shot", [] {}, 0),
              3u);
    EXPECT_EQ(loaded->NextTaskId(), 4u);
}

TEST_F(Timers, TaskDelayIsTheTimeUntilDueAndNeverNegative) {
    const std::int64_t now = Tavo::Platform::MonotonicNanoseconds();
    const std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    const std::int64_t kLongAgo = std::numeric_limits<std::int64_t>::min();
    struct Row {
        const char* name;
        std::int64_t due;
        double low, high;
    };
    const Row rows[] = {
        {"in 2 s", now + 2'000'000'000, 2 - kMargin, 2},
        {"a second ago", now - 1'000'000'000, 0, 0},
        {"long ago", kLongAgo, 0, 0},
        {"never", kNever, 9e9, 1e10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        loaded.host.ClearCalls();
        (void)loaded->ScheduleTask(
            row.name, [] {}, row.due);
        const auto delays = ScheduledDelays(loaded.host);
        ASSERT_EQ(delays.size(), 1u);
        EXPECT_GE(delays[0], row.low);
        EXPECT_LE(delays[0], row.high);
    }
}

TEST_F(Timers, RefusesPeriodsThatAreNotSecondsAndKeepsTheTimer) {
    LogCapture log;
    int fired = 0;
    loaded->StartTimer("T", 5, [&] { ++fired; });
    for (double period : {-1.0, std::nan("")}) {
        loaded->StartTimer("T", period, [] { FAIL() << "a refused handler ran"; });
    }
    EXPECT_EQ(log.Matching("Timer T not started").size(), 2u);
    EXPECT_EQ(loaded.host.CountOf(HostEntry::ScheduleCallback), 1u);
    loaded.host.RunUntil(5 + kMargin);
    EXPECT_EQ(fired, 1);
}

TEST_F(Timers, FiringAfterStopFindsNoTimerAndWarns) {
    LogCapture log;
    loaded->StartTimer("T", 1, [] { FAIL() << "stopped timer fired"; });
    loaded->Stop();
    loaded.host.RunAll();
    ASSERT_EQ(log.Matching("Couldn't find timer named T").size(), 1u);
    for (const auto& line : log.Lines()) {
        if (line.message == "Couldn't find timer named T") {
            EXPECT_EQ(line.level, LogLevel::Warn);
            EXPECT_EQ(line.groups, 0x41u);
        }
    }
    EXPECT_EQ(loaded.host.PendingCount(), 0u);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
}

TEST_F(Timers, ExceptionFromATaskIsCaughtLoggedAndTheTaskRemoved) {
    LogCapture log;
    (void)loaded->ScheduleTask(
        "throws", [] { throw std::runtime_error("boom"); }, 0);
    (void)loaded->ScheduleTask("empty", std::function<void()>(), 0);
    int ran = 0;
    (void)loaded->ScheduleTask(
        "fine", [&] { ++ran; }, 0);
    EXPECT_EQ(loaded.host.RunAll(), 3u);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
    EXPECT_TRUE(log.Contains(LogLevel::Error, "Exception caught in OnScheduledTask: boom"));
    EXPECT_EQ(log.Matching("Exception caught in OnScheduledTask: bad_function_call").size(), 1u);
}

TEST_F(Timers, ACallbackRunsItsTaskOnceAndLeavesNoToken) {
    const std::size_t liveBefore = Tavo::Client::LiveCallbackContexts();
    int ran = 0;
    (void)loaded->ScheduleTask(
        "once", [&] { ++ran; }, 0);
    const Tavo::Testing::HostScheduledTask task = *loaded.host.TakeNext();
    EXPECT_EQ(Tavo::Client::LiveCallbackContexts(), liveBefore + 1);
    task.Fire();
    task.Fire();  // a host calling twice
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(Tavo::Client::LiveCallbackContexts(), liveBefore);
}

TEST_F(Timers, TasksMayRunOnOtherThreadsConcurrently) {
    constexpr int kTasks = 200;
    std::atomic<int> ran{0};
    for (int i = 0; i < kTasks; ++i) {
        (void)loaded->ScheduleTask(
            "t", [&] { ++ran; }, 0);
    }
    std::vector<Tavo::Testing::HostScheduledTask> tasks = loaded.host.Pending();
    auto fireHalf = [&](std::size_t parity) {
        for (std::size_t i = parity; i < tasks.size(); i += 2) {
            tasks[i].Fire();
        }
    };
    std::thread other(fireHalf, 1);
    fireHalf(0);
    other.join();
    EXPECT_EQ(ran.load(), kTasks);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
}

TEST(TimersAfterShutdown, LateTaskCallbackIsHarmless) {
    LogCapture log;
    std::vector<Tavo::Testing::HostScheduledTask> late;
    {
        LoadedModule loaded;
        ASSERT_TRUE(loaded.Initialize());
        loaded->StartTimer("T", 1, [] { FAIL() << "ran after shutdown"; });
        (void)loaded->ScheduleTask(
            "one-shot", [] { FAIL() << "ran after shutdown"; }, 0);
        late = loaded.host.Pending();
        loaded.Shutdown();  // the module's memory is freed here
    }
    ASSERT_EQ(late.size(), 2u);
    for (const auto& task : late) {
        task.Fire();  // AddressSanitizer reports any touch of the freed module
    }
    EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
