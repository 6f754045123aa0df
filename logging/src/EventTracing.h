#pragma once
// The enable state of an operating-system event tracing provider and the
// computation its enable callback performs. This part is plain code, so it
// is the same, and tested, everywhere.
//
// The Linux build has no event tracing: it registers no provider, looks up
// no entry points and writes no event (not even the thread-name event), and
// nothing calls the functions below outside the tests. Registering the four
// providers through entry points looked up at run time, and calling
// OnTraceEnableCallback from their enable callback, belongs to the Windows
// build.

#include <cstddef>
#include <cstdint>
#include <span>

namespace Tavo::Diagnostics {

// One event of a provider, as its manifest describes it.
struct TraceEventDescriptor {
    std::uint16_t id = 0;
    std::uint8_t version = 0;
    std::uint8_t channel = 0;
    std::uint8_t level = 0;
    std::uint8_t opcode = 0;
    std::uint16_t task = 0;
    std::uint64_t keyword = 0;
};

// The thread-name event of the second provider; its payload is the thread id
// (32-bit) and the thread's name as a NUL-terminated text ("NULL" when none).
inline constexpr TraceEventDescriptor kThreadNameEvent{103, 0, 0, 0, 14, 2, 0x1};

// Control codes the operating system passes to the enable callback.
inline constexpr std::uint32_t kTraceControlDisable = 0;
inline constexpr std::uint32_t kTraceControlEnable = 1;

// What the operating system last asked of one provider. Written by its
// callback thread, read before an event is written.
struct TraceProviderState {
    bool enabled = false;
    std::uint8_t level = 0;
    std::uint64_t anyKeywords = 0;
    std::uint64_t allKeywords = 0;
};

// Whether `event` is enabled under a provider level and keyword masks: its
// level is at most the provider level (or the provider level is 0), and an
// event with keywords shares a bit with `anyKeywords` and has every bit of
// `allKeywords`; an event without keywords needs only the level test.
bool TraceEventEnabled(const TraceEventDescriptor& event, std::uint8_t providerLevel,
                       std::uint64_t anyKeywords, std::uint64_t allKeywords);

// The enable callback's work. Disable (0) clears `state` and every bit of
// `eventEnabled`; enable (1) stores the flag, level and masks and recomputes
// each event's bit (`eventEnabled[i]` for `events[i]`; the shorter of the two
// spans counts); other codes change nothing. [any-thread, one at a time]
void OnTraceEnableCallback(TraceProviderState& state, std::span<const TraceEventDescriptor> events,
                           std::span<bool> eventEnabled, std::uint32_t controlCode,
                           std::uint8_t level, std::uint64_t anyKeywords,
                           std::uint64_t allKeywords);

}  // namespace Tavo::Diagnostics

namespace Tavo::Diagnostics {

// This library's four event tracing providers (fixed GUIDs of their own).
// Started once when the library is loaded (by the diagnostics' static
// initialisation), ended when it is unloaded. Where the system has no event
// tracing, or its entry points are missing, nothing is registered and every
// call below does nothing.
inline constexpr std::size_t kTraceProviderCount = 4;

// Registers the providers, once; later calls do nothing. When the second
// provider is enabled right away, writes the thread-name event for the
// calling thread as "Main thread". [any-thread]
void StartEventTracing();

// How many providers the system accepted: kTraceProviderCount, or 0 where
// there is no event tracing. [any-thread]
std::size_t RegisteredTraceProviders();

// Writes the thread-name event (second provider) for the calling thread with
// `name` ("NULL" when null). False when the event is not enabled or could not
// be written. [any-thread]
bool WriteThreadNameEvent(const char* name);

}  // namespace Tavo::Diagnostics
