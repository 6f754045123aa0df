#include "HostCommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "LibraryLoader.h"
#include "PluginLoader.h"
#include "platform/Platform.h"

namespace Tavo::Host {

RegisteredCommand AddCommand(CLI::App& app, std::unique_ptr<HostCommand> command,
                             const std::string& name, const std::string& description) {
    CLI::App* subcommand = app.add_subcommand(name, description);
    command->AddTo(*subcommand);
    return {subcommand, std::move(command)};
}

std::string DefaultPluginPath() {
    const std::string besideHost =
        std::string("/../Plugins/ulm-be-vex-heartbeat/ulm-be-vex-heartbeat") + Library::kSuffix;
    char executable[4096];
    const std::size_t length = Platform::ExecutablePath(executable, sizeof executable);
    if (length != 0 && length < sizeof executable - 1) {
        std::string path(executable, length);
        const std::size_t slash = path.find_last_of(Platform::kPathSeparators);
        if (slash != std::string::npos) {
            path.resize(slash);
            path += besideHost;
            path = std::filesystem::path(path).lexically_normal().string();
            if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
                std::fclose(file);
                return path;
            }
        }
    }
#ifdef TAVO_DEFAULT_PLUGIN
    return TAVO_DEFAULT_PLUGIN;
#else
    return std::string("ulm-be-vex-heartbeat") + Library::kSuffix;
#endif
}

void PluginOptions::AddTo(CLI::App& subcommand, const char* versionHelp) {
    subcommand
        .add_option("--plugin", path_,
                    "Plugin library to load (default: the heartbeat plugin built beside ulm-host)")
        ->type_name("PATH");
    subcommand.add_option("--api-version", apiVersion_, versionHelp)
        ->type_name("X.Y.Z")
        ->check(CLI::Validator(
            [](std::string& text) {
                PluginApiVersion version;
                return ParseApiVersion(text, version) ? std::string()
                                                      : "'" + text + "' is not a version X.Y.Z";
            },
            "", "version"));
}

std::string PluginOptions::Path() const {
    return path_.empty() ? DefaultPluginPath() : path_;
}

PluginApiVersion PluginOptions::HostVersion() const {
    PluginApiVersion version = kPluginApiVersion;
    if (!apiVersion_.empty()) {
        ParseApiVersion(apiVersion_, version);  // checked when parsed
    }
    return version;
}

}  // namespace Tavo::Host
