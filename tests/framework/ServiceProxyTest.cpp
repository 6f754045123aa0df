#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/HostValues.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::LogLevel;
using Tavo::Client::AppModule;
using Reply = Tavo::Client::AppModule::PluginServiceProxyResponse;
using Tavo::Testing::LoadedModule;
using Tavo::Testing::LogCapture;
using Tavo::Testing::OwnedHostValue;
using ::testing::ElementsAre;

constexpr const char* kUuidEvent = "OnServiceProxyUuidEvent";
constexpr const char* kMethodEvent = "OnServiceProxyMethodEvent";
constexpr const char* kAsyncEvent = "OnServiceProxyAsyncEvent";

class ServiceProxy : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(loaded.Initialize()); }

    void Deliver(const char* event, const std::string& uuid, const std::string& service,
                 const std::string& method, const std::string& payload) {
        const std::string json = "{\"uuid\":\"" + uuid + "\",\"serviceName\":\"" + service +
                                 "\",\"methodName\":\"" + method + "\",\"payload\":\"" + payload +
                                 "\",\"status\":\"200\",\"error\":\"\"}";
        const OwnedHostValue value(json.c_str());
        ASSERT_TRUE(loaded.host.Deliver(event, value.Get()));
    }
    // A pending request that records the payloads it receives as "key=payload".
    void Expect(const std::string& key) {
        ASSERT_TRUE(loaded->AddServiceProxyRequest(key, [this, key](const Reply& reply) {
            fulfilled.push_back(key + "=" + reply.payload);
        }));
    }

    LogCapture log;
    LoadedModule loaded;
    std::vector<std::string> fulfilled;
};

TEST(ServiceProxyStart, InitializeSubscribesTheThreeEventsWithFlagsOne) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSubscribe 'OnServiceProxyUuidEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyMethodEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyAsyncEvent' flags=1"));
    EXPECT_NE(loaded.host.Calls()[0].callbackContext, nullptr);
}

TEST(ServiceProxyKey, JoinsServiceAndMethodWithADot) {
    EXPECT_EQ(AppModule::ServiceProxyKey("a.b", "c"), "a.b.c");
    EXPECT_EQ(AppModule::ServiceProxyKey("a", "b.c"), "a.b.c");
    EXPECT_EQ(AppModule::ServiceProxyKey("", ""), ".");
}

TEST_F(ServiceProxy, LaterReplyUnderOneKeyReplacesTheEarlierOne) {
    Deliver(kUuidEvent, "u1", "s", "m", "old");
    Deliver(kUuidEvent, "u1", "s", "m", "new");
    Deliver(kMethodEvent, "", "a.b", "c", "first");
    Deliver(kMethodEvent, "", "a", "b.c", "second");  // the same key
    Expect("u1");
    Expect("a.b.c");
    EXPECT_TRUE(fulfilled.empty());  // only a reply event fulfils

    Deliver(kUuidEvent, "u2", "s", "m", "unrelated");
    Deliver(kUuidEvent, "u3", "s", "m", "unrelated");
    std::sort(fulfilled.begin(), fulfilled.end());
    EXPECT_THAT(fulfilled, ElementsAre("a.b.c=second", "u1=new"));
}

TEST_F(ServiceProxy, EachReplyEventFulfilsAtMostOneRequest) {
    Deliver(kUuidEvent, "k1", "s", "m", "1");
    Deliver(kUuidEvent, "k2", "s", "m", "2");
    Deliver(kMethodEvent, "", "svc", "k3", "3");
    Expect("k1");
    Expect("k2");
    Expect("svc.k3");

    Deliver(kUuidEvent, "other", "s", "m", "x");
    EXPECT_EQ(fulfilled.size(), 1u);
    Deliver(kUuidEvent, "other", "s", "m", "x");
    EXPECT_EQ(fulfilled.size(), 2u);
    Deliver(kUuidEvent, "other", "s", "m", "x");
    std::sort(fulfilled.begin(), fulfilled.end());
    EXPECT_THAT(fulfilled, ElementsAre("k1=1", "k2=2", "svc.k3=3"));
    EXPECT_EQ(log.Matching("Fulfilled service proxy request: ").size(), 3u);
    EXPECT_TRUE(log.Contains(LogLevel::Always, "Fulfilled service proxy request: svc.k3"));

    Deliver(kUuidEvent, "other", "s", "m", "x");  // "other" stays stored, unanswered
    EXPECT_EQ(fulfilled.size(), 3u);
}

TEST_F(ServiceProxy, AsyncRepliesGoToTheirHandlerOrAreDroppedWithAnError) {
    std::vector<std::string> pushed;
    ASSERT_TRUE(loaded->AddAsyncServiceProxyHandler(
        "chat.message", [&pushed](const Reply& reply) { pushed.push_back(reply.payload); }));
    Deliver(kAsyncEvent, "", "chat", "message", "hello");
    Deliver(kAsyncEvent, "", "chat", "typing", "...");
    EXPECT_THAT(pushed, ElementsAre("hello"));
    EXPECT_TRUE(log.Contains(
        LogLevel::Error,
        "Could not find registered handler for async service proxy event chat.typing"));

    Expect("chat.typing");  // async replies are never stored for requests
    Deliver(kUuidEvent, "other", "s", "m", "x");
    EXPECT_TRUE(fulfilled.empty());
}

TEST_F(ServiceProxy, HandlerThatRegistersIsRefusedInsteadOfDeadlocking) {
    bool registered = true;
    ASSERT_TRUE(loaded->AddServiceProxyRequest("u1", [&](const Reply&) {
        registered = loaded->AddServiceProxyRequest("u2", [](const Reply&) {});
    }));
    Deliver(kUuidEvent, "u1", "s", "m", "x");
    EXPECT_FALSE(registered);
    EXPECT_EQ(log.Matching("called inside a service proxy handler").size(), 1u);
    // The mutex is free again afterwards.
    EXPECT_TRUE(loaded->AddServiceProxyRequest("u3", [](const Reply&) {}));
}

TEST_F(ServiceProxy, HandlerThatThrowsIsNotLeftPending) {
    ASSERT_TRUE(loaded->AddServiceProxyRequest(
        "bad", [](const Reply&) { throw std::runtime_error("handler failed"); }));
    Expect("good");
    Deliver(kUuidEvent, "bad", "s", "m", "x");
    Deliver(kUuidEvent, "good", "s", "m", "y");
    EXPECT_THAT(fulfilled, ElementsAre("good=y"));
    EXPECT_EQ(log.Matching("handler failed").size(), 1u);
}

TEST_F(ServiceProxy, StopForgetsRepliesAndHandlers) {
    Deliver(kUuidEvent, "u1", "s", "m", "x");
    Expect("u2");
    loaded->Stop();
    Expect("u1");
    loaded->FulfilServiceProxyRequests();
    EXPECT_TRUE(fulfilled.empty());
}

}  // namespace
