#pragma once
// Shared by the request tests: a fixture whose host answers with scripted
// responses, a counting release function and a scripted byte stream.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/HostValues.h"
#include "tests/framework/ModuleFixture.h"

namespace Tavo::Testing {

// A stream the host hands out: one chunk per read, "more" cleared with the
// last one. A read at `failAt` fails.
struct ScriptedStream {
    std::vector<std::string> chunks;
    int failAt = -1;
    int reads = 0;
    int closes = 0;

    static std::uint8_t Read(void* context, void* buffer, std::uint32_t* length,
                             std::uint8_t* more) {
        auto& stream = *static_cast<ScriptedStream*>(context);
        const int index = stream.reads++;
        if (index == stream.failAt || index >= static_cast<int>(stream.chunks.size())) {
            return 0;
        }
        const std::string& chunk = stream.chunks[static_cast<std::size_t>(index)];
        const std::size_t copied = std::min<std::size_t>(chunk.size(), *length);
        std::memcpy(buffer, chunk.data(), copied);
        *length = static_cast<std::uint32_t>(chunk.size());  // may claim more than it copied
        *more = index + 1 < static_cast<int>(stream.chunks.size()) ? 1 : 0;
        return 1;
    }
    static void Close(void* context) { ++static_cast<ScriptedStream*>(context)->closes; }

    // Hands the stream to `response`.
    void AttachTo(HostResponse& response, std::uint64_t expectedSize = 0) {
        response.streamRead = &Read;
        response.streamClose = &Close;
        response.streamContext = this;
        response.expectedSize = expectedSize;
    }
};

class Requests : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
        releases = 0;
    }

    // The host answers with `body` (JSON) and a release function that frees it.
    void AnswerWith(const char* body) {
        loaded.host.SetRequestHandler([body](HostResponse& response, const HostRequest&) {
            OwnedHostValue value(body);
            response.body = value.Release();
            response.release = &ReleaseBody;
        });
    }
    // The host answers with `stream`.
    void AnswerWithStream(ScriptedStream& stream, std::uint64_t expectedSize = 0) {
        loaded.host.SetRequestHandler(
            [&stream, expectedSize](HostResponse& response, const HostRequest&) {
                stream.AttachTo(response, expectedSize);
                response.release = &ReleaseBody;
            });
    }
    // The host answers with an error.
    void AnswerWithError(const char* text, std::int32_t status) {
        loaded.host.SetRequestHandler([text, status](HostResponse& response, const HostRequest&) {
            response.error = text;
            response.hasError = 1;
            response.status = status;
            response.release = &ReleaseBody;
        });
    }

    static void ReleaseBody(HostResponse* response) {
        HostValue body = response->body;
        ResetHostValue(body);
        response->body = body;
        ++releases;
    }

    static inline int releases = 0;
    LoadedModule loaded;
};

}  // namespace Tavo::Testing
