#pragma once
// A module under test, loaded and initialized against a TestHost.

#include <functional>
#include <string>
#include <utility>

#include "framework/AppModule.h"
#include "framework/PluginEntry.h"
#include "tests/framework/TestHost.h"

namespace Tavo::Testing {

// A plugin module whose hooks a test sets, with the protected tables opened.
class ProbeModule : public Client::AppModule {
public:
    struct ProbeRecord {
        std::int32_t count = 0;
    };

    std::function<bool()> onStart;
    bool registerProbeType = true;

    void RegisterApiTypes() override {
        if (registerProbeType) {
            DeclareStruct<ProbeRecord>("ProbeRecord").AddField("count", &ProbeRecord::count);
        }
    }
    bool Start() override { return onStart ? onStart() : true; }

    // A host subscription with an (empty) handler entry, as the subscription
    // layer makes them.
    void SubscribeHostEvent(const std::string& eventName) {
        hostEventHandlers_[eventName] = std::make_shared<Client::HostEventHandler>();
        hostSubscribe(eventName.c_str(), HostContext(), nullptr, EventContext(), 0);
    }
    void AddListeners() {
        exactListeners_["/a"] = [](const Client::PluginResourceEvent&) {};
        patternListeners_["/a/*"] = [](const Client::PluginResourceEvent&) {};
    }

    auto& HostEventHandlers() { return hostEventHandlers_; }
    auto& SubscriptionCounts() { return subscriptionCounts_; }
    auto& Timers() { return timers_; }
    auto& ExactListeners() { return exactListeners_; }
    auto& PatternListeners() { return patternListeners_; }
};

// Loads a ProbeModule through the plugin entry and initializes it with a
// TestHost; shuts it down at the end unless the test did.
class LoadedModule {
public:
    explicit LoadedModule(const char* shortName = "vex-heartbeat") {
        record_.apiMajor = 18;
        handle_ = Client::LoadPlugin<ProbeModule>(&record_, shortName);
    }
    ~LoadedModule() { Shutdown(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Initialize() { return record_.callbacks->Initialize(handle_, host.Connection()) != 0; }
    void Shutdown() {
        if (handle_ != nullptr) {
            record_.callbacks->Shutdown(handle_);
            handle_ = nullptr;
        }
    }

    ProbeModule& Module() {
        return *static_cast<ProbeModule*>(static_cast<Client::AppModule*>(handle_));
    }
    ProbeModule* operator->() { return &Module(); }
    const PluginLoadRecord& Record() const { return record_; }
    void* Handle() const { return handle_; }

    TestHost host;

private:
    PluginLoadRecord record_{};
    void* handle_ = nullptr;
};

}  // namespace Tavo::Testing
