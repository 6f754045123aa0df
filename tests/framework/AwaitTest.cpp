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

using namespace Tavo;
using ::testing::ElementsAre;

class Await : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
    }
    // Runs `action` on the n-th yield.
    void OnYield(int n, std::function<void()> action) {
        loaded.host.SetYieldHook([n, action, count = 0]() mutable {
            if (++count == n) {
                action();
            }
        });
    }
    Testing::LoadedModule loaded;
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
    EXPECT_THAT(loaded.host.Trace(), ElementsAre("hostBeginWait 'Wait: future<int>'", "hostYield",
                                                 "hostYield", "hostYield", "hostEndWait"));
    EXPECT_EQ(loaded.host.WaitDepth(), 0);
}

TEST_F(Await, StoredExceptionReachesTheCallerAfterTheWaitEnds) {
    std::promise<void> promise;
    std::future<void> future = promise.get_future();
    OnYield(1, [&] { promise.set_exception(std::make_exception_ptr(std::runtime_error("late"))); });
    EXPECT_THROW(loaded->Await(future), std::runtime_error);
    EXPECT_EQ(loaded.host.Trace().back(), "hostEndWait");
    EXPECT_EQ(loaded.host.WaitDepth(), 0);
}

TEST(AwaitWithoutHost, BlocksUntilAnotherThreadCompletesTheFuture) {
    Client::AppModule module;  // never initialized: nothing to yield to
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    std::thread completer([&] { promise.set_value(5); });
    EXPECT_EQ(module.Await(future), 5);
    completer.join();
}

using AwaitDeathTest = Await;

TEST_F(AwaitDeathTest, FutureErrorsEndTheProcessWithTheFatalReport) {
    // The plugin log target hands the report to the host; the death test reads
    // standard error.
    LogManager::Attach(*LogManager::StdErrTarget());
    const auto broken = [] { return std::promise<int>().get_future(); };
    EXPECT_DEATH((void)loaded->Await(broken()),
                 "Expression: ALE-6D828C10\n\nDescription: Caught std::future_error in "
                 "AppModule::Await: \\(4\\) .*roken promise");
    EXPECT_DEATH((void)loaded->Await(std::future<int>()),
                 "Expression: ALE-6D828C10\n\nDescription: Caught std::future_error in "
                 "AppModule::Await: \\(3\\) ");
}

}  // namespace
