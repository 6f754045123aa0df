#pragma once
// Runs a scenario against a plugin library: loads it, puts the scenario's
// resources in place, initialises it, then plays the steps and the plugin's
// scheduled callbacks in virtual-time order up to the end, reads the
// plugin's memory statistics and shuts it down. Every boundary crossing goes
// to the timeline; a summary and the expectation results follow.
//
// Order at equal virtual times: scenario steps first (in file order), then
// the callbacks due at that time (in scheduling order).
//
// Besides the scenario's own expectations the run checks the boundary: the
// plugin started (Initialize returned true), it left no subscription behind
// after Shutdown, released every response, and reported memory counters that
// add up (no more bytes or blocks freed than allocated).
//
// Threading: one thread drives everything. [host-thread]

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "DevHost.h"
#include "Scenario.h"
#include "Timeline.h"
#include "abi/HostAbi.h"

namespace Tavo::Host {

inline constexpr const char* kHeartbeatDestination = "loginService";
inline constexpr const char* kHeartbeatMethod = "performLCDSHeartBeat";

// A run stops when this many callbacks run at one virtual time: a plugin
// that keeps re-arming with no delay would otherwise never let time move.
inline constexpr std::size_t kMaxCallbacksPerInstant = 100000;

struct RunOptions {
    std::string pluginPath;
    PluginApiVersion hostVersion = kPluginApiVersion;
    TimelineFormat format = TimelineFormat::Text;
    bool quiet = false;       // summary and results only, no timeline
    std::FILE* out = stdout;  // not owned
};

// One heartbeat call as the host saw it.
struct HeartbeatRecord {
    VirtualTime time = 0;
    std::string account;  // the first argument as JSON ("9")
    std::int64_t count = 0;
    std::string timestamp;  // the fourth argument
    HeartbeatAnswer answer = HeartbeatAnswer::Text;
};

struct RunResult {
    bool started = false;  // Initialize's verdict
    VirtualTime end = 0;
    std::vector<HeartbeatRecord> heartbeats;
    std::size_t lcdsCalls = 0;
    std::vector<HostLogLine> logs;
    std::size_t subscriptionsAtEnd = 0;
    std::size_t subscriptionsAfterShutdown = 0;
    std::size_t callbacksRun = 0;
    std::size_t callbacksDropped = 0;  // still queued at Shutdown
    std::size_t eventsDelivered = 0;
    std::size_t telemetryEvents = 0;
    std::size_t unreleasedResponses = 0;
    PluginMemoryStats memory{};
    bool memoryRead = false;
    double wallSeconds = 0;
    std::string stopped;  // why the run ended early; empty when it reached the end
};

// Runs `scenario` with `options`, writing the timeline, the summary and the
// results. Returns 0 when every check and expectation held, 1 otherwise
// (also when the plugin cannot be loaded; `result` then stays default).
int RunScenario(const Scenario& scenario, const RunOptions& options, RunResult& result);

// The expectation and boundary checks over a finished run: one message per
// failure ("heartbeats: expected 3, got 2"). `checked` receives how many
// checks were made.
std::vector<std::string> CheckRun(const Scenario& scenario, const RunResult& result,
                                  std::size_t& checked);

}  // namespace Tavo::Host
