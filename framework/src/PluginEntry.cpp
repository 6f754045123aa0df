#include "framework/PluginEntry.h"

#include <memory>
#include <mutex>
#include <unordered_set>

#include "framework/AppModule.h"
#include "framework/HostCallGuard.h"
#include "logging/Format.h"
#include "logging/Log.h"
#include "platform/MemoryAccounting.h"

namespace Tavo::Client {

namespace {

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Why: a host that calls Shutdown (or Initialize) again with a handle whose
// module is gone would otherwise make the module destroy freed memory. The
// handles of the modules alive in the process, so the callbacks can tell.
constinit Platform::Mutex liveModulesMutex;
std::unordered_set<const void*>& LiveModules() {
    static auto* live = new std::unordered_set<const void*>();  // outlives static teardown
    return *live;
}

bool IsLive(const void* handle) {
    std::lock_guard<Platform::Mutex> lock(liveModulesMutex);
    return LiveModules().count(handle) != 0;
}

// Forgets `handle`; false when it was not alive.
bool Retire(const void* handle) {
    std::lock_guard<Platform::Mutex> lock(liveModulesMutex);
    return LiveModules().erase(handle) != 0;
}

}  // namespace

// The plugin callbacks. The module handle is the module's address, as the
// load step wrote it; the host must not use it after Shutdown.
extern "C" {

// Callback 0. [host-thread & loaded]
static std::uint8_t Initialize(void* handle, HostConnection* connection) {
    auto* module = static_cast<AppModule*>(handle);
    if (module == nullptr || !IsLive(handle)) {
        Log(LogLevel::Error, LogGroup::DBG, "Initialize called without a module");
        return 0;
    }
    bool started = false;
    GuardHostCall("Initialize", [&] { started = module->Initialize(connection); });
    return started ? 1 : 0;
}

// Callback 1. [host-thread & initialized]
static void Shutdown(void* handle) {
    auto* module = static_cast<AppModule*>(handle);
    if (module == nullptr || !Retire(handle)) {
        // Shut down already (or never a module): nothing is left to stop.
        Log(LogLevel::Error, LogGroup::DBG, "Shutdown called without a module");
        return;
    }
    // From here on a late callback of this module finds nothing to call.
    module->RevokeCallbackContexts();
    GuardHostCall("Shutdown", [&] { module->Stop(); });
    delete module;
}

// Callback 2. [any-thread]
static void GetMemoryStats(void*, PluginMemoryStats* out) {
    if (out == nullptr) {
        return;
    }
    const Memory::Stats stats = Memory::ReadStats();
    *out = PluginMemoryStats{stats.peakBytes,
                             stats.peakAllocations,
                             stats.bytesAllocated,
                             stats.allocations,
                             stats.bytesFreed,
                             stats.frees,
                             0,
                             0};
}

}  // extern "C"

const PluginCallbacks& PluginCallbackTable() {
    static constexpr PluginCallbacks kCallbacks{&Initialize, &Shutdown, &GetMemoryStats};
    return kCallbacks;
}

std::string PluginType::ToText() const {
    std::string text = OrEmpty(typeName);
    text += ':';
    text += OrEmpty(typeQualifier);
    return text;
}

std::string GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
    const std::string_view typeName = OrEmpty(type.typeName);
    std::string fullName;
    if (typeName == "backend") {
        fullName = "ulm-be-";
    } else if (typeName == "frontend") {
        fullName = "ulm-fe-";
    } else {
        fullName = "ulm-xx-";
        const std::string message =
            Format("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
                   shortName, type.ToText());
        Log(LogLevel::Error, LogGroup::DBG, "            Plugin Manager| %s", message.c_str());
    }
    fullName += shortName;
    return fullName;
}

void* LoadModule(PluginLoadRecord* record, std::string_view shortName, AppModule* (*create)()) {
    if (record == nullptr) {
        Log(LogLevel::Error, LogGroup::DBG, "Loading %.*s: no load record",
            static_cast<int>(shortName.size()), shortName.data());
        return nullptr;
    }
    void* handle = nullptr;
    GuardHostCall("the plugin load", [&] {
        std::unique_ptr<AppModule> module(create());
        module->Load(*record, shortName);
        {
            std::lock_guard<Platform::Mutex> lock(liveModulesMutex);
            LiveModules().insert(module.get());
        }
        handle = module.release();
    });
    return handle;
}

}  // namespace Tavo::Client
