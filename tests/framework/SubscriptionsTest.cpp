#include "framework/Subscriptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/framework/ServiceFixture.h"

namespace {

using Tavo::BindingProperty;
using Tavo::Client::AppModule;
using Tavo::Client::PluginResourceEvent;
using Tavo::Client::PluginResourceEventType;
using Tavo::Client::ResourceUpdate;
using Tavo::Testing::HostEntry;
using Probe = Tavo::Testing::ProbeModule::ProbeRecord;
using ::testing::ElementsAre;

using Subscriptions = Tavo::Testing::ServiceFixture;

constexpr const char* kSessionEvent = "OnJsonApiEvent_vex-login_v1_session";
constexpr const char* kSession = "/vex-login/v1/session";

// A resource event as the host sends it.
std::string Event(const char* uri, const char* type, const char* data) {
    return std::string("{\"uri\":\"") + uri + "\",\"eventType\":\"" + type + "\",\"data\":" + data +
           "}";
}

TEST(EventNameForUri, KeepsThreeSegmentsOrFiveUnderTheConfiguration) {
    const std::pair<const char*, const char*> rows[] = {
        {"/vex-login/v1/session", "OnJsonApiEvent_vex-login_v1_session"},
        {"/vex-login/v1/session/invoke", "OnJsonApiEvent_vex-login_v1_session"},
        {"vex-login//v1///session/", "OnJsonApiEvent_vex-login_v1_session"},
        {"/vex-other/v1/a/b", "OnJsonApiEvent_vex-other_v1_a"},
        {"/vex-platform-config/v1/namespaces/ClientSystemStates/clientHeartBeatRateSeconds",
         "OnJsonApiEvent_vex-platform-config_v1_namespaces_ClientSystemStates_"
         "clientHeartBeatRateSeconds"},
        {"/vex-platform-config/v1/a/b/c/d/e", "OnJsonApiEvent_vex-platform-config_v1_a_b_c"},
        {"/v1/vex-platform-config/a/b/c", "OnJsonApiEvent_v1_vex-platform-config_a"},
        {"", "OnJsonApiEvent"},
        {"///", "OnJsonApiEvent"},
    };
    for (const auto& [uri, name] : rows) {
        SCOPED_TRACE(uri);
        EXPECT_EQ(AppModule::EventNameForUri(uri), name);
    }
}

TEST(MatchResourcePattern, StarStandsForOneSegmentWithoutBacktracking) {
    struct Row {
        const char* pattern;
        const char* path;
        bool matches;
    };
    const Row rows[] = {
        // A star covers the rest of one segment, empty only where a "/" follows.
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/7", true},
        {"/a/*/c", "/a/b/c", true},
        {"/a/*/c", "/a//c", true},
        // It never crosses a "/" and never stands for a final empty segment.
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/7/parts", false},
        {"/vex-foo/v1/items/*", "/vex-foo/v1/items/", false},
        {"/a/*", "/a", false},
        // Characters after a star in its segment never match.
        {"/a/*x", "/a/x", false},
        {"/a/*x", "/a/bx", false},
        // Without a star: equality.
        {"/a/b", "/a/b", true},
        {"/a/b", "/a/b/", false},
        {"", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.path);
        EXPECT_EQ(AppModule::MatchResourcePattern(row.pattern, row.path), row.matches);
    }
}

TEST_F(Subscriptions, ListenersOnOneEventShareOneHostSubscription) {
    loaded->Subscribe(kSession);
    loaded->Subscribe("/vex-login/v1/session/foo");
    loaded->Unsubscribe("/vex-login/v1/session/foo");
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(std::string("hostSubscribe '") + kSessionEvent + "' flags=0"));
    EXPECT_EQ(loaded.host.Calls()[0].hostContext, loaded.host.HostContext());

    loaded->Unsubscribe(kSession);
    EXPECT_FALSE(loaded.host.IsSubscribed(kSessionEvent));
    EXPECT_EQ(loaded->HostEventHandlers().count(kSessionEvent), 0u);

    loaded->Unsubscribe(kSession);  // unmatched: -1, not clamped
    loaded->Subscribe(kSession);    // back to 0: the host is not asked
    EXPECT_EQ(loaded.host.CountOf(HostEntry::Subscribe), 1u);
}

