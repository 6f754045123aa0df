#pragma once
// Modules under test, loaded through the plugin entry and initialized against
// a TestHost, and what the host side of the tests needs: host values built
// from JSON, response bodies, scripted byte streams.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "framework/AppModule.h"
#include "framework/PluginEntry.h"
#include "tests/framework/ModuleTestSeam.h"
#include "tests/framework/TestHost.h"

namespace Tavo::Testing {

// A plugin module whose start a test sets, with its tables opened through
// the test seam.
class ProbeModule : public Client::AppModule {
public:
    struct ProbeRecord {
        std::int32_t count = 0;
    };

    std::function<bool()> onStart;

    void RegisterApiTypes() override {
        DeclareStruct<ProbeRecord>("ProbeRecord").AddField("count", &ProbeRecord::count);
    }
    bool Start() override { return onStart ? onStart() : true; }

    // A host subscription with an (empty) handler entry, as the subscription
    // layer makes them.
    void SubscribeHostEvent(const std::string& eventName) {
        ModuleTestSeam::HostEventHandlers(*this)[eventName] =
            std::make_shared<Client::HostEventHandler>();
        ModuleTestSeam::Subscribe(*this, eventName.c_str(), HostContext(), nullptr, EventContext(),
                                  0);
    }

    auto& HostEventHandlers() { return ModuleTestSeam::HostEventHandlers(*this); }
    auto& SubscriptionCounts() { return ModuleTestSeam::SubscriptionCounts(*this); }
    auto& Timers() { return ModuleTestSeam::Timers(*this); }
    auto& ExactListeners() { return ModuleTestSeam::ExactListeners(*this); }
    auto& PatternListeners() { return ModuleTestSeam::PatternListeners(*this); }
    auto& PendingServiceProxyRequests() {
        return ModuleTestSeam::PendingServiceProxyRequests(*this);
    }
    auto& AsyncServiceProxyHandlers() { return ModuleTestSeam::AsyncServiceProxyHandlers(*this); }
    auto& ReceivedServiceProxyReplies() {
        return ModuleTestSeam::ReceivedServiceProxyReplies(*this);
    }
};

// Loads `M` as a plugin of API 18.0.0; Initialize connects it to `host`.
// Shut down at the end unless the test did.
template <class M>
class LoadedPlugin {
public:
    explicit LoadedPlugin(const char* shortName = "vex-heartbeat") {
        record_.apiMajor = 18;
        handle_ = Client::LoadPlugin<M>(&record_, shortName);
    }
    ~LoadedPlugin() { Shutdown(); }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool Initialize() { return record_.callbacks->Initialize(handle_, host.Connection()) != 0; }
    void Shutdown() {
        if (handle_ != nullptr) {
            record_.callbacks->Shutdown(handle_);
            handle_ = nullptr;
        }
    }

    M& Module() { return *static_cast<M*>(static_cast<Client::AppModule*>(handle_)); }
    M* operator->() { return &Module(); }
    const PluginLoadRecord& Record() const { return record_; }
    void* Handle() const { return handle_; }

    TestHost host;

private:
    PluginLoadRecord record_{};
    void* handle_ = nullptr;
};

using LoadedModule = LoadedPlugin<ProbeModule>;

// A host value built from JSON, owned by the test.
class OwnedHostValue {
public:
    explicit OwnedHostValue(const std::string& json) {
        BindingResult parsed = ParseJson(json);
        EXPECT_TRUE(parsed.IsOk()) << parsed.ErrorMessage();
        EXPECT_TRUE(HostValueFromProperty(value_, parsed.Value(), nullptr));
    }
    ~OwnedHostValue() { ResetHostValue(value_); }
    OwnedHostValue(const OwnedHostValue&) = delete;
    OwnedHostValue& operator=(const OwnedHostValue&) = delete;

    const HostValue& Get() const { return value_; }
    // Hands the value over (to a response the test fills); null after.
    HostValue Release() { return std::exchange(value_, HostValue{}); }

private:
    HostValue value_{};
};

// The host's side of a response body: set from JSON, freed by `release`
// (by default FreeResponseBody), which the plugin must call once.
inline void FreeResponseBody(HostResponse* response) {
    HostValue body = response->body;  // the record is packed: no reference to a member
    ResetHostValue(body);
    response->body = body;
}
inline void SetResponseBody(HostResponse& response, const std::string& json,
                            HostResponseReleaseFn release = &FreeResponseBody) {
    response.body = OwnedHostValue(json).Release();
    response.release = release;
}

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

// For the host-service tests: an initialized module whose host answers as
// scripted (404 until told otherwise), counting the release calls.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loaded.Initialize());
        loaded.host.ClearCalls();
        releases = 0;
        AnswerWithError("not found", 404);
    }

    void AnswerWith(const char* body) {
        Answer([body](HostResponse& response) { SetResponseBody(response, body, &Release); });
    }
    void AnswerWithStream(ScriptedStream& stream, std::uint64_t expectedSize = 0) {
        Answer([&stream, expectedSize](HostResponse& response) {
            response.streamRead = &ScriptedStream::Read;
            response.streamClose = &ScriptedStream::Close;
            response.streamContext = &stream;
            response.expectedSize = expectedSize;
        });
    }
    void AnswerWithError(const char* text, std::int32_t status) {
        Answer([text, status](HostResponse& response) {
            response.error = text;
            response.hasError = 1;
            response.status = status;
        });
    }
    void Answer(std::function<void(HostResponse&)> fill) {
        loaded.host.SetRequestHandler([fill](HostResponse& response, const HostRequest&) {
            response.release = &Release;
            fill(response);
        });
    }
    static void Release(HostResponse* response) {
        FreeResponseBody(response);
        ++releases;
    }

    // Delivers the JSON document `payload` to the subscriber of `eventName`.
    void Deliver(const char* eventName, const std::string& payload) {
        const OwnedHostValue value(payload);
        ASSERT_TRUE(loaded.host.Deliver(eventName, value.Get())) << eventName;
    }

    static inline int releases = 0;
    LoadedModule loaded;
};

}  // namespace Tavo::Testing
