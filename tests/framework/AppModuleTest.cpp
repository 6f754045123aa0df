#include "framework/AppModule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/LogManager.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Client;
using namespace Tavo::Testing;
using ::testing::ElementsAre;

extern "C" void IgnoreEvent(HostEvent*) {}
extern "C" void IgnoreTask(void*) {}

TEST(AppModuleHostSlots, ForwardEachSlotToItsEntryWithArgumentsUnchanged) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded.host.ClearCalls();
    AppModule& module = loaded.Module();
    int marker = 0;
    HostResponse response{};
    HostRequest request{};
    request.method = 2;
    request.target = "/p";
    ModuleTestSeam::SendRequest(module, &response, &request);
    ModuleTestSeam::Reserved1(module, 1, 2);
    ModuleTestSeam::Reserved2(module, 7);
    ModuleTestSeam::Subscribe(module, "E", 5, &IgnoreEvent, &marker, 1);
    ModuleTestSeam::Unsubscribe(module, "E", 6);
    ModuleTestSeam::ScheduleCallback(module, "d", &IgnoreTask, &marker, 1.5, 0);
    ModuleTestSeam::Yield(module);
    ModuleTestSeam::BeginWait(module, "w", 0);
    ModuleTestSeam::EndWait(module);

    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 2 '/p' args=0", "reserved1 1 2", "reserved2 7",
                            "hostSubscribe 'E' flags=1", "hostUnsubscribe 'E'",
                            "hostScheduleCallback 'd' 1.5", "hostYield", "hostBeginWait 'w'",
                            "hostEndWait"));
    // What the lines do not show: host contexts, callbacks, their contexts, flags.
    const std::vector<HostCall> calls = loaded.host.Calls();
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[3].hostContext, 5u);
    EXPECT_EQ(calls[3].eventCallback, &IgnoreEvent);
    EXPECT_EQ(calls[3].callbackContext, &marker);
    EXPECT_EQ(calls[3].flags, 1);
    EXPECT_EQ(calls[4].hostContext, 6u);
    EXPECT_EQ(calls[5].taskCallback, &IgnoreTask);
    EXPECT_EQ(calls[5].callbackContext, &marker);
    EXPECT_EQ(calls[5].delaySeconds, 1.5);
    EXPECT_EQ(calls[5].flags, 0);
}

TEST(AppModuleHostSlots, CallNothingBeforeInitialize) {
    LogCapture log;
    LoadedModule loaded;
    EXPECT_EQ(ModuleTestSeam::Yield(loaded.Module()), 0u);
    EXPECT_EQ(ModuleTestSeam::BeginWait(loaded.Module(), "w", 0), 0u);
    EXPECT_TRUE(loaded.host.Calls().empty());
    EXPECT_TRUE(log.Contains(LogLevel::Error, LogGroup::DBG,
                             "hostYield called before the module was initialized"));
}

