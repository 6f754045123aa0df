#pragma once
// The checks of `ulm-host validate`. Each check is a function that runs in a
// child process of its own (ValidateProcess.h), drives the plugin through a
// ValidationHost and reports through a CheckReport; ValidateCommand.cpp
// selects, runs and prints them.
//
// Names are "group.check" ("load.exports", "call-order.late-callbacks"), so
// that a pattern or a group name selects several.
//
// Threading: a check's body runs on the child's main thread (the threads
// check starts its own).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ValidateProcess.h"
#include "abi/HostAbi.h"

namespace Tavo::Host {

struct CheckOptions {
    std::string pluginPath;
    std::uint64_t seed = 0;
    std::uint32_t iterations = 100;  // fuzzed inputs per target, load cycles / 10
    double maxCallMilliseconds = 0;  // budget per call into the plugin; 0: none
    std::uint64_t maxPeakBytes = 0;  // budget of the plugin's peak memory; 0: none
};

enum class Verdict { Pass, Fail, Skip };

// What a check says, written to the parent as it goes: progress lines tell
// where a crash happened, notes carry figures, the verdict comes last.
class CheckReport {
public:
    explicit CheckReport(ChildChannel& channel) : channel_(channel) {}

    void Progress(std::string_view text);
    void Note(std::string_view text);
    // The exit status of the check's child.
    int Pass(std::string_view reason = {});
    int Fail(std::string_view reason);
    int Skip(std::string_view reason);
    ChildChannel& Channel() { return channel_; }

private:
    int Verdict(std::string_view verdict, std::string_view reason);
    void Line(std::string_view tag, std::string_view text);
    ChildChannel& channel_;
};

// A check's outcome as the parent reads it back.
struct CheckResult {
    Verdict verdict = Verdict::Fail;
    std::string reason;
    std::vector<std::string> notes;
    std::string lastProgress;  // where a crash or hang happened
    double seconds = 0;
    std::string output;  // the child's standard streams, for --verbose
};

struct CheckDefinition {
    const char* name;
    const char* summary;
    int (*run)(const CheckOptions& options, CheckReport& report);
    // For a check whose child is meant to die: judges the outcome itself
    // (null: a death fails the check).
    std::optional<CheckResult> (*judge)(const IsolatedOutcome& outcome) = nullptr;
    std::size_t sharedBytes = 0;
};

// Every check, in the order they run.
const std::vector<CheckDefinition>& ValidationChecks();

// What is wrong with an export block: lists that do not end or disagree
// with their counts, missing or repeated names, field offsets outside their
// type, references to types that do not exist, unsorted enum values, null
// tags, functions without a dispatch callback or path. Empty when nothing
// is; at most the first 20 problems.
std::vector<std::string> ExportBlockProblems(const PluginApiExport& block);

// Whether `pattern` ("*" any run, "?" any one character) matches all of
// `text`.
bool GlobMatches(std::string_view pattern, std::string_view text);
// What is wrong with an export block: lists that do not end or disagree
// with their counts, missing or repeated names, field offsets outside their
// type, references to types that do not exist, unsorted enum values, null
// tags, functions without a dispatch callback or path. Empty when nothing
// is; at most the first 20 problems.
std::vector<std::string> ExportBlockProblems(const PluginApiExport& block);

// Whether `pattern` selects the check `name`: a glob matching the name, or
// the name of its group ("load" selects "load.exports").
bool CheckSelected(std::string_view pattern, std::string_view name);

// Reads a child's report and how it ended into a result.
CheckResult ReadOutcome(const IsolatedOutcome& outcome, double timeoutSeconds);

}  // namespace Tavo::Host
