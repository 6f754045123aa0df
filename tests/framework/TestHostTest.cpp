#include "tests/framework/TestHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Tavo::HostInterface;
using Tavo::Testing::TestHost;
using ::testing::ElementsAre;

// Callbacks append their context (a text) to `ran`.
std::vector<std::string> ran;
TestHost* scheduler = nullptr;

extern "C" void AppendName(void* context) {
    ran.push_back(static_cast<const char*>(context));
}
extern "C" void AppendAndScheduleAnother(void* context) {
    ran.push_back(static_cast<const char*>(context));
    HostInterface* host = scheduler->Interface();
    host->hostScheduleCallback(host, "child", &AppendName, const_cast<char*>("child"), 1, 0);
}

TEST(TestHostQueue, RunsInDueOrderWithTiesInSchedulingOrderIncludingNewWork) {
    TestHost host;
    scheduler = &host;
    ran.clear();
    HostInterface* table = host.Interface();
    table->hostScheduleCallback(table, "c", &AppendName, const_cast<char*>("c"), 3, 0);
    table->hostScheduleCallback(table, "a", &AppendAndScheduleAnother, const_cast<char*>("a"), 1,
                                0);
    table->hostScheduleCallback(table, "b", &AppendName, const_cast<char*>("b"), 2, 0);
    table->hostScheduleCallback(table, "b2", &AppendName, const_cast<char*>("b2"), 2, 0);
    table->hostScheduleCallback(table, "now", &AppendName, const_cast<char*>("now"), -5, 0);

    EXPECT_EQ(host.RunUntil(2.5), 5u);  // now, a, b, b2, and child (due at 2)
    EXPECT_THAT(ran, ElementsAre("now", "a", "b", "b2", "child"));
    EXPECT_DOUBLE_EQ(host.Now(), 2.5);
    ASSERT_EQ(host.PendingCount(), 1u);
    EXPECT_EQ(host.Pending()[0].description, "c");
    EXPECT_TRUE(host.RunNext());
    EXPECT_DOUBLE_EQ(host.Now(), 3);
    EXPECT_FALSE(host.RunNext());
}

TEST(TestHostSubscriptions, FollowSubscribeAndUnsubscribe) {
    TestHost host;
    HostInterface* table = host.Interface();
    int context = 0;
    std::vector<std::string> hooked;
    host.SetSubscribeHook([&](const Tavo::Testing::HostSubscription& subscription) {
        hooked.push_back(subscription.eventName);
    });
    table->hostSubscribe(table, "E", host.HostContext(), nullptr, &context, 1);
    EXPECT_THAT(hooked, ElementsAre("E"));
    ASSERT_TRUE(host.IsSubscribed("E"));
    EXPECT_EQ(host.FindSubscription("E")->context, &context);
    EXPECT_EQ(host.FindSubscription("E")->flags, 1);
    table->hostUnsubscribe(table, "E", host.HostContext());
    EXPECT_FALSE(host.IsSubscribed("E"));
    EXPECT_FALSE(host.Deliver("E", Tavo::HostValue{}));
    EXPECT_THAT(host.Trace(), ElementsAre("hostSubscribe 'E' flags=1", "hostUnsubscribe 'E'"));
}

}  // namespace
