#include "framework/Requests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/RequestFixture.h"

namespace {

using Tavo::BindingProperty;
using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::HttpMethod;
using Tavo::Maybe;
using Tavo::Testing::HostEntry;
using Tavo::Testing::OwnedHostValue;
using Tavo::Testing::ProbeModule;
using Tavo::Testing::Requests;
using Tavo::Testing::ScriptedStream;
using ::testing::ElementsAre;

std::string Json(const BindingProperty& value) {
    return Tavo::WriteJson(value);
}

TEST_F(Requests, ArgumentsArePositionalInOrderAndTheRestOfTheRecordIsZero) {
    std::vector<std::string> seen;
    HostRequest copy{};
    loaded.host.SetRequestHandler([&](HostResponse&, const HostRequest& request) {
        copy = request;
        for (std::uint32_t i = 0; i < request.argumentCount; ++i) {
            const Tavo::HostRequestArgument& argument = request.arguments[i];
            seen.push_back(argument.name == nullptr ? "positional" : argument.name);
            const Tavo::HostValue value = argument.value;
            Tavo::BindingResult converted = Tavo::PropertyFromHostValue(value, "argument");
            seen.push_back(Json(converted.Value()));
        }
    });
    std::vector<BindingProperty> lcdsArguments(2);
    lcdsArguments[0].SetUnsigned(std::uint64_t{7});
    lcdsArguments[1].SetString("");
    const Maybe<void> sent = loaded->Request<void>(
        HttpMethod::Post, "/vex-login/v1/session/invoke", "loginService",
        std::string("performLCDSHeartBeat"), lcdsArguments, ProbeModule::ProbeRecord{4});
    ASSERT_TRUE(sent);
    EXPECT_THAT(seen, ElementsAre("positional", "\"loginService\"", "positional",
                                  "\"performLCDSHeartBeat\"", "positional", "[7,\"\"]",
                                  "positional", "{\"count\":4}"));
    EXPECT_EQ(copy.method, 6u);
    EXPECT_EQ(copy.context, loaded.host.HostContext());
    EXPECT_EQ(copy.dispatchContext, nullptr);
    EXPECT_EQ(copy.headers, nullptr);
    EXPECT_EQ(copy.headerCount, 0u);
    EXPECT_EQ(copy.contentType, nullptr);
    EXPECT_EQ(copy.body, nullptr);
    EXPECT_EQ(copy.bodyLength, 0u);
    EXPECT_EQ(copy.methodName, nullptr);
}

TEST_F(Requests, RequestWithoutArgumentsSendsNoArgumentArray) {
    bool called = false;
    loaded.host.SetRequestHandler([&](HostResponse&, const HostRequest& request) {
        called = true;
        EXPECT_EQ(request.arguments, nullptr);
        EXPECT_EQ(request.argumentCount, 0u);
    });
    ASSERT_TRUE(loaded->Request<void>(HttpMethod::Delete, "/r"));
    EXPECT_TRUE(called);
}

TEST_F(Requests, BodyDecodesIntoTheResultTypeAndIsReleased) {
    AnswerWith(R"({"count": 12, "extra": true})");
    const Maybe<ProbeModule::ProbeRecord> record =
        loaded->Request<ProbeModule::ProbeRecord>(HttpMethod::Get, "/probe");
    ASSERT_TRUE(record) << record.Error().Message();
    EXPECT_EQ(record.Value().count, 12);

    const Maybe<BindingProperty> value = loaded->GetResource("/probe");
    ASSERT_TRUE(value);
    EXPECT_EQ(Json(value.Value()), R"({"count":12,"extra":true})");

    const Maybe<std::int64_t> number = [&] {
        AnswerWith("-5");
        return loaded->Request<std::int64_t>(HttpMethod::Get, "/n");
    }();
    ASSERT_TRUE(number);
    EXPECT_EQ(number.Value(), -5);
    EXPECT_EQ(releases, 3);
}

TEST_F(Requests, ResultOfNothingIgnoresTheBody) {
    loaded.host.SetRequestHandler([](HostResponse& response, const HostRequest&) {
        response.body.type = 99;  // not convertible; owns nothing
    });
    EXPECT_TRUE(loaded->Request<void>(HttpMethod::Post, "/x"));
}

TEST_F(Requests, StreamedBodyIsReadInChunksAndParsedAsJson) {
    ScriptedStream stream;
    stream.chunks = {std::string(4096, ' '), "[1, ", "2]"};
    AnswerWithStream(stream, 4096 + 6);
    const Maybe<std::vector<int>> numbers =
        loaded->Request<std::vector<int>>(HttpMethod::Get, "/s");
    ASSERT_TRUE(numbers) << numbers.Error().Message();
    EXPECT_THAT(numbers.Value(), ElementsAre(1, 2));
    EXPECT_EQ(stream.reads, 3);
    EXPECT_EQ(stream.closes, 1);
    EXPECT_EQ(releases, 1);
    // A full chunk needs no yield; the short one with more to come does.
    EXPECT_THAT(loaded.host.Trace(),
                ElementsAre("hostSendRequest 2 '/s' args=0", "hostBeginWait 'Wait: yield'",
                            "hostYield", "hostEndWait"));
}

TEST_F(Requests, StreamOfExactlyOneFullChunkIsReadWithoutYielding) {
    const std::string text = "\"" + std::string(4094, 'a') + "\"";
    struct Row {
        const char* name;
        std::vector<std::string> chunks;
    };
    const Row rows[] = {
        {"ends with the chunk", {text}},
        {"ends with an empty read", {text, ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        loaded.host.ClearCalls();
        ScriptedStream stream;
        stream.chunks = row.chunks;
        AnswerWithStream(stream);
        const Maybe<std::string> value = loaded->Request<std::string>(HttpMethod::Get, "/s");
        ASSERT_TRUE(value);
        EXPECT_EQ(value.Value().size(), 4094u);
        EXPECT_EQ(loaded.host.CountOf(HostEntry::Yield), 0u);
        EXPECT_EQ(stream.closes, 1);
    }
}

TEST_F(Requests, SizeHintBeyondWhatCanBeReservedStillReads) {
    for (std::uint64_t hint : {std::uint64_t{0xFFFFFFFFu}, std::uint64_t{0x1FFFFFFFFull}}) {
        SCOPED_TRACE(hint);
        ScriptedStream stream;
        stream.chunks = {"{\"a\": 1}"};
        AnswerWithStream(stream, hint);
        const Maybe<BindingProperty> value = loaded->GetResource("/s");
        ASSERT_TRUE(value);
        EXPECT_EQ(Json(value.Value()), R"({"a":1})");
    }
}

TEST(HostResultFail, ReplacesTheBodyWithAnOwnedErrorText) {
    HostResponse response{};
    OwnedHostValue body(R"({"partial": [1, 2]})");
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
