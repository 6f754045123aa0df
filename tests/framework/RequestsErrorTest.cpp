#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Requests.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Testing;
using Requests = ServiceFixture;
using ::testing::StartsWith;

// Never registered: converting it to a dynamic value fails.
struct Unregistered {
    int value = 0;
};

template <class T>
Failure FailureOf(const Maybe<T>& result) {
    EXPECT_TRUE(result.IsFailure());
    return result.IsFailure() ? result.Error() : Failure();
}

TEST_F(Requests, FailuresCarryTheirCodeAndMessageAndTheResponseIsReleased) {
    LoadedModule idle;  // loaded, never initialized
    ScriptedStream failsSecond{{std::string(4096, ' '), "1"}, 1};
    ScriptedStream claimsTooMuch{{std::string(4097, ' ')}};
    ScriptedStream notJson{{"[1, ", "2"}};
    struct Row {
        const char* name;
        std::function<void()> answer;
        std::function<Failure()> call;
        std::int32_t code;
        ::testing::Matcher<std::string> message;
        int releases;
    };
    const Row rows[] = {
        {"error response", [&] { AnswerWithError("Resource not found", 404); },
         [&] { return FailureOf(loaded->GetResource("/missing")); }, 404,
         "Error response for GET /missing: Resource not found", 1},
        {"argument does not convert", nullptr,
         [&] {
             return FailureOf(loaded->Request<void>(HttpMethod::Post, "/p", std::string("first"),
                                                    Unregistered{}, 3));
         },
         400,
         "Request not sent: Error converting parameters for POST /p: Couldn't convert native "
         "value because it's an unregistered structure.",
         0},
        {"body is not the result type", [&] { AnswerWith(R"({"count": "x"})"); },
         [&] {
             return FailureOf(loaded->Request<ProbeModule::ProbeRecord>(HttpMethod::Get, "/probe"));
         },
         0, StartsWith("Error converting response for GET /probe: "), 1},
        {"body of a foreign type code",
         [&] { Answer([](HostResponse& response) { response.body.type = 99; }); },
         [&] { return FailureOf(loaded->GetResource("/foreign")); }, 0,
         StartsWith("Error converting response for GET /foreign: "), 1},
        {"stream fails on the second chunk", [&] { AnswerWithStream(failsSecond); },
         [&] { return FailureOf(loaded->GetResource("/s")); }, 0,
         "Error reading streamed response for GET /s: Stream read error", 1},
        {"stream claims more than the buffer", [&] { AnswerWithStream(claimsTooMuch); },
         [&] { return FailureOf(loaded->GetResource("/s")); }, 0,
         "Error reading streamed response for GET /s: Stream read error", 1},
        {"stream is not JSON", [&] { AnswerWithStream(notJson); },
         [&] { return FailureOf(loaded->GetResource("/s")); }, 0,
         "Error reading streamed response for GET /s: Error: Missing a comma or ']' after an "
         "array element. at offset 5.",
         1},
        {"no host", nullptr, [&] { return FailureOf(idle->GetResource("/r")); }, 0,
         "Request not sent: no host to send GET /r to", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        releases = 0;
        loaded.host.ClearCalls();
        if (row.answer) {
            row.answer();
        }
        const Failure failure = row.call();
        EXPECT_EQ(failure.Code(), row.code);
        EXPECT_THAT(std::string(failure.HasMessage() ? failure.Message() : "(none)"), row.message);
        EXPECT_EQ(releases, row.releases);
        EXPECT_EQ(loaded.host.CountOf(HostEntry::SendRequest), row.releases ? 1u : 0u);
    }
    for (const ScriptedStream* stream : {&failsSecond, &claimsTooMuch, &notJson}) {
        EXPECT_EQ(stream->closes, 1);
    }
}

TEST_F(Requests, UnnamedMethodsAreSentAsCodeZeroOrEightWithAnEmptyName) {
    for (const auto& [method, sentCode] : {std::pair{0u, 0u}, {8u, 8u}, {9u, 0u}, {~0u, 0u}}) {
        SCOPED_TRACE(method);
        loaded.host.ClearCalls();
        const Maybe<void> result = loaded->Request<void>(static_cast<HttpMethod>(method), "/x");
        EXPECT_STREQ(FailureOf(result).Message(), "Error response for  /x: not found");
        EXPECT_EQ(loaded.host.CallsTo(HostEntry::SendRequest).at(0).method, sentCode);
    }
}

}  // namespace
