#include "framework/Subscriptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/HostValues.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::HostValue;
using Tavo::Client::AppModule;
using Tavo::Client::PluginResourceEvent;
using Tavo::Client::PluginResourceEventType;
using Tavo::Client::ResourceUpdate;
using Tavo::Testing::HostEntry;
using Tavo::Testing::LoadedModule;
using Tavo::Testing::OwnedHostValue;
using Tavo::Testing::ProbeModule;
using ::testing::ElementsAre;

using Probe = ProbeModule::ProbeRecord;

constexpr const char* kSessionEvent = "OnJsonApiEvent_vex-login_v1_session";

// The host answers every GET with `body` (JSON), or with a 404 when it is null.
void AnswerGets(LoadedModule& loaded, const char* body) {
    loaded.host.SetRequestHandler([body](HostResponse& response, const HostRequest&) {
        if (body == nullptr) {
            response.error = "not found";
            response.status = 404;
            return;
        }
        OwnedHostValue value(body);
        response.body = value.Release();
        response.release = [](HostResponse* self) {
            HostValue owned = self->body;
            Tavo::ResetHostValue(owned);
            self->body = owned;
        };
    });
}

// A resource event as the host sends it.
std::string ResourceEventJson(const char* uri, const char* type, const char* data) {
    return std::string("{\"uri\":\"") + uri + "\",\"eventType\":\"" + type + "\",\"data\":" + data +
           "}";
}

bool DeliverResourceEvent(LoadedModule& loaded, const char* eventName, const char* uri,
                          const char* type, const char* data) {
    const OwnedHostValue payload(ResourceEventJson(uri, type, data).c_str());
    return loaded.host.Deliver(eventName, payload.Get());
}

class Subscriptions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
        AnswerGets(loaded, nullptr);  // no initial values unless a test says so
    }
    LoadedModule loaded;
};

TEST(EventNameForUri, KeepsThreeSegmentsOrFiveUnderTheConfiguration) {
    struct Row {
        const char* uri;
        const char* name;
    };
    const Row rows[] = {
        {"/vex-login/v1/session", "OnJsonApiEvent_vex-login_v1_session"},
        {"/vex-login/v1/session/invoke", "OnJsonApiEvent_vex-login_v1_session"},
        {"vex-login//v1///session/", "OnJsonApiEvent_vex-login_v1_session"},
        {"/vex-other/v1/a/b", "OnJsonApiEvent_vex-other_v1_a"},
        {"/vex-platform-config/v1/namespaces/ClientSystemStates/clientHeartBeatRateSeconds",
         "OnJsonApiEvent_vex-platform-config_v1_namespaces_ClientSystemStates_"
         "clientHeartBeatRateSeconds"},
        {"/vex-platform-config/v1/a/b/c/d/e", "OnJsonApiEvent_vex-platform-config_v1_a_b_c"},
        {"/v1/vex-platform-config/a/b/c", "OnJsonApiEvent_v1_vex-platform-config_a"},
        {"/a", "OnJsonApiEvent_a"},
        {"", "OnJsonApiEvent"},
        {"///", "OnJsonApiEvent"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.uri);
        EXPECT_EQ(AppModule::EventNameForUri(row.uri), row.name);
    }
}

TEST(MatchResourcePattern, StarStandsForOneSegmentWithoutBacktracking) {
    struct Row {
        const char* pattern;
        const char* path;
        bool matches;
    };
    const Row rows[] = {
        // A star covers the rest of one segment.
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/7", true},
        {"/a/*/c", "/a/b/c", true},
        {"/a/*/c", "/a//c", true},  // empty only where a "/" follows
        {"*", "abc", true},
        // It never crosses a "/" and never stands for a final empty segment.
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/7/parts", false},
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/", false},
        {"/a/*", "/a", false},
        // Characters after a star in its segment never match.
        {"/a/*x", "/a/x", false},
        {"/a/*x", "/a/bx", false},
        {"/a/*x", "/a/*x", false},
        // Without a star: equality.
        {"/a/b", "/a/b", true},
        {"/a/b", "/a/c", false},
        {"/a/b", "/a/b/", false},
        {"", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.path);
        EXPECT_EQ(AppModule::MatchResourcePattern(row.pattern, row.path), row.matches);
    }
}

TEST_F(Subscriptions, ListenersOnOneEventShareOneHostSubscription) {
    loaded->Subscribe("/vex-login/v1/session");
    loaded->Subscribe("/vex-login/v1/session/foo");
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(std::string("hostSubscribe '") + kSessionEvent + "' flags=0"));
    EXPECT_EQ(loaded.host.CallsTo(HostEntry::Subscribe).at(0).hostContext,
              loaded.host.HostContext());

    loaded->Unsubscribe("/vex-login/v1/session/foo");
    EXPECT_TRUE(loaded.host.IsSubscribed(kSessionEvent));
    EXPECT_EQ(loaded.host.CountOf(HostEntry::Unsubscribe), 0u);

    loaded->Unsubscribe("/vex-login/v1/session");
    EXPECT_FALSE(loaded.host.IsSubscribed(kSessionEvent));
    EXPECT_EQ(loaded.host.CountOf(HostEntry::Unsubscribe), 1u);
    EXPECT_EQ(loaded->HostEventHandlers().count(kSessionEvent), 0u);
}