TEST_F(Subscriptions, EventsReachTheExactListenerAndEveryMatchingPattern) {
    std::vector<std::string> seen;
    for (const char* key : {"/vex-foo/v1/items/7", "/vex-foo/v1/items/*", "/vex-foo/*/items/7",
                            "vex-foo/v1/items/8"}) {
        loaded->AddResourceListener<BindingProperty>(
            key, [&seen, key](const ResourceUpdate<BindingProperty>& update) {
                seen.push_back(std::string(key) + " got " + update.uri);
            });
    }
    const char* event = "OnJsonApiEvent_vex-foo_v1_items";
    Deliver(event, Event("vex-foo/v1/items/7", "Update", "1"));  // matched as "/vex-foo/..."
    std::sort(seen.begin(), seen.end());
    EXPECT_THAT(seen, ElementsAre("/vex-foo/*/items/7 got vex-foo/v1/items/7",
                                  "/vex-foo/v1/items/* got vex-foo/v1/items/7",
                                  "/vex-foo/v1/items/7 got vex-foo/v1/items/7"));
    seen.clear();
    Deliver(event, Event("/vex-foo/v1/items/8", "Update", "1"));  // not the key without "/"
    Deliver(event, Event("/vex-foo/v1/items/7/parts", "Update", "1"));
    EXPECT_THAT(seen, ElementsAre("/vex-foo/v1/items/* got /vex-foo/v1/items/8"));
}

TEST_F(Subscriptions, ExactListenerGetsTheCurrentValueAsCreateBeforeAddReturns) {
    AnswerWith(R"({"count": 5})");
    std::vector<ResourceUpdate<Probe>> updates;
    loaded->AddResourceListener<Probe>(
        kSession, [&updates](const ResourceUpdate<Probe>& update) { updates.push_back(update); });
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].uri, kSession);
    EXPECT_EQ(updates[0].eventType, PluginResourceEventType::Create);
    EXPECT_EQ(updates[0].data.count, 5);
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(std::string("hostSubscribe '") + kSessionEvent + "' flags=0",
                            "hostSendRequest 2 '/vex-login/v1/session' args=0"));
}

TEST_F(Subscriptions, UpdatesConvertAndDeleteArrivesWithADefaultValue) {
    std::vector<ResourceUpdate<Probe>> updates;
    loaded->AddResourceListener<Probe>(
        kSession, [&updates](const ResourceUpdate<Probe>& update) { updates.push_back(update); });
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 9})"));
    // Data that does not convert is dropped for an update, never read for a Delete.
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": "many"})"));
    Deliver(kSessionEvent, Event(kSession, "Delete", R"({"count": "many"})"));
    Deliver(kSessionEvent, R"({"eventType": "Sometimes"})");  // not a resource event
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].eventType, PluginResourceEventType::Update);
    EXPECT_EQ(updates[0].data.count, 9);
    EXPECT_EQ(updates[1].eventType, PluginResourceEventType::Delete);
    EXPECT_EQ(updates[1].data.count, 0);
}

// The cases below are about lifetime: run them under AddressSanitizer.

TEST_F(Subscriptions, ListenerMayUnsubscribeItselfWhileItRuns) {
    std::vector<int> seen;
    loaded->AddResourceListener<Probe>(
        kSession, [this, &seen](const ResourceUpdate<Probe>& update) {
            seen.push_back(update.data.count);
            loaded->Unsubscribe(kSession);     // drops the running handler's entry
            loaded->ExactListeners().clear();  // and the running listener's
            seen.push_back(update.data.count);
        });
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 3})"));
    EXPECT_THAT(seen, ElementsAre(3, 3));
    EXPECT_FALSE(loaded.host.IsSubscribed(kSessionEvent));
}

TEST_F(Subscriptions, ListenerMayAddAndReplaceListenersWhileItRuns) {
    std::vector<std::string> seen;
    loaded->AddResourceListener<Probe>(kSession, [this, &seen](const ResourceUpdate<Probe>& first) {
        seen.push_back("first " + std::to_string(first.data.count));
        loaded->AddResourceListener<Probe>(kSession, [&seen](const ResourceUpdate<Probe>& later) {
            seen.push_back("second " + std::to_string(later.data.count));
        });
        for (int i = 0; i < 64; ++i) {  // enough to rehash the pattern table
            loaded->AddResourceListener<Probe>("/vex-login/v1/session/p" + std::to_string(i) + "/*",
                                               [](const ResourceUpdate<Probe>&) {});
        }
        seen.push_back("first done");
    });
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 1})"));
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 2})"));
    EXPECT_THAT(seen, ElementsAre("first 1", "first done", "second 2"));
    EXPECT_EQ(loaded->SubscriptionCounts()[kSessionEvent], 66);
}

TEST_F(Subscriptions, HandlerMayReplaceItselfWhileItRuns) {
    std::vector<std::string> seen;
    loaded->RegisterEventHandler<PluginResourceEvent>(
        "E",
        [this, &seen](const PluginResourceEvent& event) {
            loaded->RegisterEventHandler<PluginResourceEvent>(
                "E", [&seen](const PluginResourceEvent&) { seen.push_back("replacement"); }, 7);
            seen.push_back("original " + event.uri);  // still alive
        },
        0);
    Deliver("E", Event("/r", "Update", "1"));
    Deliver("E", Event("/r", "Update", "1"));
    EXPECT_THAT(seen, ElementsAre("original /r", "replacement"));
    EXPECT_EQ(loaded.host.FindSubscription("E")->flags, 7);
}

}  // namespace
