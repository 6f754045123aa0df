#include "framework/Subscriptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Client;
using Probe = Testing::ProbeModule::ProbeRecord;
using Subscriptions = Testing::ServiceFixture;
using ::testing::ElementsAre;
using ::testing::Pair;

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
    EXPECT_EQ(loaded.host.CountOf(Testing::HostEntry::Subscribe), 1u);
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

TEST_F(Subscriptions, TypedListenerGetsTheCurrentValueAsCreateThenUpdatesAndDeletes) {
    AnswerWith(R"({"count": 5})");
    std::vector<std::pair<PluginResourceEventType, int>> updates;
    loaded->AddResourceListener<Probe>(kSession, [&updates](const ResourceUpdate<Probe>& update) {
        EXPECT_EQ(update.uri, kSession);
        updates.emplace_back(update.eventType, update.data.count);
    });
    // The initial Create arrived before AddResourceListener returned.
    EXPECT_THAT(updates, ElementsAre(Pair(PluginResourceEventType::Create, 5)));
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre(std::string("hostSubscribe '") + kSessionEvent + "' flags=0",
                            "hostSendRequest 2 '/vex-login/v1/session' args=0"));
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 9})"));
    // Data that does not convert is dropped for an update, never read for a Delete.
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": "many"})"));
    Deliver(kSessionEvent, Event(kSession, "Delete", R"({"count": "many"})"));
    Deliver(kSessionEvent, R"({"eventType": "Sometimes"})");  // not a resource event
    EXPECT_THAT(updates, ElementsAre(Pair(PluginResourceEventType::Create, 5),
                                     Pair(PluginResourceEventType::Update, 9),
                                     Pair(PluginResourceEventType::Delete, 0)));
}

// The cases below are about lifetime: run them under AddressSanitizer.

TEST_F(Subscriptions, ListenersMayAddReplaceAndUnsubscribeWhileTheyRun) {
    std::vector<std::string> seen;
    const auto second = [this, &seen](const ResourceUpdate<Probe>& update) {
        while (loaded->SubscriptionCounts()[kSessionEvent] > 0) {
            loaded->Unsubscribe(kSession);  // the last drops the running handler's entry
        }
        loaded->ExactListeners().clear();  // and the running listener's
        seen.push_back("second " + std::to_string(update.data.count));
    };
    loaded->AddResourceListener<Probe>(kSession, [this, &seen, second](const auto& update) {
        loaded->AddResourceListener<Probe>(kSession, second);  // replaces this one
        for (int i = 0; i < 64; ++i) {                         // enough to rehash the table
            loaded->AddResourceListener<Probe>("/vex-login/v1/session/p" + std::to_string(i) + "/*",
                                               [](const ResourceUpdate<Probe>&) {});
        }
        seen.push_back("first " + std::to_string(update.data.count));
    });
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 1})"));
    EXPECT_EQ(loaded->SubscriptionCounts()[kSessionEvent], 66);
    Deliver(kSessionEvent, Event(kSession, "Update", R"({"count": 2})"));
    EXPECT_THAT(seen, ElementsAre("first 1", "second 2"));
    EXPECT_FALSE(loaded.host.IsSubscribed(kSessionEvent));
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
