#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Requests.h"
#include "tests/framework/ServiceFixture.h"

namespace {

using Tavo::BindingProperty;
using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::HttpMethod;
using Tavo::Maybe;
using Tavo::Testing::HostEntry;
using Tavo::Testing::ScriptedStream;
using ::testing::StartsWith;

using Requests = Tavo::Testing::ServiceFixture;

// Never registered: converting it to a dynamic value fails.
struct Unregistered {
    int value = 0;
};

TEST_F(Requests, ErrorResponseCarriesTheHostsStatusAndText) {
    AnswerWithError("Resource not found", 404);
    const Maybe<BindingProperty> result = loaded->GetResource("/missing");
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 404);
    EXPECT_STREQ(result.Error().Message(), "Error response for GET /missing: Resource not found");
    EXPECT_EQ(releases, 1);
}

TEST_F(Requests, UnnamedMethodsAreSentAsCodeZeroOrEightWithAnEmptyName) {
    for (const auto& [method, sentCode] : {std::pair{0u, 0u}, {8u, 8u}, {9u, 0u}, {~0u, 0u}}) {
        SCOPED_TRACE(method);
        loaded.host.ClearCalls();
        const Maybe<void> result = loaded->Request<void>(static_cast<HttpMethod>(method), "/x");
        ASSERT_TRUE(result.IsFailure());
        EXPECT_STREQ(result.Error().Message(), "Error response for  /x: not found");
        EXPECT_EQ(loaded.host.CallsTo(HostEntry::SendRequest).at(0).method, sentCode);
    }
}

TEST_F(Requests, ArgumentThatDoesNotConvertStopsTheRequestWith400) {
    const Maybe<void> result =
        loaded->Request<void>(HttpMethod::Post, "/p", std::string("first"), Unregistered{}, 3);
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 400);
    EXPECT_STREQ(result.Error().Message(),
                 "Request not sent: Error converting parameters for POST /p: Couldn't convert "
                 "native value because it's an unregistered structure.");
    EXPECT_EQ(loaded.host.CountOf(HostEntry::SendRequest), 0u);
}

TEST_F(Requests, BodiesThatDoNotDecodeFailWithCodeZero) {
    AnswerWith(R"({"count": "x"})");
    const auto record =
        loaded->Request<Tavo::Testing::ProbeModule::ProbeRecord>(HttpMethod::Get, "/probe");
    loaded.host.SetRequestHandler([](HostResponse& response, const HostRequest&) {
        response.body.type = 99;  // a type code the plugin does not know
        response.release = &ReleaseBody;
    });
    const Maybe<BindingProperty> foreign = loaded->GetResource("/foreign");
    ASSERT_TRUE(record.IsFailure());
    ASSERT_TRUE(foreign.IsFailure());
    EXPECT_EQ(record.Error().Code(), 0);
    EXPECT_EQ(foreign.Error().Code(), 0);
    EXPECT_THAT(record.Error().Message(), StartsWith("Error converting response for GET /probe: "));
    EXPECT_THAT(foreign.Error().Message(),
                StartsWith("Error converting response for GET /foreign: "));
    EXPECT_EQ(releases, 2);
}

TEST_F(Requests, BrokenStreamsFailButAreClosedAndReleased) {
    struct Row {
        const char* name;
        std::vector<std::string> chunks;
        int failAt;
        const char* inner;
    };
    const Row rows[] = {
        {"reader fails on the second chunk", {std::string(4096, ' '), "1"}, 1, "Stream read error"},
        {"reader claims more than the buffer", {std::string(4097, ' ')}, -1, "Stream read error"},
        {"not JSON",
         {"[1, ", "2"},
         -1,
         "Error: Missing a comma or ']' after an array element. at offset 5."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        releases = 0;
        ScriptedStream stream;
        stream.chunks = row.chunks;
        stream.failAt = row.failAt;
        AnswerWithStream(stream);
        const Maybe<BindingProperty> result = loaded->GetResource("/s");
        ASSERT_TRUE(result.IsFailure());
        EXPECT_EQ(result.Error().Code(), 0);
        EXPECT_EQ(std::string(result.Error().Message()),
                  std::string("Error reading streamed response for GET /s: ") + row.inner);
        EXPECT_EQ(stream.closes, 1);
        EXPECT_EQ(releases, 1);
    }
}

TEST(RequestsWithoutHost, FailInsteadOfReadingAnEmptyResponse) {
    Tavo::Testing::LoadedModule loaded;  // loaded, never initialized
    const Maybe<BindingProperty> result = loaded->GetResource("/r");
    ASSERT_TRUE(result.IsFailure());
    EXPECT_STREQ(result.Error().Message(), "Request not sent: no host to send GET /r to");
}

}  // namespace