TEST(AppModuleStop, UnsubscribesWhatWasSubscribedAndEmptiesTheTablesOnce) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->SubscribeHostEvent("OnJsonApiEvent_a");
    loaded->SubscribeHostEvent("OnJsonApiEvent_b");
    loaded->SubscriptionCounts()["OnJsonApiEvent_a"] = 2;
    loaded->ExactListeners()["/a"] = [](const PluginResourceEvent&) {};
    loaded->PatternListeners()["/a/*"] = [](const PluginResourceEvent&) {};
    loaded->StartTimer("T", 10, [] {});
    loaded->PendingServiceProxyRequests()["s.m"] = [](const auto&) {};
    loaded->AsyncServiceProxyHandlers()["s.a"] = [](const auto&) {};
    loaded->ReceivedServiceProxyReplies()["s.r"] = {};
    // Initialize subscribed the service-proxy events.
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSubscribe 'OnServiceProxyUuidEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyMethodEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyAsyncEvent' flags=1",
                            "hostSubscribe 'OnJsonApiEvent_a' flags=0",
                            "hostSubscribe 'OnJsonApiEvent_b' flags=0",
                            ::testing::StartsWith("hostScheduleCallback 'Timer: T' ")));
    loaded.host.ClearCalls();

    loaded->Stop();
    EXPECT_THAT(loaded.host.Trace(),
                ::testing::UnorderedElementsAre("hostUnsubscribe 'OnJsonApiEvent_a'",
                                                "hostUnsubscribe 'OnJsonApiEvent_b'",
                                                "hostUnsubscribe 'OnServiceProxyUuidEvent'",
                                                "hostUnsubscribe 'OnServiceProxyMethodEvent'",
                                                "hostUnsubscribe 'OnServiceProxyAsyncEvent'"));
    for (const auto& call : loaded.host.Calls()) {
        EXPECT_EQ(call.hostContext, loaded.host.HostContext());
    }
    EXPECT_TRUE(loaded->HostEventHandlers().empty() && loaded->Timers().empty() &&
                loaded->ExactListeners().empty() && loaded->PatternListeners().empty());
    EXPECT_TRUE(loaded->PendingServiceProxyRequests().empty() &&
                loaded->AsyncServiceProxyHandlers().empty() &&
                loaded->ReceivedServiceProxyReplies().empty());
    EXPECT_EQ(loaded->SubscriptionCounts()["OnJsonApiEvent_a"], 2);  // counts stay
    EXPECT_EQ(loaded->PendingTaskCount(), 1u);                       // so do tasks

    loaded.host.ClearCalls();
    loaded->Stop();  // nothing left to unsubscribe
    EXPECT_TRUE(loaded.host.Calls().empty());
}

TEST(AppModuleStop, ShutdownStopsTheModuleBeforeDestroyingIt) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->SubscribeHostEvent("OnJsonApiEvent_a");
    loaded.host.ClearCalls();
    loaded.Shutdown();
    EXPECT_THAT(loaded.host.Trace(HostEntry::Unsubscribe),
                ::testing::UnorderedElementsAre("hostUnsubscribe 'OnJsonApiEvent_a'",
                                                "hostUnsubscribe 'OnServiceProxyUuidEvent'",
                                                "hostUnsubscribe 'OnServiceProxyMethodEvent'",
                                                "hostUnsubscribe 'OnServiceProxyAsyncEvent'"));
    EXPECT_FALSE(loaded.host.IsSubscribed("OnJsonApiEvent_a"));
}

TEST(AppModuleLifetime, ModulesHoldTheLogManagerUntilTheLastIsDestroyed) {
    {
        AppModule first;
        EXPECT_TRUE(LogManager::Exists());
        { AppModule second; }
        EXPECT_TRUE(LogManager::Exists());
    }
    EXPECT_FALSE(LogManager::Exists());
}

// An event callback as the subscription layer writes it: it resolves its
// context and counts the deliveries that reached a live module.
int deliveriesToLiveModule = 0;
extern "C" void CountingEventCallback(HostEvent* event) {
    if (CallbackLease lease = AppModule::ResolveEventContext(event->context)) {
        ++deliveriesToLiveModule;
    }
}

TEST(AppModuleCallbacks, EventContextResolvesOnlyToTheLiveModule) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    (void)loaded->ScheduleTask(
        "t", [] {}, 0);
    EXPECT_FALSE(AppModule::ResolveEventContext(loaded.host.Pending().at(0).context));  // a task's
    EXPECT_FALSE(AppModule::ResolveEventContext(nullptr));
    EXPECT_EQ(AppModule::ResolveEventContext(loaded->EventContext()).Module(), &loaded.Module());

    ModuleTestSeam::Subscribe(loaded.Module(), "E", loaded->HostContext(), &CountingEventCallback,
                              loaded->EventContext(), 0);
    const auto subscription = loaded.host.FindSubscription("E");
    ASSERT_TRUE(subscription.has_value());
    EXPECT_TRUE(loaded.host.Deliver("E", HostValue{}));
    EXPECT_EQ(deliveriesToLiveModule, 1);
    loaded.Shutdown();
    TestHost::DeliverTo(*subscription, HostValue{});  // the host's late delivery
    EXPECT_EQ(deliveriesToLiveModule, 1);
}

}  // namespace
