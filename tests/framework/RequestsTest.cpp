#include "framework/Requests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/JsonWriter.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/ServiceFixture.h"

namespace {

using Tavo::BindingProperty;
using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::HttpMethod;
using Tavo::Maybe;
using Tavo::Testing::HostEntry;
using Tavo::Testing::ScriptedStream;
using Probe = Tavo::Testing::ProbeModule::ProbeRecord;
using ::testing::ElementsAre;

using Requests = Tavo::Testing::ServiceFixture;

TEST_F(Requests, ArgumentsArePositionalInOrderAndTheRestOfTheRecordIsZero) {
    std::vector<std::string> seen;
    HostRequest sent{};
    loaded.host.SetRequestHandler([&](HostResponse&, const HostRequest& request) {
        sent = request;
        for (std::uint32_t i = 0; i < request.argumentCount; ++i) {
            EXPECT_EQ(request.arguments[i].name, nullptr);
            const Tavo::HostValue value = request.arguments[i].value;
            seen.push_back(Tavo::WriteJson(Tavo::PropertyFromHostValue(value, "a").Value()));
        }
    });
    std::vector<BindingProperty> lcdsArguments(2);
    lcdsArguments[0].SetUnsigned(std::uint64_t{7});
    lcdsArguments[1].SetString("");
    ASSERT_TRUE(loaded->Request<void>(HttpMethod::Post, "/vex-login/v1/session/invoke",
                                      "loginService", std::string("performLCDSHeartBeat"),
                                      lcdsArguments, Probe{4}));
    EXPECT_THAT(seen, ElementsAre("\"loginService\"", "\"performLCDSHeartBeat\"", "[7,\"\"]",
                                  "{\"count\":4}"));
    EXPECT_EQ(sent.method, 6u);
    EXPECT_EQ(sent.context, loaded.host.HostContext());
    // Every field the module does not set is zero.
    EXPECT_TRUE(sent.dispatchContext == nullptr && sent.headers == nullptr &&
                sent.headerCount == 0 && sent.contentType == nullptr && sent.body == nullptr &&
                sent.bodyLength == 0 && sent.methodName == nullptr);

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
    EXPECT_EQ(Tavo::WriteJson(value.Value()), R"({"count":12,"extra":true})");
    EXPECT_EQ(releases, 2);

    loaded.host.SetRequestHandler([](HostResponse& response, const HostRequest&) {
        response.body.type = 99;  // not convertible, but nothing reads it
    });
    EXPECT_TRUE(loaded->Request<void>(HttpMethod::Post, "/x"));
}

TEST_F(Requests, StreamedBodyIsReadInChunksYieldingOnlyAfterAShortOne) {
    ScriptedStream stream;
    stream.chunks = {std::string(4096, ' '), "[1, ", "2]"};
    AnswerWithStream(stream, 4096 + 6);
    const Maybe<std::vector<int>> numbers =
        loaded->Request<std::vector<int>>(HttpMethod::Get, "/s");
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
        ScriptedStream stream;
        stream.chunks = {text};
        AnswerWithStream(stream, hint);
        const Maybe<std::string> value = loaded->Request<std::string>(HttpMethod::Get, "/s");
        ASSERT_TRUE(value);
        EXPECT_EQ(value.Value().size(), 4094u);
    }
    EXPECT_EQ(loaded.host.CountOf(HostEntry::Yield), 0u);
}

TEST(HostResultFail, ReplacesTheBodyWithAnOwnedErrorText) {
    HostResponse response{};
    Tavo::Testing::OwnedHostValue body(R"({"partial": [1, 2]})");
    response.body = body.Release();
    EXPECT_TRUE(Tavo::Client::HostResultFail(response, "first"));
    EXPECT_TRUE(Tavo::Client::HostResultFail(response, "Couldn't assign value"));
    EXPECT_EQ(response.body.type, 0u);
    EXPECT_EQ(response.hasError, 1);
    ASSERT_NE(response.error, nullptr);
    EXPECT_STREQ(response.error, "Couldn't assign value");
    Tavo::Memory::Free(const_cast<char*>(response.error));  // the host's, once handed over
}

}  // namespace
