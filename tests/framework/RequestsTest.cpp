#include "framework/Requests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/JsonWriter.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Testing;
using Probe = ProbeModule::ProbeRecord;
using Requests = ServiceFixture;
using ::testing::ElementsAre;

TEST_F(Requests, ArgumentsArePositionalInOrderAndTheRestOfTheRecordIsZero) {
    HostRequest sent{};
    loaded.host.SetRequestHandler(
        [&](HostResponse&, const HostRequest& request) { sent = request; });
    std::vector<BindingProperty> lcdsArguments(2);
    lcdsArguments[0].SetUnsigned(std::uint64_t{7});
    lcdsArguments[1].SetString("");
    ASSERT_TRUE(loaded->Request<void>(HttpMethod::Post, "/vex-login/v1/session/invoke",
                                      "loginService", std::string("performLCDSHeartBeat"),
                                      lcdsArguments, Probe{4}));
    EXPECT_THAT(
        loaded.host.Calls().at(0).arguments,
        ElementsAre("\"loginService\"", "\"performLCDSHeartBeat\"", "[7,\"\"]", "{\"count\":4}"));
    EXPECT_EQ(sent.method, 6u);
    EXPECT_EQ(sent.context, loaded.host.HostContext());
    EXPECT_TRUE(  // every field the module does not set is zero
        sent.dispatchContext == nullptr && sent.headers == nullptr && sent.headerCount == 0 &&
        sent.contentType == nullptr && sent.body == nullptr && sent.bodyLength == 0 &&
        sent.methodName == nullptr);

    ASSERT_TRUE(loaded->Request<void>(HttpMethod::Delete, "/r"));
    EXPECT_EQ(sent.arguments, nullptr);
}

TEST_F(Requests, BodyDecodesIntoTheResultTypeAndIsReleased) {
    AnswerWith(R"({"count": 12, "extra": true})");
    const Maybe<Probe> record = loaded->Request<Probe>(HttpMethod::Get, "/probe");
    ASSERT_TRUE(record);
    EXPECT_EQ(record.Value().count, 12);
    const Maybe<BindingProperty> value = loaded->GetResource("/probe");
    ASSERT_TRUE(value);
    EXPECT_EQ(WriteJson(value.Value()), R"({"count":12,"extra":true})");
    EXPECT_EQ(releases, 2);

    Answer([](HostResponse& response) { response.body.type = 99; });  // nothing reads it
    EXPECT_TRUE(loaded->Request<void>(HttpMethod::Post, "/x"));
    EXPECT_EQ(releases, 3);
}

TEST_F(Requests, StreamedBodyIsReadInChunksYieldingOnlyAfterAShortOne) {
    ScriptedStream stream{{std::string(4096, ' '), "[1, ", "2]"}};
    AnswerWithStream(stream, 4096 + 6);
    const auto numbers = loaded->Request<std::vector<int>>(HttpMethod::Get, "/s");
    ASSERT_TRUE(numbers) << numbers.Error().Message();
    EXPECT_THAT(numbers.Value(), ElementsAre(1, 2));
    EXPECT_EQ(stream.closes, 1);
    EXPECT_EQ(releases, 1);
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 2 '/s' args=0", "hostBeginWait 'Wait: yield'",
                            "hostYield", "hostEndWait"));
}

TEST_F(Requests, StreamOfOneFullChunkIsReadWithoutYieldingWhateverTheSizeHint) {
    const std::string text = "\"" + std::string(4094, 'a') + "\"";
    for (std::uint64_t hint : {std::uint64_t{0}, std::uint64_t{0xFFFFFFFFu}, ~std::uint64_t{0}}) {
        SCOPED_TRACE(hint);
        ScriptedStream stream{{text}};
        AnswerWithStream(stream, hint);
        const Maybe<std::string> value = loaded->Request<std::string>(HttpMethod::Get, "/s");
        ASSERT_TRUE(value);
        EXPECT_EQ(value.Value().size(), 4094u);
    }
    EXPECT_EQ(loaded.host.CountOf(HostEntry::Yield), 0u);
}

TEST(HostResultFail, ReplacesTheBodyWithAnOwnedErrorText) {
    HostResponse response{};
    SetResponseBody(response, R"({"partial": [1, 2]})");
    EXPECT_TRUE(Client::HostResultFail(response, "first"));
    EXPECT_TRUE(Client::HostResultFail(response, "Couldn't assign value"));
    EXPECT_EQ(response.body.type, 0u);
    EXPECT_EQ(response.hasError, 1);
    ASSERT_NE(response.error, nullptr);
    EXPECT_STREQ(response.error, "Couldn't assign value");
    Memory::Free(const_cast<char*>(response.error));  // the host's, once handed over
}

}  // namespace
