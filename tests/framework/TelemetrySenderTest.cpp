#include "TelemetrySender.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::Maybe;
using Telemetry = Tavo::Testing::ServiceFixture;
using ::testing::ElementsAre;

bool IsReady(const std::future<Maybe<void>>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST_F(Telemetry, PostsTheFieldsAsOneStructureOfTextsAndHandsBackAReadyFuture) {
    loaded.host.SetRequestHandler(nullptr);
    std::future<Maybe<void>> sent =
        loaded->Telemetry()->SendTelemetryEvent("heartbeat", {{"b", "2"}, {"a", "one"}});
    ASSERT_TRUE(IsReady(sent));
    EXPECT_TRUE(sent.get());
    // Awaiting the ready future does not yield.
    EXPECT_TRUE(loaded->Await(loaded->Telemetry()->SendTelemetryEvent("", {})));
    const auto calls = loaded.host.Calls();
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 6 '/telemetry/v1/events/heartbeat' args=1",
                            "hostSendRequest 6 '/telemetry/v1/events/' args=1"));
    EXPECT_THAT(calls.at(0).arguments, ElementsAre(R"({"a":"one","b":"2"})"));
    EXPECT_THAT(calls.at(1).arguments, ElementsAre("{}"));

    AnswerWithError("telemetry disabled", 403);
    sent = loaded->Telemetry()->SendTelemetryEvent("x", {{"k", "v"}});
    ASSERT_TRUE(IsReady(sent));
    const Maybe<void> result = sent.get();
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 403);
    EXPECT_STREQ(result.Error().Message(),
                 "Error response for POST /telemetry/v1/events/x: telemetry disabled");
}

}  // namespace
