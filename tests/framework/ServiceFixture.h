#pragma once
// Shared by the host-service tests: an initialized module whose test host
// answers requests as scripted, a counting release function, a scripted byte
// stream, and events built from JSON.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "tests/framework/HostValues.h"
#include "tests/framework/ModuleFixture.h"

namespace Tavo::Testing {

// One chunk per read, "more" cleared with the last; the read at `failAt` fails.
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
        std::memcpy(buffer, chunk.data(), std::min<std::size_t>(chunk.size(), *length));
        *length = static_cast<std::uint32_t>(chunk.size());  // may claim more than it copied
        *more = index + 1 < static_cast<int>(stream.chunks.size()) ? 1 : 0;
        return 1;
    }
    static void Close(void* context) { ++static_cast<ScriptedStream*>(context)->closes; }
};

class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
        releases = 0;
        AnswerWithError("not found", 404);  // until a test says otherwise
    }

    // The host answers with `body` (JSON) and a release function that frees it.
    void AnswerWith(const char* body) {
        loaded.host.SetRequestHandler([body](HostResponse& response, const HostRequest&) {
            OwnedHostValue value(body);
            response.body = value.Release();
            response.release = &ReleaseBody;
        });
    }
    void AnswerWithStream(ScriptedStream& stream, std::uint64_t expectedSize = 0) {
        loaded.host.SetRequestHandler(
            [&stream, expectedSize](HostResponse& response, const HostRequest&) {
                response.streamRead = &ScriptedStream::Read;
                response.streamClose = &ScriptedStream::Close;
                response.streamContext = &stream;
                response.expectedSize = expectedSize;
                response.release = &ReleaseBody;
            });
    }
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

    // Delivers the JSON document `payload` to the subscriber of `eventName`.
    void Deliver(const char* eventName, const std::string& payload) {
        const OwnedHostValue value(payload.c_str());
        ASSERT_TRUE(loaded.host.Deliver(eventName, value.Get())) << eventName;
    }

    static inline int releases = 0;
    LoadedModule loaded;
};

}  // namespace Tavo::Testing
