// ulm-host validate: a conformance and robustness checker for any plugin
// library. Each check (ValidateChecks.h) runs in a process of its own with
// a time limit, so a plugin that crashes or hangs fails that check only.
//
//   ulm-host validate [--plugin PATH] [--json] [--only PATTERN]... [--skip PATTERN]...
//                     [--seed N] [--iterations N] [--timeout S]
//                     [--max-call-ms MS] [--max-peak-bytes N] [--verbose]
//
// Patterns are check names, group names ("call-order") or globs with "*"
// and "?"; several may be given, separated by commas or repeated.
//
// Output: one line per check (PASS, FAIL or SKIP, the reason, and for a
// failure the options that replay it), then a summary; --json writes the
// same as one JSON document. Exit 0 when no check failed, 1 when one did,
// 2 for a wrong command line or a selection that matches no check.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "HostCommand.h"
#include "ValidateChecks.h"
#include "ValidateProcess.h"
#include "binding/BindingProperty.h"
#include "formats/JsonWriter.h"

namespace Tavo::Host {

namespace {

std::vector<std::string> SplitPatterns(const std::vector<std::string>& options) {
    std::vector<std::string> patterns;
    for (const std::string& option : options) {
        std::size_t start = 0;
        while (start <= option.size()) {
            std::size_t comma = option.find(',', start);
            if (comma == std::string::npos) {
                comma = option.size();
            }
            if (comma > start) {
                patterns.push_back(option.substr(start, comma - start));
            }
            start = comma + 1;
        }
    }
    return patterns;
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return "pass";
        case Verdict::Fail:
            return "fail";
        case Verdict::Skip:
            return "skip";
    }
    return "fail";
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return text;
}

// The last `lines` lines of `text`, each indented.
std::string Tail(const std::string& text, std::size_t lines) {
    std::size_t start = text.size();
    for (std::size_t seen = 0; start > 0 && seen <= lines;) {
        --start;
        if (text[start] == '\n') {
            ++seen;
        }
    }
    std::string tail;
    std::size_t position = start == 0 ? 0 : start + 1;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string::npos) {
            end = text.size();
        }
        tail += "        | " + text.substr(position, end - position) + "\n";
        position = end + 1;
    }
    return tail;
}

class ValidateCommand final : public HostCommand {
public:
    void AddTo(CLI::App& subcommand) override {
        // No --api-version: the checks choose the versions they offer.
        subcommand
            .add_option("--plugin", pluginPath_,
                        "Plugin library to check (default: the heartbeat plugin built beside "
                        "ulm-host)")
            ->type_name("PATH");
        subcommand.add_flag("--json", json_, "Write the results as one JSON document");
        subcommand
            .add_option("--only", only_, "Run only the checks matching a name, group or glob")
            ->type_name("PATTERN");
        subcommand
            .add_option("--skip", skip_, "Leave out the checks matching a name, group or glob")
            ->type_name("PATTERN");
        subcommand
            .add_option("--seed", seed_, "Seed of the fuzzed inputs (default: random, printed)")
            ->type_name("N");
        subcommand
            .add_option(
                "--iterations", options_.iterations,
                "Fuzzed inputs per event or function; load cycles are a tenth (default 100)")
            ->type_name("N")
            ->check(CLI::Range(1u, 1000000u));
        subcommand.add_option("--timeout", timeout_, "Seconds each check may take (default 60)")
            ->type_name("S")
            ->check(CLI::Range(0.1, 86400.0));
        subcommand
            .add_option("--max-call-ms", options_.maxCallMilliseconds,
                        "Budget: the longest a call into the plugin may take, in milliseconds")
            ->type_name("MS")
            ->check(CLI::NonNegativeNumber);
        subcommand
            .add_option("--max-peak-bytes", options_.maxPeakBytes,
                        "Budget: the plugin's peak memory in bytes")
            ->type_name("N");
        subcommand.add_flag("--verbose", verbose_,
                            "Print each check's notes, and the output of failed checks");
        subcommand.add_flag("--list", list_, "List the checks and exit");
        // Hidden (empty group): how a ulm-host started by another runs one
        // check in its own process, its report on standard output.
        subcommand.add_option("--run-one", runOne_, "Run one check here; report on stdout")
            ->group("");
    }

