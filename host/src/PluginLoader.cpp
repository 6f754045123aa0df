#include "PluginLoader.h"

#include <charconv>
#include <cstring>

#include "LibraryLoader.h"
#include "platform/Platform.h"

namespace Tavo::Host {

std::string ShortNameFromLibraryPath(std::string_view path) {
    const std::size_t slash = path.find_last_of(Platform::kPathSeparators);
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.substr(0, 3) == "lib") {
        name.remove_prefix(3);
    }
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    for (std::string_view prefix : {"ulm-be-", "ulm-fe-", "ulm-xx-"}) {
        if (name.substr(0, prefix.size()) == prefix) {
            name.remove_prefix(prefix.size());
            break;
        }
    }
    return std::string(name);
}

std::string ExportSymbolForShortName(std::string_view shortName) {
    std::string symbol = kPluginExportPrefix;
    for (const char c : shortName) {
        symbol += c == '-' ? '_' : c;
    }
    return symbol;
}

bool ParseApiVersion(std::string_view text, PluginApiVersion& out) {
    std::uint32_t parts[3] = {0, 0, 0};
    const char* position = text.data();
    const char* const end = text.data() + text.size();
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (position == end || *position != '.') {
                return false;
            }
            ++position;
        }
        if (position == end || *position < '0' || *position > '9') {
            return false;
        }
        const auto [next, error] = std::from_chars(position, end, parts[i]);
        if (error != std::errc()) {
            return false;
        }
        position = next;
    }
    if (position != end) {
        return false;
    }
    out = PluginApiVersion{parts[0], parts[1], parts[2], "", ""};
    return true;
}

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path,
                                                   const PluginApiVersion& hostVersion,
                                                   std::string& error) {
    std::unique_ptr<PluginLibrary> plugin(new PluginLibrary());
    plugin->path_ = path;
    const std::string shortName = ShortNameFromLibraryPath(path);
    if (shortName.empty()) {
        error = "cannot derive a plugin name from '" + path + "'";
        return nullptr;
    }
    plugin->symbol_ = ExportSymbolForShortName(shortName);

    std::string reason;
    plugin->handle_ = Library::Open(path, reason);
    if (plugin->handle_ == nullptr) {
        error = "cannot load '" + path + "': " + reason;
        return nullptr;
    }
    void* symbol = Library::Find(plugin->handle_, plugin->symbol_.c_str());
    if (symbol == nullptr) {
        error = "'" + path + "' has no export " + plugin->symbol_;
        return nullptr;
    }
    PluginLoadFn load = nullptr;
    static_assert(sizeof load == sizeof symbol);
    std::memcpy(&load, &symbol, sizeof load);

    plugin->record_.apiMajor = hostVersion.major;
    plugin->record_.apiMinor = hostVersion.minor;
    plugin->record_.apiPatch = hostVersion.patch;
    void* module = load(&plugin->record_);
    const PluginLoadRecord& record = plugin->record_;
    if (module == nullptr || record.module != module || record.callbacks == nullptr) {
        error = plugin->symbol_ + " of '" + path + "' did not load its module";
        // Nothing to shut down: the module was not handed over.
        plugin->shutDown_ = true;
        return nullptr;
    }
    plugin->callbacks_ = *record.callbacks;
    plugin->shortName_ = record.shortName != nullptr ? record.shortName : "";
    plugin->pluginVersion_ =
        PluginApiVersion{record.apiMajor, record.apiMinor, record.apiPatch, "", ""};
    return plugin;
}

PluginLibrary::~PluginLibrary() {
    Shutdown();
    Library::Close(handle_);
}

bool PluginLibrary::Initialize(HostConnection* connection) {
    if (initialized_ || shutDown_ || callbacks_.Initialize == nullptr) {
        return false;
    }
    initialized_ = true;
    return callbacks_.Initialize(record_.module, connection) != 0;
}

bool PluginLibrary::ReadMemoryStats(PluginMemoryStats& out) const {
    out = PluginMemoryStats{};
    if (shutDown_ || callbacks_.GetMemoryStats == nullptr) {
        return false;
    }
    callbacks_.GetMemoryStats(record_.module, &out);
    return true;
}

void PluginLibrary::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (callbacks_.Shutdown != nullptr) {
        callbacks_.Shutdown(record_.module);
    }
}

}  // namespace Tavo::Host
