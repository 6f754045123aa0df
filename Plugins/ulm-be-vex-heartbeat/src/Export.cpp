// The library's only export. Everything else in it is hidden (compiled with
// hidden visibility and cut to this one name by exports.map).

#include <type_traits>

#include "HeartbeatModule.h"
#include "abi/HostAbi.h"
#include "framework/PluginEntry.h"

// Builds the heartbeat module, checks the host's plugin API version (an
// incompatible host ends the process), fills `record` and returns the module
// handle. [host-thread]
extern "C" __attribute__((visibility("default"))) void* load_vex_heartbeat(
    Tavo::PluginLoadRecord* record) {
    using Tavo::Client::Heartbeat::HeartbeatModule;
    return Tavo::Client::LoadPlugin<HeartbeatModule>(record, Tavo::Client::Heartbeat::kShortName);
}

static_assert(std::is_same_v<decltype(&load_vex_heartbeat), Tavo::PluginLoadFn>,
              "the export has the boundary's type");
