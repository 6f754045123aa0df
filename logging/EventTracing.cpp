// The enable callback's computation for event tracing providers.

#include "logging/EventTracing.h"

#include <algorithm>

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

}  // namespace Tavo::Diagnostics
