#include "framework/AppModule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/LogManager.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::Client::AppModule;
using Tavo::Client::CallbackLease;
using Tavo::Testing::HostEntry;
using Tavo::Testing::LoadedModule;
using Tavo::Testing::LogCapture;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

extern "C" void IgnoreEvent(Tavo::HostEvent*) {}
extern "C" void IgnoreTask(void*) {}

TEST(AppModuleHostSlots, ForwardEachSlotToItsEntryWithArgumentsUnchanged) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded.host.ClearCalls();
    AppModule& module = loaded.Module();
    int marker = 0;

    Tavo::HostResponse response{};
    Tavo::HostRequest request{};
    request.method = 2;
    request.target = "/p";
    module.hostSendRequest(&response, &request);
    module.hostReserved1(1, 2);
    module.hostReserved2(7);
    module.hostSubscribe("E", 5, &IgnoreEvent, &marker, 1);
    module.hostUnsubscribe("E", 6);
    module.hostScheduleCallback("d", &IgnoreTask, &marker, 1.5, 0);
    module.hostYield();
    module.hostBeginWait("w", 0);
    module.hostEndWait();

    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 2 '/p' args=0", "reserved1 1 2", "reserved2 7",
                            "hostSubscribe 'E' flags=1", "hostUnsubscribe 'E'",
                            "hostScheduleCallback 'd' 1.5", "hostYield", "hostBeginWait 'w'",
                            "hostEndWait"));
    const auto calls = loaded.host.Calls();
    EXPECT_EQ(calls[3].hostContext, 5u);
    EXPECT_EQ(calls[3].callbackContext, &marker);
    EXPECT_EQ(calls[4].hostContext, 6u);
    EXPECT_EQ(calls[5].callbackContext, &marker);
}

TEST(AppModuleHostSlots, CallNothingBeforeInitialize) {
    LogCapture log;
    LoadedModule loaded;
    EXPECT_EQ(loaded->hostYield(), 0u);
    EXPECT_EQ(loaded->hostBeginWait("w", 0), 0u);
    EXPECT_TRUE(loaded.host.Calls().empty());
    EXPECT_TRUE(
        log.Contains(Tavo::LogLevel::Error, "hostYield called before the module was initialized"));
}

TEST(AppModuleStop, WithoutSubscriptionsMakesNoHostCall) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->Stop();  // the service-proxy subscriptions of Initialize go here
    loaded.host.ClearCalls();
    loaded->Stop();
    EXPECT_TRUE(loaded.host.Calls().empty());
}

TEST(AppModuleStop, UnsubscribesEverySubscriptionAndEmptiesTheTables) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->SubscribeHostEvent("OnJsonApiEvent_a");
    loaded->SubscribeHostEvent("OnJsonApiEvent_b");
    loaded->SubscriptionCounts()["OnJsonApiEvent_a"] = 2;
    loaded->AddListeners();
    loaded->StartTimer("T", 10, [] {});
    loaded.host.ClearCalls();

    loaded->Stop();

    EXPECT_THAT(loaded.host.Trace(),
                UnorderedElementsAre("hostUnsubscribe 'OnJsonApiEvent_a'",
                                     "hostUnsubscribe 'OnJsonApiEvent_b'",
                                     "hostUnsubscribe 'OnServiceProxyUuidEvent'",
                                     "hostUnsubscribe 'OnServiceProxyMethodEvent'",
                                     "hostUnsubscribe 'OnServiceProxyAsyncEvent'"));
    for (const auto& call : loaded.host.Calls()) {
        EXPECT_EQ(call.hostContext, loaded.host.HostContext());
    }
    EXPECT_TRUE(loaded->HostEventHandlers().empty());
    EXPECT_TRUE(loaded->Timers().empty());
    EXPECT_TRUE(loaded->ExactListeners().empty());
    EXPECT_TRUE(loaded->PatternListeners().empty());
    EXPECT_EQ(loaded->SubscriptionCounts()["OnJsonApiEvent_a"], 2);  // counts stay
    EXPECT_EQ(loaded->PendingTaskCount(), 1u);                       // so do tasks

    loaded.host.ClearCalls();
    loaded->Stop();  // nothing left to unsubscribe
    EXPECT_TRUE(loaded.host.Calls().empty());
}

TEST(AppModuleLifetime, ModulesHoldTheLogManagerUntilTheLastIsDestroyed) {
    {
        AppModule first;
        EXPECT_TRUE(Tavo::LogManager::Exists());
        { AppModule second; }
        EXPECT_TRUE(Tavo::LogManager::Exists());
    }
    EXPECT_FALSE(Tavo::LogManager::Exists());
}

TEST(AppModuleTypes, RepeatedFrameworkRegistrationChangesNothing) {
    LoadedModule loaded;
    Tavo::BindingRegistry& registry = loaded->Registry();
    const auto typesBefore = registry.Types().size();
    const auto eventsBefore = registry.Events().size();
    loaded->RegisterFrameworkTypes(registry);
    EXPECT_EQ(registry.Types().size(), typesBefore);
    EXPECT_EQ(registry.Events().size(), eventsBefore);
    const Tavo::BindingTypeDescriptor* event = registry.FindTypeByName("PluginResourceEvent");
    ASSERT_NE(event, nullptr);
    EXPECT_THAT(event->tags, ElementsAre("tclient"));
}

// An event callback as the subscription layer writes it: it resolves its
// context and counts the deliveries that reached a live module.
int deliveriesToLiveModule = 0;
extern "C" void CountingEventCallback(Tavo::HostEvent* event) {
    CallbackLease lease = AppModule::ResolveEventContext(event->context);
    if (lease) {
        ++deliveriesToLiveModule;
    }
}

TEST(AppModuleCallbacks, EventDeliveredAfterShutdownFindsNoModule) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->hostSubscribe("E", loaded->HostContext(), &CountingEventCallback,
                          loaded->EventContext(), 0);
    const auto subscription = loaded.host.FindSubscription("E");
    ASSERT_TRUE(subscription.has_value());
    const Tavo::HostValue payload{};
    deliveriesToLiveModule = 0;
    EXPECT_TRUE(loaded.host.Deliver("E", payload));
    EXPECT_EQ(deliveriesToLiveModule, 1);

    loaded.Shutdown();
    Tavo::Testing::TestHost::DeliverTo(*subscription, payload);  // the host's late delivery
    EXPECT_EQ(deliveriesToLiveModule, 1);
}

TEST(AppModuleCallbacks, EventContextsAndTaskContextsDoNotResolveAsEachOther) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded->ScheduleTask(
        "t", [] {}, 0);
    void* taskContext = loaded.host.Pending().at(0).context;
    EXPECT_FALSE(AppModule::ResolveEventContext(taskContext));
    EXPECT_FALSE(AppModule::ResolveEventContext(nullptr));
    CallbackLease lease = AppModule::ResolveEventContext(loaded->EventContext());
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease.Module(), &loaded.Module());
}

}  // namespace
