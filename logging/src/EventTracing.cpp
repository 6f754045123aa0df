// The enable callback's computation for event tracing providers.

#include "EventTracing.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Platform.h"

namespace Tavo::Diagnostics {

bool TraceEventEnabled(const TraceEventDescriptor& event, std::uint8_t providerLevel,
                       std::uint64_t anyKeywords, std::uint64_t allKeywords) {
    if (providerLevel != 0 && event.level > providerLevel) {
        return false;
    }
    if (event.keyword == 0) {
        return true;
    }
    return (event.keyword & anyKeywords) != 0 && (event.keyword & allKeywords) == allKeywords;
}

void OnTraceEnableCallback(TraceProviderState& state, std::span<const TraceEventDescriptor> events,
                           std::span<bool> eventEnabled, std::uint32_t controlCode,
                           std::uint8_t level, std::uint64_t anyKeywords,
                           std::uint64_t allKeywords) {
    const std::size_t count = std::min(events.size(), eventEnabled.size());
    if (controlCode == kTraceControlDisable) {
        state = TraceProviderState{};
        std::fill(eventEnabled.begin(), eventEnabled.end(), false);
    } else if (controlCode == kTraceControlEnable) {
        state = TraceProviderState{true, level, anyKeywords, allKeywords};
        for (std::size_t i = 0; i < count; ++i) {
            eventEnabled[i] = TraceEventEnabled(events[i], level, anyKeywords, allKeywords);
        }
    }
}

// ---- the providers ---------------------------------------------------------

namespace {

struct Provider {
    constexpr Provider(Platform::TraceGuid id, std::span<const TraceEventDescriptor> list)
        : guid(id), events(list) {}

    Platform::TraceGuid guid;
    std::span<const TraceEventDescriptor> events;
    // Below: written by the system's callback thread, read before a write.
    Platform::Mutex mutex;
    TraceProviderState state;
    bool eventEnabled[1] = {};
    std::uint64_t handle = 0;  // 0 while not registered
};

constexpr TraceEventDescriptor kThreadEvents[] = {kThreadNameEvent};

constinit Provider g_providers[kTraceProviderCount] = {
    {{0x6b1f3a52, 0x0c4e, 0x4d7a, {0x9e, 0x21, 0x5f, 0x83, 0x4b, 0x17, 0xa6, 0xc2}}, {}},
    {{0x2d9c71e8, 0x5a13, 0x4f06, {0xb4, 0x7d, 0x18, 0xe2, 0x90, 0x3c, 0x6f, 0x55}}, kThreadEvents},
    {{0xc47e0b19, 0x83f2, 0x4a91, {0x8a, 0x0e, 0x6d, 0x24, 0xf1, 0x79, 0x3b, 0x08}}, {}},
    {{0x95a2d6f0, 0x1b7c, 0x4e3d, {0xa1, 0x5b, 0xc8, 0x0f, 0x62, 0xd4, 0x97, 0x3e}}, {}},
};
constexpr std::size_t kThreadProvider = 1;

void OnProviderEnable(void* context, std::uint32_t controlCode, std::uint8_t level,
                      std::uint64_t anyKeywords, std::uint64_t allKeywords) {
    auto& provider = *static_cast<Provider*>(context);
    std::lock_guard<Platform::Mutex> lock(provider.mutex);
    OnTraceEnableCallback(provider.state, provider.events, provider.eventEnabled, controlCode,
                          level, anyKeywords, allKeywords);
}

// Ends the registrations when the library is unloaded (or the process ends).
struct ProviderRegistrations {
    ProviderRegistrations() {
        for (Provider& provider : g_providers) {
            std::uint64_t handle = 0;
            if (Platform::TraceRegister(provider.guid, &OnProviderEnable, &provider, &handle)) {
                std::lock_guard<Platform::Mutex> lock(provider.mutex);
                provider.handle = handle;
            }
        }
        WriteThreadNameEvent("Main thread");
    }
    ~ProviderRegistrations() {
        for (Provider& provider : g_providers) {
            std::uint64_t handle = 0;
            {
                std::lock_guard<Platform::Mutex> lock(provider.mutex);
                handle = provider.handle;
                provider.handle = 0;
            }
            Platform::TraceUnregister(handle);
        }
    }
    ProviderRegistrations(const ProviderRegistrations&) = delete;
    ProviderRegistrations& operator=(const ProviderRegistrations&) = delete;
};

}  // namespace

void StartEventTracing() {
    static ProviderRegistrations registrations;
}

std::size_t RegisteredTraceProviders() {
    std::size_t count = 0;
    for (Provider& provider : g_providers) {
        std::lock_guard<Platform::Mutex> lock(provider.mutex);
        count += provider.handle != 0 ? 1 : 0;
    }
    return count;
}

bool WriteThreadNameEvent(const char* name) {
    Provider& provider = g_providers[kThreadProvider];
    std::uint64_t handle = 0;
    {
        std::lock_guard<Platform::Mutex> lock(provider.mutex);
        if (provider.handle == 0 || !provider.eventEnabled[0]) {
            return false;
        }
        handle = provider.handle;
    }
    const std::uint32_t threadId = Platform::CurrentThreadId();
    const char* text = name != nullptr ? name : "NULL";
    const Platform::TraceField fields[] = {
        {&threadId, sizeof threadId},
        {text, static_cast<std::uint32_t>(std::strlen(text) + 1)},
    };
    const TraceEventDescriptor& d = kThreadNameEvent;
    const Platform::TraceEvent event{d.id,     d.version, d.channel, d.level,
                                     d.opcode, d.task,    d.keyword};
    return Platform::TraceWrite(handle, event, fields, 2);
}

}  // namespace Tavo::Diagnostics
