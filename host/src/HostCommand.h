#pragma once
// The subcommands of ulm-host. Each lives in a file of its own: it adds its
// CLI11 subcommand (options and help) to the application and returns the
// object that holds the parsed options and runs the command.

#include <memory>
#include <string>

#include "abi/HostAbi.h"

namespace CLI {
class App;
}

namespace Tavo::Host {

// Process exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran and failed
inline constexpr int kExitUsage = 2;    // the command line was wrong

class HostCommand {
public:
    virtual ~HostCommand() = default;
    // Declares the command's options and help on its subcommand.
    virtual void AddTo(CLI::App& subcommand) = 0;
    // Runs the command once its subcommand was chosen and its options parsed.
    // Returns the process exit status. Writes only to the standard streams.
    virtual int Run() = 0;
};

// A subcommand added to the application: CLI11's subcommand (owned by the
// application) and the command behind it. The command must outlive the
// parse, since CLI11 stores option values into it.
struct RegisteredCommand {
    CLI::App* subcommand = nullptr;
    std::unique_ptr<HostCommand> command;
};

// Adds `command` to the application as the subcommand `name`.
RegisteredCommand AddCommand(CLI::App& app, std::unique_ptr<HostCommand> command,
                             const std::string& name, const std::string& description);

using HostCommandFactory = RegisteredCommand (*)(CLI::App& app);

RegisteredCommand AddRunCommand(CLI::App& app);
RegisteredCommand AddDescribeCommand(CLI::App& app);
RegisteredCommand AddConvertCommand(CLI::App& app);
RegisteredCommand AddCallCommand(CLI::App& app);
RegisteredCommand AddValidateCommand(CLI::App& app);

// In the order `ulm-host --help` lists them.
inline constexpr HostCommandFactory kHostCommands[] = {
    &AddRunCommand, &AddDescribeCommand, &AddConvertCommand, &AddCallCommand, &AddValidateCommand,
};

// The heartbeat plugin built beside this ulm-host: the library at
// ../Plugins/ulm-be-vex-heartbeat/ulm-be-vex-heartbeat.so from the
// executable's directory, else the path the build baked in.
std::string DefaultPluginPath();

// The options of every subcommand that loads a plugin: --plugin PATH and
// --api-version X.Y.Z (checked while the command line is parsed).
class PluginOptions {
public:
    // `versionHelp` is the help text of --api-version.
    void AddTo(CLI::App& subcommand, const char* versionHelp);
    // The library to load: --plugin, else DefaultPluginPath().
    std::string Path() const;
    // The version offered to the plugin: --api-version, else kPluginApiVersion.
    PluginApiVersion HostVersion() const;

private:
    std::string path_;
    std::string apiVersion_;
};

}  // namespace Tavo::Host
