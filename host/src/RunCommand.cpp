// ulm-host run: plays a scenario against a plugin in virtual time and prints
// the timeline of what crossed the boundary, a summary and the results of
// the scenario's expectations.
//
//   ulm-host run [--plugin PATH] [--scenario FILE] [--json] [--quiet]
//                [--api-version X.Y.Z] [--print-scenario]
//
// Without --plugin it loads the heartbeat plugin built beside ulm-host;
// without --scenario it plays the built-in scenario. Exit 0 when every check
// held, 1 when one failed or the plugin or scenario could not be read, 2 for
// a wrong command line.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "BuiltinScenario.h"
#include "HostCommand.h"
#include "PluginLoader.h"
#include "Scenario.h"
#include "ScenarioRunner.h"

namespace Tavo::Host {

namespace {

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return !in.bad();
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class RunCommand final : public HostCommand {
public:
    void AddTo(CLI::App& subcommand) override {
        pluginOptions_.AddTo(subcommand,
                             "Plugin API version the host offers (default 18.0.0); a plugin that "
                             "refuses it ends the process");
        subcommand
            .add_option("--scenario", scenarioPath_,
                        "Scenario to play, YAML or (.json) JSON (default: the built-in one)")
            ->type_name("FILE");
        subcommand.add_flag("--json", json_, "Write the timeline and summary as JSON lines");
        subcommand.add_flag("--quiet", quiet_, "Write only the summary and the results");
        subcommand.add_flag("--print-scenario", printScenario_,
                            "Print the built-in scenario, whose comments describe the format, "
                            "and exit");
    }

    int Run() override {
        if (printScenario_) {
            const std::string_view text = BuiltinScenarioText();
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
        }

        Scenario scenario;
        std::string error;
        if (scenarioPath_.empty()) {
            if (!ParseScenario(BuiltinScenarioText(), false, scenario, error)) {
                std::fprintf(stderr, "ulm-host run: the built-in scenario: %s\n", error.c_str());
                return kExitFailure;
            }
        } else {
            std::string text;
            if (!ReadFile(scenarioPath_, text)) {
                std::fprintf(stderr, "ulm-host run: cannot read '%s'\n", scenarioPath_.c_str());
                return kExitFailure;
            }
            if (!ParseScenario(text, EndsWith(scenarioPath_, ".json"), scenario, error)) {
                std::fprintf(stderr, "ulm-host run: %s: %s\n", scenarioPath_.c_str(),
                             error.c_str());
                return kExitFailure;
            }
            if (scenario.name.empty()) {
                scenario.name = scenarioPath_;
            }
        }

        RunOptions options;
        options.pluginPath = pluginOptions_.Path();
        options.hostVersion = pluginOptions_.HostVersion();
        options.format = json_ ? TimelineFormat::JsonLines : TimelineFormat::Text;
        options.quiet = quiet_;
        RunResult result;
        return RunScenario(scenario, options, result) == 0 ? kExitOk : kExitFailure;
    }

private:
    PluginOptions pluginOptions_;
    std::string scenarioPath_;
    bool json_ = false;
    bool quiet_ = false;
    bool printScenario_ = false;
};

}  // namespace

RegisteredCommand AddRunCommand(CLI::App& app) {
    return AddCommand(app, std::make_unique<RunCommand>(), "run",
                      "Play a scenario against a plugin in virtual time and print what it did");
}

}  // namespace Tavo::Host
