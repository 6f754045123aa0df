#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ServiceFixture.h"

namespace {

using Reply = Tavo::Client::AppModule::PluginServiceProxyResponse;
using ::testing::ElementsAre;

constexpr const char* kUuidEvent = "OnServiceProxyUuidEvent";
constexpr const char* kMethodEvent = "OnServiceProxyMethodEvent";
constexpr const char* kAsyncEvent = "OnServiceProxyAsyncEvent";

class ServiceProxy : public Tavo::Testing::ServiceFixture {
protected:
    void Reply(const char* event, const std::string& uuid, const std::string& service,
               const std::string& method, const std::string& payload) {
        Deliver(event, "{\"uuid\":\"" + uuid + "\",\"serviceName\":\"" + service +
                           "\",\"methodName\":\"" + method + "\",\"payload\":\"" + payload +
                           "\",\"status\":\"200\",\"error\":\"\"}");
    }
    // A pending request that records what it receives as "key=payload".
    void Expect(const std::string& key) {
        ASSERT_TRUE(loaded->AddServiceProxyRequest(key, [this, key](const ::Reply& reply) {
            fulfilled.push_back(key + "=" + reply.payload);
        }));
    }

    Tavo::Testing::LogCapture log;
    std::vector<std::string> fulfilled;
};

TEST(ServiceProxyStart, InitializeSubscribesTheThreeEventsWithFlagsOne) {
    Tavo::Testing::LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSubscribe 'OnServiceProxyUuidEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyMethodEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyAsyncEvent' flags=1"));
}

TEST_F(ServiceProxy, LaterReplyUnderOneKeyReplacesTheEarlierOne) {
    Reply(kUuidEvent, "u1", "s", "m", "old");
    Reply(kUuidEvent, "u1", "s", "m", "new");
    Reply(kMethodEvent, "", "a.b", "c", "first");
    Reply(kMethodEvent, "", "a", "b.c", "second");  // the same key, a.b.c
    Expect("u1");
    Expect("a.b.c");
    EXPECT_TRUE(fulfilled.empty());  // only a reply event fulfils
    Reply(kUuidEvent, "u2", "s", "m", "unrelated");
    Reply(kUuidEvent, "u3", "s", "m", "unrelated");
    std::sort(fulfilled.begin(), fulfilled.end());
    EXPECT_THAT(fulfilled, ElementsAre("a.b.c=second", "u1=new"));
}

TEST_F(ServiceProxy, EachReplyEventFulfilsAtMostOneRequest) {
    Reply(kUuidEvent, "k1", "s", "m", "1");
    Reply(kUuidEvent, "k2", "s", "m", "2");
    Reply(kMethodEvent, "", "svc", "k3", "3");
    for (const char* key : {"k1", "k2", "svc.k3"}) {
        Expect(key);
    }
    for (std::size_t expected = 1; expected <= 4; ++expected) {
        Reply(kUuidEvent, "other", "s", "m", "x");  // "other" itself stays unanswered
        EXPECT_EQ(fulfilled.size(), std::min<std::size_t>(expected, 3));
    }
    std::sort(fulfilled.begin(), fulfilled.end());
    EXPECT_THAT(fulfilled, ElementsAre("k1=1", "k2=2", "svc.k3=3"));
    EXPECT_EQ(log.Matching("Fulfilled service proxy request: ").size(), 3u);
    EXPECT_TRUE(log.Contains(Tavo::LogLevel::Always, "Fulfilled service proxy request: svc.k3"));
}

TEST_F(ServiceProxy, AsyncRepliesGoToTheirHandlerOrAreDroppedWithAnError) {
    std::vector<std::string> pushed;
    ASSERT_TRUE(loaded->AddAsyncServiceProxyHandler(
        "chat.message", [&pushed](const ::Reply& reply) { pushed.push_back(reply.payload); }));
    Expect("chat.typing");  // async replies are never stored for requests
    Reply(kAsyncEvent, "", "chat", "message", "hello");
    Reply(kAsyncEvent, "", "chat", "typing", "...");
    Reply(kUuidEvent, "other", "s", "m", "x");
    EXPECT_THAT(pushed, ElementsAre("hello"));
    EXPECT_TRUE(fulfilled.empty());
    EXPECT_TRUE(log.Contains(
        Tavo::LogLevel::Error,
        "Could not find registered handler for async service proxy event chat.typing"));
}

TEST_F(ServiceProxy, HandlerThatRegistersIsRefusedInsteadOfDeadlocking) {
    bool registered = true;
    ASSERT_TRUE(loaded->AddServiceProxyRequest("u1", [&](const ::Reply&) {
        registered = loaded->AddServiceProxyRequest("u2", [](const ::Reply&) {});
    }));
    Reply(kUuidEvent, "u1", "s", "m", "x");
    EXPECT_FALSE(registered);
    EXPECT_EQ(log.Matching("called inside a service proxy handler").size(), 1u);
    EXPECT_TRUE(loaded->AddServiceProxyRequest("u3", [](const ::Reply&) {}));  // free again
}

TEST_F(ServiceProxy, HandlerThatThrowsIsNotLeftPending) {
    ASSERT_TRUE(loaded->AddServiceProxyRequest(
        "bad", [](const ::Reply&) { throw std::runtime_error("handler failed"); }));
    Expect("good");
    Reply(kUuidEvent, "bad", "s", "m", "x");
    Reply(kUuidEvent, "good", "s", "m", "y");
    EXPECT_THAT(fulfilled, ElementsAre("good=y"));
    EXPECT_EQ(log.Matching("handler failed").size(), 1u);
}

}  // namespace
