#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Requests.h"
#include "tests/framework/RequestFixture.h"

namespace {

using Tavo::BindingProperty;
using Tavo::HostRequest;
using Tavo::HostResponse;
using Tavo::HttpMethod;
using Tavo::Maybe;
using Tavo::Testing::HostEntry;
using Tavo::Testing::ProbeModule;
using Tavo::Testing::Requests;
using Tavo::Testing::ScriptedStream;
using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    struct Row {
        std::uint32_t method;
        std::uint32_t sentCode;
    };
    for (const Row row : {Row{0, 0}, Row{8, 8}, Row{9, 0}, Row{0xFFFFFFFFu, 0}}) {
        SCOPED_TRACE(row.method);
        loaded.host.ClearCalls();
        AnswerWithError("boom", 500);
        const Maybe<void> result = loaded->Request<void>(static_cast<HttpMethod>(row.method), "/x");
        ASSERT_TRUE(result.IsFailure());
        EXPECT_STREQ(result.Error().Message(), "Error response for  /x: boom");
        ASSERT_EQ(loaded.host.CountOf(HostEntry::SendRequest), 1u);
        EXPECT_EQ(loaded.host.CallsTo(HostEntry::SendRequest)[0].method, row.sentCode);
    }
}

TEST_F(Requests, ArgumentThatDoesNotConvertStopsTheRequestWith400) {
    AnswerWith("1");
    const Maybe<void> result =
        loaded->Request<void>(HttpMethod::Post, "/p", std::string("first"), Unregistered{}, 3);
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 400);
    EXPECT_STREQ(result.Error().Message(),
                 "Request not sent: Error converting parameters for POST /p: Couldn't convert "
                 "native value because it's an unregistered structure.");
    EXPECT_EQ(loaded.host.CountOf(HostEntry::SendRequest), 0u);
    EXPECT_EQ(releases, 0);  // nothing was filled, nothing to release
}

TEST_F(Requests, BodiesThatDoNotDecodeFailWithCodeZero) {
    struct Row {
        const char* body;
        const char* message;
    };
    const Row rows[] = {
        {R"({"count": "x"})", "Error converting response for GET /probe: "},
        {R"([1, 2])", "Error converting response for GET /probe: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body);
        AnswerWith(row.body);
        const auto result = loaded->Request<ProbeModule::ProbeRecord>(HttpMethod::Get, "/probe");
        ASSERT_TRUE(result.IsFailure());
        EXPECT_EQ(result.Error().Code(), 0);
        EXPECT_THAT(result.Error().Message(), StartsWith(row.message));
    }

    loaded.host.SetRequestHandler([](HostResponse& response, const HostRequest&) {
        response.body.type = 99;  // a type code the plugin does not know
        response.release = &ReleaseBody;
    });
    const Maybe<BindingProperty> foreign = loaded->GetResource("/foreign");
    ASSERT_TRUE(foreign.IsFailure());
    EXPECT_EQ(foreign.Error().Code(), 0);
    EXPECT_THAT(foreign.Error().Message(),
                StartsWith("Error converting response for GET /foreign: "));
    EXPECT_EQ(releases, 3);
}

TEST_F(Requests, StreamFailingOnTheSecondChunkStillClosesAndReleases) {
    ScriptedStream stream;
    stream.chunks = {std::string(4096, ' '), "1"};
    stream.failAt = 1;
    AnswerWithStream(stream);
    const Maybe<BindingProperty> result = loaded->GetResource("/s");
    ASSERT_TRUE(result.IsFailure());
    EXPECT_EQ(result.Error().Code(), 0);
    EXPECT_STREQ(result.Error().Message(),
                 "Error reading streamed response for GET /s: Stream read error");
    EXPECT_EQ(stream.reads, 2);
    EXPECT_EQ(stream.closes, 1);
    EXPECT_EQ(releases, 1);
}

TEST_F(Requests, StreamThatIsNotJsonOrOverrunsItsBufferFails) {
    struct Row {
        const char* name;
        std::vector<std::string> chunks;
        const char* message;
    };
    const Row rows[] = {
        {"not JSON",
         {"[1, ", "2"},
         "Error reading streamed response for GET /s: Error: Missing a comma or ']' after an "
         "array element. at offset 5."},
        {"claims more than the buffer",
         {std::string(4097, ' ')},
         "Error reading streamed response for GET /s: Stream read error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        releases = 0;
        ScriptedStream stream;
        stream.chunks = row.chunks;
        AnswerWithStream(stream);
        const Maybe<BindingProperty> result = loaded->GetResource("/s");
        ASSERT_TRUE(result.IsFailure());
        EXPECT_EQ(result.Error().Code(), 0);
        EXPECT_STREQ(result.Error().Message(), row.message);
        EXPECT_EQ(stream.closes, 1);
        EXPECT_EQ(releases, 1);
    }
}

TEST(RequestsWithoutHost, FailInsteadOfReadingAnEmptyResponse) {
    Tavo::Testing::LoadedModule loaded;  // loaded, never initialized
    const Maybe<BindingProperty> result = loaded->GetResource("/r");
    ASSERT_TRUE(result.IsFailure());
    EXPECT_THAT(result.Error().Message(), HasSubstr("GET /r"));
}

}  // namespace
