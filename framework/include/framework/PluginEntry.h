#pragma once
// The plugin's side of the handshake: names, the load step a plugin's export
// runs, and the three plugin callbacks the host calls afterwards.
//
// A plugin's only export is a one-liner:
//
//   extern "C" void* load_vex_heartbeat(Tavo::PluginLoadRecord* record) {
//       return Tavo::Client::LoadPlugin<HeartbeatModule>(record, "vex-heartbeat");
//   }
//
// LoadPlugin constructs the module, checks the host's plugin API version (an
// incompatible host ends the process with the fatal report "ALE-EECF0606"),
// names the module, registers the framework's types and then the plugin's
// (AppModule::RegisterApiTypes), builds the API export block and fills the
// record. The callback table it publishes (Initialize, Shutdown,
// GetMemoryStats) lives inside the module; no C++ exception leaves any of them.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "abi/HostAbi.h"

namespace Tavo::Client {

class AppModule;

// A plugin type: (typeName, typeQualifier). Texts are static; null counts as
// empty.
struct PluginType {
    const char* typeName = "";
    const char* typeQualifier = "";

    // "typeName:typeQualifier", e.g. "backend:".
    std::string ToText() const;
};

inline constexpr PluginType kBackendPluginType{"backend", ""};
inline constexpr PluginType kFrontendPluginType{"frontend", ""};

// The names of a loaded plugin.
struct PluginName {
    std::string fullName;  // "ulm-be-" + short name for a backend plugin
    std::string shortName;
    std::string typeName;
    std::string typeQualifier;
};

// The prefix "ulm-be-" ("backend"), "ulm-fe-" ("frontend") or, for any other
// type name (compared byte-wise), "ulm-xx-" with an Error line in the log;
// then the short name.
// [any-thread]
std::string GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type);

// The plugin callback table every module publishes.
const PluginCallbacks& PluginCallbackTable();

// Builds a module with `create`, runs its load step with `record` and
// `shortName` (AppModule::Load) and returns the module handle it wrote into
// the record. Returns null, writing nothing into the record, when `record` is
// null or the module cannot be built (logged at level Error). Ends the process
// when the host's version is incompatible.
// [host-thread]
void* LoadModule(PluginLoadRecord* record, std::string_view shortName, AppModule* (*create)());

// LoadModule for the module class `Module` (default-constructible, derived
// from AppModule).
// [host-thread]
template <class Module>
void* LoadPlugin(PluginLoadRecord* record, std::string_view shortName) {
    static_assert(std::is_base_of_v<AppModule, Module>, "a plugin module derives from AppModule");
    return LoadModule(record, shortName, []() -> AppModule* { return new Module(); });
}

}  // namespace Tavo::Client
