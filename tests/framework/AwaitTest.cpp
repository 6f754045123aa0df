#include "framework/Await.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "binding/StaticType.h"
#include "framework/AppModule.h"
#include "logging/LogManager.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::Testing::LoadedModule;
using ::testing::ElementsAre;

class Await : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
    }
    // Runs `action` on the n-th yield.
    void OnYield(int n, std::function<void()> action) {
        loaded.host.SetYieldHook([this, n, action, count = 0]() mutable {
            if (++count == n) {
                action();
            }
        });
    }
    LoadedModule loaded;
};

TEST_F(Await, ReadyFutureReturnsWithoutAnyHostCall) {
    std::promise<std::string> promise;
    promise.set_value("done");
    EXPECT_EQ(loaded->Await(promise.get_future()), "done");
    EXPECT_TRUE(loaded.host.Calls().empty());
}

TEST_F(Await, FutureReadyAfterThreeYieldsMakesOneBracketedWait) {
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    OnYield(3, [&] { promise.set_value(42); });

    EXPECT_EQ(loaded->Await(future), 42);
    const std::string description =
        std::string("hostBeginWait 'Wait: future<") + Tavo::StaticType::Named<int>().name + ">'";
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(description, "hostYield", "hostYield", "hostYield", "hostEndWait"));
    EXPECT_EQ(loaded.host.WaitDepth(), 0);
}

TEST_F(Await, StoredExceptionReachesTheCallerAfterTheWaitEnds) {
    std::promise<void> promise;
    std::future<void> future = promise.get_future();
    OnYield(1, [&] { promise.set_exception(std::make_exception_ptr(std::runtime_error("late"))); });

    EXPECT_THROW(loaded->Await(future), std::runtime_error);
    EXPECT_THAT(loaded.host.Trace(), ::testing::ElementsAre(::testing::StartsWith("hostBeginWait"),
                                                            "hostYield", "hostEndWait"));
}

TEST_F(Await, ScheduledWorkRunsInsideTheWait) {
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    (void)loaded->ScheduleTask(
        "complete", [&] { promise.set_value(7); }, 0);
    // The default yield of the test host runs the pending task.
    EXPECT_EQ(loaded->Await(future), 7);
    EXPECT_EQ(loaded.host.CountOf(Tavo::Testing::HostEntry::Yield), 1u);
}

TEST_F(Await, YieldIsOneBracketedYield) {
    loaded->Yield();
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostBeginWait 'Wait: yield'", "hostYield", "hostEndWait"));
    EXPECT_EQ(loaded.host.CallsTo(Tavo::Testing::HostEntry::BeginWait)[0].flags, 0);
}

TEST(AwaitWithoutHost, BlocksUntilAnotherThreadCompletesTheFuture) {
    Tavo::Client::AppModule module;  // never initialized: nothing to yield to
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    std::thread completer([&] { promise.set_value(5); });
    EXPECT_EQ(module.Await(future), 5);
    completer.join();
}

using AwaitDeathTest = Await;

TEST_F(AwaitDeathTest, FutureErrorsEndTheProcessWithTheFatalReport) {
    // The plugin log target hands the report to the host; show it on standard
    // error as well, where the death test reads it.
    Tavo::LogManager::Attach(*Tavo::LogManager::StdErrTarget());
    EXPECT_DEATH(
        {
            std::future<int> future;
            {
                std::promise<int> promise;
                future = promise.get_future();
            }  // broken promise
            (void)loaded->Await(future);
        },
        "Expression: ALE-6D828C10.*Description: Caught std::future_error in AppModule::Await: "
        "\\(4\\) .*[Bb]roken promise");
    EXPECT_DEATH(
        {
            std::future<int> noState;
            (void)loaded->Await(noState);
        },
        "Expression: ALE-6D828C10.*Caught std::future_error in AppModule::Await: \\(3\\) ");
}

}  // namespace
