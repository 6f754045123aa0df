// The library's only export, load_vex_heartbeat: builds the heartbeat module,
// checks the host's plugin API version (an incompatible host ends the
// process), fills the load record and returns the module handle.
// [host-thread]

#include <string_view>

#include "HeartbeatModule.h"
#include "framework/PluginExport.h"

static_assert(std::string_view(TAVO_PLUGIN_SHORT_NAME) == Tavo::Client::Heartbeat::kShortName,
              "the library's file name and the module agree on the short name");

TAVO_PLUGIN_EXPORT(Tavo::Client::Heartbeat::HeartbeatModule);