TEST_F(Subscriptions, UnmatchedUnsubscribeLeavesANegativeCount) {
    loaded->Unsubscribe("/x/y/z");
    EXPECT_EQ(loaded->SubscriptionCounts()["OnJsonApiEvent_x_y_z"], -1);
    loaded->Subscribe("/x/y/z");  // back to 0: not subscribed at the host
    EXPECT_EQ(loaded->SubscriptionCounts()["OnJsonApiEvent_x_y_z"], 0);
    EXPECT_TRUE(loaded.host.Calls().empty());
}

TEST_F(Subscriptions, EventsReachTheExactListenerAndEveryMatchingPattern) {
    std::vector<std::string> seen;
    const auto record = [&seen](const char* who) {
        return [&seen, who](const ResourceUpdate<Tavo::BindingProperty>& update) {
            seen.push_back(std::string(who) + " " + update.uri);
        };
    };
    loaded->AddResourceListener<Tavo::BindingProperty>("/vex-foo/v1/items/7", record("exact"));
    loaded->AddResourceListener<Tavo::BindingProperty>("/vex-foo/v1/items/*", record("items"));
    loaded->AddResourceListener<Tavo::BindingProperty>("/vex-foo/*/items/7", record("versions"));
    loaded->AddResourceListener<Tavo::BindingProperty>("vex-foo/v1/items/8", record("no-slash"));

    const char* event = "OnJsonApiEvent_vex-foo_v1_items";
    ASSERT_TRUE(DeliverResourceEvent(loaded, event, "vex-foo/v1/items/7", "Update", "1"));
    std::sort(seen.begin(), seen.end());
    EXPECT_THAT(seen, ElementsAre("exact vex-foo/v1/items/7", "items vex-foo/v1/items/7",
                                  "versions vex-foo/v1/items/7"));

    seen.clear();
    ASSERT_TRUE(DeliverResourceEvent(loaded, event, "/vex-foo/v1/items/8", "Update", "1"));
    EXPECT_THAT(seen, ElementsAre("items /vex-foo/v1/items/8"));  // not the key without "/"

    seen.clear();
    ASSERT_TRUE(DeliverResourceEvent(loaded, event, "/vex-foo/v1/items/7/parts", "Update", "1"));
    EXPECT_TRUE(seen.empty());
}

TEST_F(Subscriptions, ExactListenerGetsTheCurrentValueAsCreateBeforeAddReturns) {
    AnswerGets(loaded, R"({"count": 5})");
    std::vector<ResourceUpdate<Probe>> updates;
    loaded->AddResourceListener<Probe>(
        "/vex-login/v1/session",
        [&updates](const ResourceUpdate<Probe>& update) { updates.push_back(update); });

    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].uri, "/vex-login/v1/session");
    EXPECT_EQ(updates[0].eventType, PluginResourceEventType::Create);
    EXPECT_EQ(updates[0].data.count, 5);
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(std::string("hostSubscribe '") + kSessionEvent + "' flags=0",
                            "hostSendRequest 2 '/vex-login/v1/session' args=0"));
}

TEST_F(Subscriptions, PatternListenerAndFailedGetDeliverNothingAtOnce) {
    int calls = 0;
    const auto count = [&calls](const ResourceUpdate<Probe>&) { ++calls; };
    AnswerGets(loaded, nullptr);
    loaded->AddResourceListener<Probe>("/vex-login/v1/session", count);
    AnswerGets(loaded, R"({"count": 5})");
    loaded->AddResourceListener<Probe>("/vex-login/v1/*", count);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(loaded.host.CountOf(HostEntry::SendRequest), 1u);  // no GET for a pattern
}

TEST_F(Subscriptions, UpdatesConvertAndDeleteArrivesWithADefaultValue) {
    std::vector<ResourceUpdate<Probe>> updates;
    loaded->AddResourceListener<Probe>(
        "/vex-login/v1/session",
        [&updates](const ResourceUpdate<Probe>& update) { updates.push_back(update); });

    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Update",
                                     R"({"count": 9})"));
    // Not convertible into the record: dropped for an update...
    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Update",
                                     R"({"count": "many"})"));
    // ...but a Delete never converts its data.
    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Delete",
                                     R"({"count": "many"})"));

    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].eventType, PluginResourceEventType::Update);
    EXPECT_EQ(updates[0].data.count, 9);
    EXPECT_EQ(updates[1].eventType, PluginResourceEventType::Delete);
    EXPECT_EQ(updates[1].data.count, 0);
}

