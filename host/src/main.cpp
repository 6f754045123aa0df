// ulm-host: the development host. Parses the command line, then runs the one
// chosen subcommand. Exit status 0 on success, 1 when the command failed,
// 2 for a wrong command line.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "HostCommand.h"
#include "platform/Platform.h"

namespace {

int Main(int argc, char** argv) {
    using namespace Tavo::Host;
    // Documents and replies are bytes: no newline translation on any system.
    Tavo::Platform::UseBinaryStandardStreams();
    CLI::App app(
        "Development host for backend plugins: runs a plugin through scenarios in "
        "virtual time, describes what it exports, calls its exported functions and "
        "converts documents between the "
        "formats plugins read and write.",
        "ulm-host");
    app.require_subcommand(1);
    // Request targets start with "/": never read them as "/option" (CLI11's
    // default on Windows). Subcommands made below inherit this.
    app.allow_windows_style_options(false);

    std::vector<RegisteredCommand> commands;
    for (const HostCommandFactory factory : kHostCommands) {
        commands.push_back(factory(app));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help and --version are "errors" with status 0; everything else is
        // a usage error.
        return app.exit(error) == 0 ? kExitOk : kExitUsage;
    }
    for (RegisteredCommand& registered : commands) {
        if (registered.subcommand->parsed()) {
            return registered.command->Run();
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("ulm-host: out of memory\n", stderr);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ulm-host: %s\n", error.what());
    }
    return Tavo::Host::kExitFailure;
}
