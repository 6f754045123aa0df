#include "framework/TelemetrySender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "formats/JsonWriter.h"
#include "tests/framework/ServiceFixture.h"

namespace {

using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::Maybe;
using ::testing::ElementsAre;

using Telemetry = Tavo::Testing::ServiceFixture;

bool IsReady(const std::future<Maybe<void>>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST_F(Telemetry, PostsTheBodyAsOneStructureOfTexts) {
    std::string body;
    loaded.host.SetRequestHandler([&body](HostResponse&, const HostRequest& request) {
        ASSERT_EQ(request.argumentCount, 1u);
        const Tavo::HostValue value = request.arguments[0].value;
        body = Tavo::WriteJson(Tavo::PropertyFromHostValue(value, "body").Value());
    });
    std::future<Maybe<void>> sent =
        loaded->Telemetry()->SendTelemetryEvent("heartbeat", {{"b", "2"}, {"a", "one"}});
    ASSERT_TRUE(IsReady(sent));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(body, R"({"a":"one","b":"2"})");
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 6 '/telemetry/v1/events/heartbeat' args=1"));
}

TEST_F(Telemetry, EmptyNamePostsToTheEndpointItselfAndAwaitingDoesNotYield) {
    loaded.host.SetRequestHandler(nullptr);
    EXPECT_TRUE(loaded->Await(loaded->Telemetry()->SendTelemetryEvent("", {})));
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 6 '/telemetry/v1/events/' args=1"));
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

}  // namespace
