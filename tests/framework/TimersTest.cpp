#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

using namespace Tavo;
using namespace Tavo::Testing;

// Delays come from the monotonic clock, so a few microseconds may have
// passed: compare with a margin.
constexpr double kMargin = 0.5;

class Timers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loaded.Initialize()); }
    std::vector<HostCall> Scheduled() const {
        return loaded.host.CallsTo(HostEntry::ScheduleCallback);
    }
    LogCapture log;
    LoadedModule loaded;
};

TEST_F(Timers, RestartBeforeFiringRunsOnlyTheNewChainOncePerPeriod) {
    int oldHandler = 0;
    int newHandler = 0;
    loaded->StartTimer("vex-heartbeat.HB", 60, [&] { ++oldHandler; });
    loaded->StartTimer("vex-heartbeat.HB", 30, [&] { ++newHandler; });
    loaded.host.RunUntil(29);
    EXPECT_EQ(newHandler, 0);
    loaded.host.RunUntil(90 + kMargin);  // the old 60-second callback runs here too
    EXPECT_EQ(oldHandler, 0);
    EXPECT_EQ(newHandler, 3);
    EXPECT_TRUE(log.Matching("Couldn't find timer").empty());
    const auto calls = Scheduled();
    ASSERT_EQ(calls.size(), 5u);  // 60, 30, then one re-arm per firing
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_THAT(calls[i].line,
                    ::testing::StartsWith("hostScheduleCallback 'Timer: vex-heartbeat.HB' "));
        EXPECT_EQ(calls[i].flags, 0);
        EXPECT_NEAR(calls[i].delaySeconds, i == 0 ? 60 : 30, kMargin);
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
    EXPECT_EQ(loaded.host.PendingCount(), 1u);  // only the new chain
    loaded.host.RunUntil(29);
    EXPECT_EQ(second, 0);
    loaded.host.RunUntil(30 + kMargin);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST_F(Timers, TaskIdsCountFromOneForFiringsAndReArmsAlike) {
    EXPECT_EQ(loaded->NextTaskId(), 1u);
    loaded->StartTimer("T", 1, [] {});
    loaded.host.RunNext();  // fires (task 1) and re-arms (task 2)
    EXPECT_EQ(loaded->ScheduleTask(
                  "one-shot", [] {}, 0),
              3u);
}

TEST_F(Timers, TaskDelayIsTheTimeUntilDueAndNeverNegative) {
    const std::int64_t now = Platform::MonotonicNanoseconds();
    struct Row {
        const char* name;
        std::int64_t due;
        double low, high;
    };
    const Row rows[] = {
        {"in 2 s", now + 2'000'000'000, 2 - kMargin, 2},
        {"a second ago", now - 1'000'000'000, 0, 0},
        {"long ago", std::numeric_limits<std::int64_t>::min(), 0, 0},
        {"never", std::numeric_limits<std::int64_t>::max(), 9e9, 1e10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        loaded.host.ClearCalls();
        (void)loaded->ScheduleTask(
            row.name, [] {}, row.due);
        ASSERT_EQ(Scheduled().size(), 1u);
        EXPECT_GE(Scheduled()[0].delaySeconds, row.low);
        EXPECT_LE(Scheduled()[0].delaySeconds, row.high);
    }
}

TEST_F(Timers, RefusesPeriodsThatAreNotSecondsAndKeepsTheTimer) {
    int fired = 0;
    loaded->StartTimer("T", 5, [&] { ++fired; });
    for (double period : {-1.0, std::nan("")}) {
        loaded->StartTimer("T", period, [] { FAIL() << "a refused handler ran"; });
    }
    EXPECT_EQ(log.Matching("Timer T not started").size(), 2u);
    EXPECT_EQ(Scheduled().size(), 1u);
    loaded.host.RunUntil(5 + kMargin);
    EXPECT_EQ(fired, 1);
}

TEST_F(Timers, FiringAfterStopFindsNoTimerAndWarns) {
    loaded->StartTimer("T", 1, [] { FAIL() << "stopped timer fired"; });
    loaded->Stop();
    loaded.host.RunAll();
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].message, "Couldn't find timer named T");
    EXPECT_EQ(log.Lines()[0].level, LogLevel::Warn);
    EXPECT_EQ(log.Lines()[0].groups, LogGroup::DBG | LogGroup::NET);
    EXPECT_EQ(loaded.host.PendingCount() + loaded->PendingTaskCount(), 0u);
}

TEST_F(Timers, ExceptionFromATaskIsCaughtLoggedAndTheTaskRemoved) {
    (void)loaded->ScheduleTask(
        "throws", [] { throw std::runtime_error("boom"); }, 0);
    (void)loaded->ScheduleTask("empty", std::function<void()>(), 0);
    int ran = 0;
    (void)loaded->ScheduleTask(
        "fine", [&] { ++ran; }, 0);
    EXPECT_EQ(loaded.host.RunAll(), 3u);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
    EXPECT_TRUE(
        log.Contains(LogLevel::Error, LogGroup::DBG, "Exception caught in OnScheduledTask: boom"));
    EXPECT_EQ(log.Matching("Exception caught in OnScheduledTask: bad_function_call").size(), 1u);
}

TEST_F(Timers, ACallbackRunsItsTaskOnceAndLeavesNoToken) {
    const std::size_t liveBefore = Client::LiveCallbackContexts();
    int ran = 0;
    (void)loaded->ScheduleTask(
        "once", [&] { ++ran; }, 0);
    const HostScheduledTask task = loaded.host.Pending().at(0);
    EXPECT_EQ(Client::LiveCallbackContexts(), liveBefore + 1);
    task.Fire();
    task.Fire();  // a host calling twice
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(Client::LiveCallbackContexts(), liveBefore);
}

TEST_F(Timers, LateTaskCallbackAfterShutdownIsHarmless) {
    loaded->StartTimer("T", 1, [] { FAIL() << "ran after shutdown"; });
    (void)loaded->ScheduleTask(
        "one-shot", [] { FAIL() << "ran after shutdown"; }, 0);
    loaded.Shutdown();                    // the module's memory is freed here
    EXPECT_EQ(loaded.host.RunAll(), 2u);  // AddressSanitizer reports any touch of it
    EXPECT_TRUE(log.Lines().empty());
}

// The next due time is taken before the handler runs: a handler that takes
// part of the period shortens the next delay by that much.
TEST_F(Timers, NextFiringIsOnePeriodAfterTheHandlerStarted) {
    loaded->StartTimer("T", 1, [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    loaded.host.RunNext();
    const auto calls = Scheduled();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_LT(calls[1].delaySeconds, 0.8);  // 1 s less the 0.3 s the handler took
}

// Before Initialize no host will ever call back, so nothing may stay behind.
TEST(TimersBeforeInitialize, ScheduleTaskKeepsNeitherRecordNorToken) {
    LogCapture log;
    LoadedModule loaded;
    const std::size_t liveBefore = Client::LiveCallbackContexts();
    (void)loaded->ScheduleTask(
        "early", [] {}, 0);
    loaded->StartTimer("T", 1, [] {});
    EXPECT_EQ(loaded->PendingTaskCount(), 0u);
    EXPECT_EQ(Client::LiveCallbackContexts(), liveBefore);
    EXPECT_EQ(log.Matching("hostScheduleCallback called before the module was initialized").size(),
              2u);
}

}  // namespace