TEST_F(Subscriptions, EventsWithoutHandlerOrWithBadPayloadAreDropped) {
    int calls = 0;
    loaded->AddResourceListener<Probe>("/vex-login/v1/session",
                                       [&calls](const ResourceUpdate<Probe>&) { ++calls; });
    const auto subscription = loaded.host.FindSubscription(kSessionEvent);
    ASSERT_TRUE(subscription.has_value());

    // A payload that is not a resource event, a foreign host value, an event
    // name the module has no handler for.
    const OwnedHostValue notAnEvent(R"({"eventType": "Sometimes"})");
    loaded.host.Deliver(kSessionEvent, notAnEvent.Get());
    HostValue foreign{};
    foreign.type = 99;
    loaded.host.Deliver(kSessionEvent, foreign);
    Tavo::Testing::HostSubscription renamed = *subscription;
    renamed.eventName = "OnJsonApiEvent_unknown";
    const OwnedHostValue event(ResourceEventJson("/vex-login/v1/session", "Update", "{}").c_str());
    Tavo::Testing::TestHost::DeliverTo(renamed, event.Get());

    EXPECT_EQ(calls, 0);
}

TEST_F(Subscriptions, RegisterEventHandlerReplacesTheHandlerOfItsName) {
    std::vector<std::string> seen;
    loaded->RegisterEventHandler<PluginResourceEvent>(
        "E", [&seen](const PluginResourceEvent& event) { seen.push_back("first " + event.uri); },
        0);
    loaded->RegisterEventHandler<PluginResourceEvent>(
        "E", [&seen](const PluginResourceEvent& event) { seen.push_back("second " + event.uri); },
        7);
    const OwnedHostValue event(ResourceEventJson("/r", "Update", "1").c_str());
    ASSERT_TRUE(loaded.host.Deliver("E", event.Get()));
    EXPECT_THAT(seen, ElementsAre("second /r"));
    EXPECT_EQ(loaded.host.FindSubscription("E")->flags, 7);
    EXPECT_EQ(loaded->HostEventHandlers().size(), 4u);  // E and the three service-proxy events
}

TEST_F(Subscriptions, ListenerMayUnsubscribeItselfWhileItRuns) {
    std::vector<int> seen;
    loaded->AddResourceListener<Probe>("/vex-login/v1/session",
                                       [this, &seen](const ResourceUpdate<Probe>& update) {
                                           seen.push_back(update.data.count);
                                           // Drops the host subscription and the
                                           // running handler's table entry.
                                           loaded->Unsubscribe("/vex-login/v1/session");
                                           loaded->ExactListeners().clear();
                                           seen.push_back(update.data.count);
                                       });
    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Update",
                                     R"({"count": 3})"));
    EXPECT_THAT(seen, ElementsAre(3, 3));
    EXPECT_FALSE(loaded.host.IsSubscribed(kSessionEvent));
    EXPECT_TRUE(loaded->HostEventHandlers().count(kSessionEvent) == 0);
}

TEST_F(Subscriptions, ListenerMayAddAndReplaceListenersWhileItRuns) {
    std::vector<std::string> seen;
    loaded->AddResourceListener<Probe>(
        "/vex-login/v1/session", [this, &seen](const ResourceUpdate<Probe>& update) {
            seen.push_back("first " + std::to_string(update.data.count));
            // Replaces itself, adds pattern listeners (rehashing the pattern
            // table) and re-registers the event's handler.
            loaded->AddResourceListener<Probe>(
                "/vex-login/v1/session", [&seen](const ResourceUpdate<Probe>& later) {
                    seen.push_back("second " + std::to_string(later.data.count));
                });
            for (int i = 0; i < 64; ++i) {
                loaded->AddResourceListener<Probe>(
                    "/vex-login/v1/session/p" + std::to_string(i) + "/*",
                    [](const ResourceUpdate<Probe>&) {});
            }
            seen.push_back("first done");
        });
    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Update",
                                     R"({"count": 1})"));
    ASSERT_TRUE(DeliverResourceEvent(loaded, kSessionEvent, "/vex-login/v1/session", "Update",
                                     R"({"count": 2})"));
    EXPECT_THAT(seen, ElementsAre("first 1", "first done", "second 2"));
    EXPECT_EQ(loaded->SubscriptionCounts()[kSessionEvent], 66);
}

TEST_F(Subscriptions, HandlerMayReplaceItselfWhileItRuns) {
    std::vector<std::string> seen;
    loaded->RegisterEventHandler<PluginResourceEvent>(
        "E",
        [this, &seen](const PluginResourceEvent& event) {
            loaded->RegisterEventHandler<PluginResourceEvent>(
                "E", [&seen](const PluginResourceEvent&) { seen.push_back("replacement"); }, 0);
            seen.push_back("original " + event.uri);  // still alive
        },
        0);
    const OwnedHostValue event(ResourceEventJson("/r", "Update", "1").c_str());
    ASSERT_TRUE(loaded.host.Deliver("E", event.Get()));
    ASSERT_TRUE(loaded.host.Deliver("E", event.Get()));
    EXPECT_THAT(seen, ElementsAre("original /r", "replacement"));
}

}  // namespace