    int Run() override {
        options_.pluginPath = pluginPath_.empty() ? DefaultPluginPath() : pluginPath_;
        options_.seed = seed_.has_value() ? *seed_ : std::random_device{}();
        if (!runOne_.empty()) {
            return RunOne();
        }
        const std::vector<std::string> only = SplitPatterns(only_);
        const std::vector<std::string> skip = SplitPatterns(skip_);
        std::vector<const CheckDefinition*> selected;
        for (const CheckDefinition& check : ValidationChecks()) {
            bool chosen = only.empty();
            for (const std::string& pattern : only) {
                chosen = chosen || CheckSelected(pattern, check.name);
            }
            for (const std::string& pattern : skip) {
                chosen = chosen && !CheckSelected(pattern, check.name);
            }
            if (chosen) {
                selected.push_back(&check);
            }
        }
        if (list_) {
            for (const CheckDefinition* check : selected) {
                std::printf("%-36s %s\n", check->name, check->summary);
            }
            return kExitOk;
        }
        if (selected.empty()) {
            std::fputs("ulm-host validate: no check matches the selection\n", stderr);
            return kExitUsage;
        }
        BindingProperty document;
        document.Field("plugin").SetString(options_.pluginPath);
        document.Field("seed").SetUnsigned(options_.seed);
        BindingProperty& results = document.Field("checks");
        results.MakeCollection();
        if (!json_) {
            std::printf("Validating %s (seed %llu)\n", options_.pluginPath.c_str(),
                        static_cast<unsigned long long>(options_.seed));
            std::fflush(stdout);
        }
        std::size_t counts[3] = {0, 0, 0};
        for (const CheckDefinition* check : selected) {
            const CheckOptions options = options_;
            const auto body = [check, &options](ChildChannel& channel) {
                CheckReport report(channel);
                return check->run(options, report);
            };
            const IsolatedOutcome outcome =
                RunIsolated(body, timeout_, check->sharedBytes, SelfArguments(check->name));
            std::optional<CheckResult> judged;
            if (check->judge != nullptr) {
                judged = check->judge(outcome);
            }
            const CheckResult result = judged ? *judged : ReadOutcome(outcome, timeout_);
            ++counts[static_cast<int>(result.verdict)];
            BindingProperty& entry = results.Append();
            entry.Field("name").SetString(check->name);
            entry.Field("verdict").SetString(VerdictName(result.verdict));
            entry.Field("reason").SetString(result.reason);
            entry.Field("seconds").SetFloat(result.seconds);
            BindingProperty& notes = entry.Field("notes");
            notes.MakeCollection();
            for (const std::string& note : result.notes) {
                notes.Append().SetString(note);
            }
            if (result.verdict == Verdict::Fail) {
                entry.Field("replay").SetString(Replay(check->name));
                entry.Field("output").SetString(result.output);
            }
            if (!json_) {
                Print(*check, result);
            }
        }
        BindingProperty& summary = document.Field("summary");
        summary.Field("passed").SetUnsigned(counts[static_cast<int>(Verdict::Pass)]);
        summary.Field("failed").SetUnsigned(counts[static_cast<int>(Verdict::Fail)]);
        summary.Field("skipped").SetUnsigned(counts[static_cast<int>(Verdict::Skip)]);
        const bool failed = counts[static_cast<int>(Verdict::Fail)] != 0;
        std::string text;
        if (json_) {
            text = WriteJson(document, nullptr, "\n") + "\n";
        } else {
            text = std::to_string(selected.size()) +
                   " checks: " + std::to_string(counts[static_cast<int>(Verdict::Pass)]) +
                   " passed, " + std::to_string(counts[static_cast<int>(Verdict::Fail)]) +
                   " failed, " + std::to_string(counts[static_cast<int>(Verdict::Skip)]) +
                   " skipped (seed " + std::to_string(options_.seed) + ")\n";
        }
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            std::fputs("ulm-host validate: cannot write standard output\n", stderr);
            return kExitFailure;
        }
        return failed ? kExitFailure : kExitOk;
    }

private:
    // The report of --run-one: each line straight to standard output.
    class StdoutChannel final : public ChildChannel {
    public:
        void Write(std::string_view text) override {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        }
        std::span<std::uint8_t> Shared() override { return {}; }
    };

    int RunOne() {
        for (const CheckDefinition& check : ValidationChecks()) {
            if (runOne_ == check.name) {
                StdoutChannel channel;
                CheckReport report(channel);
                return check.run(options_, report);
            }
        }
        std::fprintf(stderr, "ulm-host validate: no check is named '%s'\n", runOne_.c_str());
        return kExitUsage;
    }

    // What makes a fresh ulm-host run the check `name` with these options.
    std::vector<std::string> SelfArguments(const char* name) const {
        char budget[64];
        std::snprintf(budget, sizeof budget, "%.17g", options_.maxCallMilliseconds);
        return {"validate",
                "--run-one",
                name,
                "--plugin",
                options_.pluginPath,
                "--seed",
                std::to_string(options_.seed),
                "--iterations",
                std::to_string(options_.iterations),
                "--max-call-ms",
                budget,
                "--max-peak-bytes",
                std::to_string(options_.maxPeakBytes)};
    }

    std::string Replay(const char* name) const {
        return "--seed " + std::to_string(options_.seed) + " --only " + name;
    }

    void Print(const CheckDefinition& check, const CheckResult& result) const {
        std::string line = Upper(VerdictName(result.verdict));
        line += "  ";
        line += check.name;
        if (!result.reason.empty()) {
            line += ": " + result.reason;
        }
        if (result.verdict == Verdict::Fail) {
            line += "  [replay: " + Replay(check.name) + "]";
        }
        line += "\n";
        if (verbose_) {
            for (const std::string& note : result.notes) {
                line += "      " + note + "\n";
            }
            if (result.verdict == Verdict::Fail && !result.output.empty()) {
                line += "      output:\n" + Tail(result.output, 20);
            }
        }
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    std::string pluginPath_;
    CheckOptions options_;
    std::vector<std::string> only_;
    std::vector<std::string> skip_;
    std::optional<std::uint64_t> seed_;
    std::string runOne_;
    double timeout_ = 60;
    bool json_ = false;
    bool verbose_ = false;
    bool list_ = false;
};

}  // namespace

RegisteredCommand AddValidateCommand(CLI::App& app) {
    return AddCommand(app, std::make_unique<ValidateCommand>(), "validate",
                      "Check a plugin library's conformance and robustness, each check in a "
                      "process of its own");
}

}  // namespace Tavo::Host
