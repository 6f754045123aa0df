#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

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

TEST_F(ServiceProxy, StoredRepliesFulfilPendingRequestsOnePerEventTheLatestPerKey) {
    Reply(kUuidEvent, "k1", "s", "m", "old");
    Reply(kUuidEvent, "k1", "s", "m", "1");  // replaces "old"
    Reply(kUuidEvent, "k2", "s", "m", "2");
    Reply(kMethodEvent, "", "a.b", "c", "first");
    Reply(kMethodEvent, "", "a", "b.c", "3");  // the same key, a.b.c
    for (const char* key : {"k1", "k2", "a.b.c"}) {
        Expect(key);
    }
    EXPECT_TRUE(fulfilled.empty());  // only a reply event fulfils
    for (std::size_t expected = 1; expected <= 4; ++expected) {
        Reply(kUuidEvent, "other", "s", "m", "x");  // "other" itself stays unanswered
        EXPECT_EQ(fulfilled.size(), std::min<std::size_t>(expected, 3));
    }
    std::sort(fulfilled.begin(), fulfilled.end());
    EXPECT_THAT(fulfilled, ElementsAre("a.b.c=3", "k1=1", "k2=2"));
    EXPECT_EQ(log.Matching("Fulfilled service proxy request: ").size(), 3u);
    EXPECT_TRUE(log.Contains(Tavo::LogLevel::Always, Tavo::LogGroup::DBG,
                             "Fulfilled service proxy request: a.b.c"));
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
        Tavo::LogLevel::Error, Tavo::LogGroup::DBG,
        "Could not find registered handler for async service proxy event chat.typing"));
}

TEST_F(ServiceProxy, HandlerThatRegistersIsRefusedAndOneThatThrowsIsNotLeftPending) {
    bool registered = true;
    ASSERT_TRUE(loaded->AddServiceProxyRequest("u1", [&](const ::Reply&) {
        registered = loaded->AddServiceProxyRequest("u2", [](const ::Reply&) {});
        throw std::runtime_error("handler failed");
    }));
    Expect("good");
    Reply(kUuidEvent, "u1", "s", "m", "x");  // no deadlock, no exception to the host
    Reply(kUuidEvent, "good", "s", "m", "y");
    EXPECT_FALSE(registered);
    EXPECT_EQ(log.Matching("called inside a service proxy handler").size(), 1u);
    EXPECT_EQ(log.Matching("handler failed").size(), 1u);
    EXPECT_THAT(fulfilled, ElementsAre("good=y"));                             // "u1" was not kept
    EXPECT_TRUE(loaded->AddServiceProxyRequest("u3", [](const ::Reply&) {}));  // free again
}

}  // namespace
