#include "framework/TelemetrySender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"
#include "tests/framework/RequestFixture.h"

namespace {

using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::Maybe;
using Tavo::Testing::HostEntry;
using Tavo::Testing::Requests;
using ::testing::ElementsAre;

using Telemetry = Requests;

bool IsReady(const std::future<Maybe<void>>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST_F(Telemetry, PostsTheBodyAsOneStructureOfTexts) {
    std::string body;
    loaded.host.SetRequestHandler([&body](HostResponse&, const HostRequest& request) {
        ASSERT_EQ(request.argumentCount, 1u);
        const Tavo::HostValue value = request.arguments[0].value;
        Tavo::BindingResult converted = Tavo::PropertyFromHostValue(value, "body");
        body = Tavo::WriteJson(converted.Value());
    });
    ASSERT_NE(loaded->Telemetry(), nullptr);
    std::future<Maybe<void>> sent =
        loaded->Telemetry()->SendTelemetryEvent("heartbeat", {{"b", "2"}, {"a", "one"}});
    ASSERT_TRUE(IsReady(sent));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(body, R"({"a":"one","b":"2"})");
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 6 '/telemetry/v1/events/heartbeat' args=1"));
}

TEST_F(Telemetry, NameIsAppendedUnchanged) {
    for (const char* name : {"", "a/b c"}) {
        SCOPED_TRACE(name);
        loaded.host.ClearCalls();
        EXPECT_TRUE(loaded->Telemetry()->SendTelemetryEvent(name, {}).get());
        EXPECT_EQ(loaded.host.CallsTo(HostEntry::SendRequest).at(0).text,
                  std::string("/telemetry/v1/events/") + name);
    }
}

TEST_F(Telemetry, FailureArrivesInTheReadyFuture) {
    AnswerWithError("telemetry disabled", 403);
    std::future<Maybe<void>> sent = loaded->Telemetry()->SendTelemetryEvent("x", {{"k", "v"}});
    ASSERT_TRUE(IsReady(sent));
    const Maybe<void> result = sent.get();
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 403);
    EXPECT_STREQ(result.Error().Message(),
                 "Error response for POST /telemetry/v1/events/x: telemetry disabled");
}

TEST_F(Telemetry, AwaitingTheResultDoesNotYield) {
    const Maybe<void> result = loaded->Await(loaded->Telemetry()->SendTelemetryEvent("x", {}));
    EXPECT_TRUE(result);
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 6 '/telemetry/v1/events/x' args=1"));
}

TEST(TelemetryBeforeInitialize, HasNoSender) {
    Tavo::Testing::LoadedModule loaded;
    EXPECT_EQ(loaded->Telemetry(), nullptr);
}

}  // namespace
