#pragma once
// Loading a plugin library the way the plugin manager does, and the three
// plugin callbacks behind one small object. Used by every subcommand that
// talks to a plugin (run, describe, call).
//
//   std::string error;
//   std::unique_ptr<PluginLibrary> plugin =
//       PluginLibrary::Load("build/dev/Plugins/ulm-be-vex-heartbeat/ulm-be-vex-heartbeat.so",
//                           kPluginApiVersion, error);
//   if (!plugin) { report error; }
//   plugin->ApiExport();                 // the export block, readable once loaded
//   plugin->Initialize(host.Connection());
//   plugin->ReadMemoryStats(stats);
//   plugin->Shutdown();                  // also done by the destructor
//
// The export's name comes from the library's file name: without its
// directory, a "lib" prefix, its extension and the full-name prefix
// ("ulm-be-", "ulm-fe-", "ulm-xx-"), the rest is the short name, and the
// export is "load_" followed by it with "-" turned into "_".
//
// A plugin refuses an incompatible host API version by ending the process;
// Load cannot turn that into an error.
//
// Threading: one thread, the host thread. Not copyable.

#include <memory>
#include <string>
#include <string_view>

#include "abi/HostAbi.h"

namespace Tavo::Host {

// "vex-heartbeat" for ".../ulm-be-vex-heartbeat.so" (and for
// "libulm-be-vex-heartbeat.so"); the stem itself when it has no full-name
// prefix. Empty when nothing is left.
std::string ShortNameFromLibraryPath(std::string_view path);

// "load_vex_heartbeat" for "vex-heartbeat".
std::string ExportSymbolForShortName(std::string_view shortName);

// Parses "X.Y.Z" (three decimal numbers that fit 32 bits); false otherwise.
bool ParseApiVersion(std::string_view text, PluginApiVersion& out);

class PluginLibrary {
public:
    // Opens the library at `path`, finds its export and calls it with a load
    // record carrying `hostVersion`. Returns null with `error` set when the
    // library does not open, lacks the export, or the export fails (returns
    // null or leaves the record without callbacks or handle).
    static std::unique_ptr<PluginLibrary> Load(const std::string& path,
                                               const PluginApiVersion& hostVersion,
                                               std::string& error);

    // Shuts the module down if that has not happened and releases the
    // library, which stays mapped until the process ends.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Symbol() const { return symbol_; }
    // The short name the plugin wrote into the load record.
    const std::string& ShortName() const { return shortName_; }
    // The plugin API version the plugin wrote back (texts empty).
    PluginApiVersion PluginVersion() const { return pluginVersion_; }
    // The export block; null once the module is gone. Points into the module.
    const PluginApiExport* ApiExport() const { return shutDown_ ? nullptr : record_.apiExport; }
    void* Module() const { return shutDown_ ? nullptr : record_.module; }
    bool IsInitialized() const { return initialized_; }
    bool IsShutDown() const { return shutDown_; }

    // Callback 0 with `connection` (which must stay valid until Shutdown).
    // Returns the plugin's verdict; false without a call when already
    // initialized or shut down.
    bool Initialize(HostConnection* connection);
    // Callback 2 into `out`. False, leaving `out` zeroed, once the module is
    // gone.
    bool ReadMemoryStats(PluginMemoryStats& out) const;
    // Callback 1, once; later calls do nothing. After it the handle, the
    // callback table, the short name and the export block are gone.
    void Shutdown();

private:
    PluginLibrary() = default;

    void* handle_ = nullptr;  // from Library::Open
    std::string path_;
    std::string symbol_;
    std::string shortName_;
    PluginApiVersion pluginVersion_;
    PluginLoadRecord record_{};
    // Copied at load: the table lives inside the module.
    PluginCallbacks callbacks_{};
    bool initialized_ = false;
    bool shutDown_ = false;
};

}  // namespace Tavo::Host
