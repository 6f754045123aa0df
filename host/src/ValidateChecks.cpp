#include "ValidateChecks.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "PluginLoader.h"
#include "ResourceStore.h"
#include "ValidateFuzz.h"
#include "ValidateHost.h"
#include "binding/ApiVersionText.h"
#include "binding/BindingProperty.h"
#include "binding/HostValueConvert.h"

namespace Tavo::Host {

namespace {

// Chains longer than this are taken for a cycle: no registry holds so many.
constexpr std::uint32_t kMaxEntries = 1u << 20;
// The resource a heartbeat-like plugin follows; other plugins ignore it.
constexpr const char* kSessionPath = "/vex-login/v1/session";
// Virtual time one exercise runs, and the most callbacks it runs in it.
constexpr double kExerciseSeconds = 300;
constexpr std::size_t kExerciseCallbacks = 1000;
// How many problems a check lists before it only counts them.
constexpr std::size_t kMaxListed = 20;

// ---- Report lines ------------------------------------------------------------

std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\n' || c == '\t' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

// Problems a check collects before it decides.
class Problems {
public:
    void Add(std::string problem) {
        ++count_;
        if (listed_.size() < kMaxListed) {
            listed_.push_back(std::move(problem));
        }
    }
    bool Empty() const { return count_ == 0; }
    const std::vector<std::string>& Listed() const { return listed_; }
    // The first problem, and how many more there are; every listed one as
    // a note.
    int Fail(CheckReport& report) const {
        for (const std::string& problem : listed_) {
            report.Note(problem);
        }
        std::string reason = listed_.front();
        if (count_ > 1) {
            reason += " (and " + std::to_string(count_ - 1) + " more)";
        }
        return report.Fail(reason);
    }

private:
    std::vector<std::string> listed_;
    std::size_t count_ = 0;
};

// ---- Driving a plugin --------------------------------------------------------

std::string ExpectedSymbol(const std::string& path) {
    return ExportSymbolForShortName(ShortNameFromLibraryPath(path));
}

BindingProperty Session(std::uint64_t accountId) {
    BindingProperty session;
    session.Field("state").SetString("SUCCEEDED");
    session.Field("summonerId").SetUnsigned(std::uint64_t{7});
    session.Field("accountId").SetUnsigned(accountId);
    return session;
}

std::unique_ptr<PluginLibrary> Load(const CheckOptions& options, std::string& error) {
    return PluginLibrary::Load(options.pluginPath, kPluginApiVersion, error);
}

// Resource changes and timer ticks, as a plugin meets them while running.
void Exercise(ValidationHost& host, std::uint64_t accountId) {
    host.SetResource(kSessionPath, Session(accountId));
    host.Advance(kExerciseSeconds / 2, kExerciseCallbacks);
    host.SetResource(kSessionPath, Session(accountId + 1));
    host.Advance(kExerciseSeconds / 2, kExerciseCallbacks);
}

std::uint64_t InUse(const PluginMemoryStats& stats) {
    return stats.bytesAllocated - stats.bytesFreed;
}

// Loads, connects to `host` and starts the plugin. Null, with the check
// failed through `status`, when any step fails.
std::unique_ptr<PluginLibrary> Start(const CheckOptions& options, ValidationHost& host,
                                     CheckReport& report, int& status) {
    std::string error;
    std::unique_ptr<PluginLibrary> plugin = Load(options, error);
    if (!plugin) {
        status = report.Fail(error);
        return nullptr;
    }
    host.SetResource(kSessionPath, Session(9));
    report.Progress("Initialize");
    bool started = false;
    host.Timed([&] { started = plugin->Initialize(host.Connection()); });
    if (!started) {
        report.Note("Initialize returned false");
    }
    return plugin;
}

void Stop(PluginLibrary& plugin, ValidationHost& host, CheckReport& report) {
    report.Progress("Shutdown");
    host.Timed([&] { plugin.Shutdown(); });
    host.Close();
}

// Host calls after Shutdown, as problems.
void AddViolations(const ValidationHost& host, Problems& problems) {
    for (const std::string& violation : host.Violations()) {
        problems.Add("called " + violation);
    }
}

// The end of a check: the host's violations join its problems; none at all
// passes it with `passed`.
int Finish(const ValidationHost& host, Problems& problems, CheckReport& report,
           const std::string& passed) {
    AddViolations(host, problems);
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    return report.Pass(passed);
}

// A well-formed payload for `subscription`: the stored resource whose event
// it is, else an empty one.
HostValue FormedPayload(const std::string& eventName, HostValue& owned) {
    BindingProperty payload;
    const bool session = EventNameForPath(kSessionPath) == eventName;
    payload.Field("uri").SetString(session ? kSessionPath : "/");
    payload.Field("eventType").SetString("Update");
    if (session) {
        payload.Field("data") = Session(11);
    } else {
        payload.Field("data");
    }
    owned = HostValue{};
    if (!HostValueFromProperty(owned, payload, nullptr)) {
        owned = HostValue{};
    }
    return owned;
}

// ---- load --------------------------------------------------------------------

int CheckExports(const CheckOptions& options, CheckReport& report) {
    std::vector<std::string> exports;
    std::string error;
    if (!ListExportedSymbols(options.pluginPath, exports, error)) {
        return error.find("not supported") != std::string::npos ? report.Skip(error)
                                                                : report.Fail(error);
    }
    const std::string expected = ExpectedSymbol(options.pluginPath);
    const bool found = std::find(exports.begin(), exports.end(), expected) != exports.end();
    std::string others;
    for (const std::string& name : exports) {
        if (name != expected) {
            others += (others.empty() ? "" : ", ") + name;
        }
    }
    if (!found) {
        return report.Fail("the export " + expected + " is missing" +
                           (others.empty() ? "" : " (exports: " + others + ")"));
    }
    if (!others.empty()) {
        return report.Fail("exports more than " + expected + ": " + others);
    }
    return report.Pass("exports only " + expected);
}

// Sentinels the load record holds before the export runs: an output field
// still holding one was not written.
const auto kUnwritten = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x5a5a5a5au));

int CheckRecord(const CheckOptions& options, CheckReport& report) {
    std::string error;
    const std::string symbol = ExpectedSymbol(options.pluginPath);
    void* address = FindLibrarySymbol(options.pluginPath, symbol, error);
    if (address == nullptr) {
        return report.Fail(error);
    }
    PluginLoadFn load = nullptr;
    std::memcpy(&load, &address, sizeof load);
    // A host newer in minor and patch than the framework: compatible.
    const PluginApiVersion offered{kPluginApiVersion.major, kPluginApiVersion.minor + 3, 7, "", ""};
    PluginLoadRecord record{offered.major,
                            offered.minor,
                            offered.patch,
                            static_cast<const PluginCallbacks*>(kUnwritten),
                            kUnwritten,
                            static_cast<const char*>(kUnwritten),
                            static_cast<const PluginApiExport*>(kUnwritten)};
    report.Progress("calling " + symbol + " with host API " + ToText(offered));
    void* module = load(&record);
    Problems problems;
    const PluginApiVersion written{record.apiMajor, record.apiMinor, record.apiPatch, "", ""};
    if (module == nullptr) {
        problems.Add(symbol + " returned no module handle");
    } else if (record.module != module) {
        problems.Add("the record's module handle " + Hex(record.module) +
                     " is not the one returned, " + Hex(module));
    }
    if (!IsHostApiCompatible(offered, written) || written.major != offered.major) {
        problems.Add("the record's API version " + ToText(written) + " does not fit host API " +
                     ToText(offered));
    }
    const bool callbacksWritten = record.callbacks != nullptr && record.callbacks != kUnwritten;
    if (!callbacksWritten) {
        problems.Add("the record holds no callback table");
    } else if (record.callbacks->Initialize == nullptr || record.callbacks->Shutdown == nullptr ||
               record.callbacks->GetMemoryStats == nullptr) {
        problems.Add("the callback table has an empty entry");
    }
    const std::string expectedName = ShortNameFromLibraryPath(options.pluginPath);
    if (record.shortName == nullptr || record.shortName == kUnwritten) {
        problems.Add("the record holds no short name");
    } else if (expectedName != record.shortName) {
        problems.Add("the short name '" + std::string(record.shortName) + "' is not '" +
                     expectedName + "', the name of the file");
    }
    if (record.apiExport == nullptr || record.apiExport == kUnwritten) {
        problems.Add("the record holds no API export block");
    }
    if (callbacksWritten && module != nullptr && record.callbacks->Shutdown != nullptr) {
        report.Progress("Shutdown of the loaded module");
        record.callbacks->Shutdown(module);
    }
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    return report.Pass("plugin API " + ToText(written) + ", short name " + expectedName);
}

// The shared block of the incompatible-version check: the record the export
// gets, then a copy of what it held before the call.
struct IncompatibleShared {
    PluginLoadRecord record;
    PluginLoadRecord before;
    std::uint8_t called;
};

int CheckIncompatible(const CheckOptions& options, CheckReport& report) {
    std::string error;
    std::unique_ptr<PluginLibrary> probe = Load(options, error);
    if (!probe) {
        return report.Fail(error);
    }
    const PluginApiVersion plugin = probe->PluginVersion();
    probe.reset();
    void* address =
        FindLibrarySymbol(options.pluginPath, ExpectedSymbol(options.pluginPath), error);
    if (address == nullptr) {
        return report.Fail(error);
    }
    PluginLoadFn load = nullptr;
    std::memcpy(&load, &address, sizeof load);
    std::span<std::uint8_t> shared = report.Channel().Shared();
    if (shared.size() < sizeof(IncompatibleShared)) {
        return report.Skip("no memory shared with the validator");
    }
    auto* block = reinterpret_cast<IncompatibleShared*>(shared.data());
    const PluginApiVersion offered{plugin.major + 1, 0, 0, "", ""};
    block->record = PluginLoadRecord{offered.major,
                                     offered.minor,
                                     offered.patch,
                                     static_cast<const PluginCallbacks*>(kUnwritten),
                                     kUnwritten,
                                     static_cast<const char*>(kUnwritten),
                                     static_cast<const PluginApiExport*>(kUnwritten)};
    block->before = block->record;
    block->called = 1;
    report.Progress("calling the export with host API " + ToText(offered));
    void* module = load(&block->record);
    return report.Fail("the export returned (module " + Hex(module) + ") to a host with API " +
                       ToText(offered) + "; it must end the process");
}

std::optional<CheckResult> JudgeIncompatible(const IsolatedOutcome& outcome) {
    const bool ended = outcome.end == IsolatedOutcome::End::Signaled ||
                       outcome.end == IsolatedOutcome::End::Exited;
    if (!ended || outcome.report.find("verdict\t") != std::string::npos ||
        outcome.shared.size() < sizeof(IncompatibleShared)) {
        return std::nullopt;  // read as usual
    }
    IncompatibleShared block;
    std::memcpy(&block, outcome.shared.data(), sizeof block);
    if (block.called == 0) {
        return std::nullopt;  // died before the export was called
    }
    CheckResult result;
    result.seconds = outcome.seconds;
    result.output = outcome.output;
    const std::string how = outcome.end == IsolatedOutcome::End::Signaled
                                ? "with " + outcome.signalName
                                : "with exit status " + std::to_string(outcome.exitStatus);
    if (std::memcmp(&block.record, &block.before, sizeof block.record) != 0) {
        result.reason = "ended the process " + how + " but wrote into the load record first";
    } else if (outcome.output.find("ALE-EECF0606") == std::string::npos) {
        result.reason = "ended the process " + how + " without the fatal report ALE-EECF0606";
    } else {
        result.verdict = Verdict::Pass;
        result.reason = "ended the process " + how + " after the fatal report; nothing written";
    }
    return result;
}

// ---- export ------------------------------------------------------------------

// Follows the `next` links of a list from `first`: each entry once, a cycle
// or an overlong chain reported, the count compared.
template <class Entry, class Visit>
void WalkList(const Entry* first, std::uint32_t count, const std::string& what, Problems& problems,
              Visit visit) {
    std::unordered_map<const void*, std::uint32_t> seen;  // entry → its index
    std::uint32_t walked = 0;
    for (const Entry* entry = first; entry != nullptr; entry = entry->next) {
        const auto [earlier, fresh] = seen.emplace(entry, walked);
        if (!fresh) {
            problems.Add(what + ": entry " + std::to_string(walked - 1) + " links back to entry " +
                         std::to_string(earlier->second) + " (a cycle)");
            return;
        }
        if (walked == kMaxEntries) {
            problems.Add(what + ": the links do not end");
            return;
        }
        visit(*entry, walked);
        ++walked;
    }
    if (walked != count) {
        problems.Add(what + ": " + std::to_string(count) + " announced, " + std::to_string(walked) +
                     " linked");
    }
}

void CheckTags(const char* const* tags, std::uint32_t count, const std::string& what,
               Problems& problems) {
    if (count != 0 && tags == nullptr) {
        problems.Add(what + ": " + std::to_string(count) + " tags announced, no array");
        return;
    }
    for (std::uint32_t i = 0; i < count && i < kMaxEntries; ++i) {
        if (tags[i] == nullptr) {
            problems.Add(what + ": tag " + std::to_string(i) + " is null");
        }
    }
}

void FindBlockProblems(const PluginApiExport& exported, Problems& problems) {
    // Types first: fields and events refer to them by name.
    std::set<std::string> typeNames;
    std::vector<const ApiExportTypeEntry*> types;
    WalkList(exported.types, exported.typeCount, "types", problems,
             [&](const ApiExportTypeEntry& type, std::uint32_t index) {
                 types.push_back(&type);
                 const std::string name = Text(type.name);
                 if (name.empty()) {
                     problems.Add("type " + std::to_string(index) + " has no name");
                 } else if (!typeNames.insert(name).second) {
                     problems.Add("type '" + name + "' is registered twice");
                 }
             });
    for (const ApiExportTypeEntry* entry : types) {
        [&](const ApiExportTypeEntry& type) {
            const std::string name = Text(type.name);
            CheckTags(type.tags, type.tagCount, "type '" + name + "'", problems);
            if (type.fields != nullptr && type.enumValues != nullptr) {
                problems.Add("type '" + name + "' has both fields and enum values");
                return;
            }
            if (type.fields == nullptr && type.enumValues == nullptr) {
                if (type.count != 0) {
                    problems.Add("type '" + name + "' announces " + std::to_string(type.count) +
                                 " entries and has none");
                }
                return;
            }
            const std::uint32_t size = type.size;
            std::set<std::string> members;
            if (type.fields != nullptr) {
                WalkList(type.fields, type.count, "fields of '" + name + "'", problems,
                         [&](const ApiExportFieldEntry& field, std::uint32_t index) {
                             const std::string fieldName = Text(field.name);
                             const std::string where = "field '" + name + "." + fieldName + "'";
                             if (fieldName.empty()) {
                                 problems.Add("field " + std::to_string(index) + " of '" + name +
                                              "' has no name");
                             } else if (!members.insert(fieldName).second) {
                                 problems.Add(where + " appears twice");
                             }
                             const std::uint32_t offset = field.offset;
                             if (offset >= size) {
                                 problems.Add(where + " lies at offset " + std::to_string(offset) +
                                              ", outside the type's " + std::to_string(size) +
                                              " bytes");
                             }
                             const std::uint32_t kind = field.kind;
                             const std::uint32_t elementKind = field.elementKind;
                             if (kind > 19 || elementKind > 19) {
                                 problems.Add(where + " has an unknown kind code");
                             }
                             const std::string referenced = Text(field.typeName);
                             if (!referenced.empty() && typeNames.count(referenced) == 0) {
                                 problems.Add(where + " refers to the unknown type '" + referenced +
                                              "'");
                             }
                         });
            } else {
                std::string previous;
                WalkList(
                    type.enumValues, type.count, "values of '" + name + "'", problems,
                    [&](const ApiExportEnumValueEntry& value, std::uint32_t index) {
                        const std::string valueName = Text(value.name);
                        if (valueName.empty()) {
                            problems.Add("value " + std::to_string(index) + " of '" + name +
                                         "' has no name");
                        } else if (!members.insert(valueName).second) {
                            problems.Add("value '" + name + "." + valueName + "' appears twice");
                        }
                        if (index > 0 && valueName < previous) {
                            problems.Add("values of '" + name + "' are not sorted: '" + valueName +
                                         "' after '" + previous + "'");
                        }
                        previous = valueName;
                    });
            }
        }(*entry);
    }

    std::set<std::string> eventNames;
    WalkList(
        exported.events, exported.eventCount, "events", problems,
        [&](const ApiExportEventEntry& event, std::uint32_t index) {
            const std::string name = Text(event.name);
            if (name.empty()) {
                problems.Add("event " + std::to_string(index) + " has no name");
            } else if (!eventNames.insert(name).second) {
                problems.Add("event '" + name + "' is declared twice");
            }
            const std::string payload = Text(event.payloadName);
            if (typeNames.count(payload) == 0) {
                problems.Add("event '" + name + "' carries the unknown type '" + payload + "'");
            }
            CheckTags(event.tags, event.tagCount, "event '" + name + "'", problems);
        });

    std::set<std::string> functionNames;
    const ApiExportFunctionRecord* first =
        exported.functions != nullptr ? &exported.functions->function : nullptr;
    WalkList(first, exported.functionCount, "functions", problems,
             [&](const ApiExportFunctionRecord& record, std::uint32_t index) {
                 const auto& entry = reinterpret_cast<const ApiExportFunctionEntry&>(record);
                 const std::string name = Text(record.name);
                 const std::string qualified = std::string(Text(record.nameSpace)) + "::" + name;
                 if (name.empty()) {
                     problems.Add("function " + std::to_string(index) + " has no name");
                 } else if (!functionNames.insert(qualified).second) {
                     problems.Add("function '" + name + "' is exported twice");
                 }
                 if (entry.dispatch == nullptr) {
                     problems.Add("function '" + name + "' has no dispatch callback");
                 }
                 if (entry.pathTemplate == nullptr) {
                     problems.Add("function '" + name + "' has no path");
                 }
                 CheckTags(record.tags, record.tagCount, "function '" + name + "'", problems);
                 std::set<std::string> arguments;
                 WalkList(record.arguments, record.argumentCount, "arguments of '" + name + "'",
                          problems, [&](const ApiExportArgumentEntry& argument, std::uint32_t) {
                              const std::string argumentName = Text(argument.name);
                              if (argumentName.empty() || !arguments.insert(argumentName).second) {
                                  problems.Add("function '" + name +
                                               "' has an argument without a unique name");
                              }
                          });
                 if (entry.locations != nullptr) {
                     WalkList(entry.locations, record.argumentCount,
                              "argument locations of '" + name + "'", problems,
                              [](const ApiExportArgumentLocationEntry&, std::uint32_t) {});
                 }
             });
}

int CheckIntegrity(const CheckOptions& options, CheckReport& report) {
    std::string error;
    std::unique_ptr<PluginLibrary> plugin = Load(options, error);
    if (!plugin) {
        return report.Fail(error);
    }
    const PluginApiExport* block = plugin->ApiExport();
    if (block == nullptr) {
        return report.Fail("the plugin has no API export block");
    }
    const PluginApiExport exported = *block;
    Problems problems;
    report.Progress("walking the export block");
    FindBlockProblems(exported, problems);
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    return report.Pass(std::to_string(exported.typeCount) + " types, " +
                       std::to_string(exported.eventCount) + " events, " +
                       std::to_string(exported.functionCount) + " functions");
}

// ---- lifecycle ---------------------------------------------------------------

// Growth of the bytes in use below this is the C library's block sizes
// varying with the heap's layout (the counters use the true block size),
// not a leak, as long as no allocation stays live.
constexpr std::uint64_t kByteSlack = 4096;

int CheckCycles(const CheckOptions& options, CheckReport& report) {
    // The first cycle warms process-wide state up (the log manager, cached
    // arena pages); every later load must find as many live allocations and
    // about as many bytes in use as the second one found.
    const std::uint32_t cycles = std::max<std::uint32_t>(3, options.iterations / 10);
    PluginMemoryStats baseline{};
    Problems problems;
    for (std::uint32_t cycle = 0; cycle <= cycles; ++cycle) {
        ValidationHost host;
        std::string error;
        report.Progress("load " + std::to_string(cycle + 1));
        std::unique_ptr<PluginLibrary> plugin = Load(options, error);
        if (!plugin) {
            return report.Fail(error);
        }
        PluginMemoryStats stats{};
        plugin->ReadMemoryStats(stats);
        if (cycle == 1) {
            baseline = stats;
        } else if (cycle > 1) {
            const std::uint64_t live = stats.allocations - stats.frees;
            const std::uint64_t baseLive = baseline.allocations - baseline.frees;
            const std::uint64_t inUse = InUse(stats);
            const std::uint64_t baseInUse = InUse(baseline);
            if (live > baseLive || inUse > baseInUse + kByteSlack) {
                const std::uint32_t done = cycle - 1;
                const std::int64_t bytes =
                    static_cast<std::int64_t>(inUse) - static_cast<std::int64_t>(baseInUse);
                problems.Add(
                    std::to_string(bytes) + " bytes in " +
                    std::to_string(live - std::min(live, baseLive)) + " allocations lost after " +
                    std::to_string(done) +
                    (done == 1 ? " Initialize/Shutdown cycle (" : " Initialize/Shutdown cycles (") +
                    std::to_string(bytes / done) + " bytes per cycle)");
                break;
            }
        }
        if (cycle == cycles) {
            break;  // the last load only measures
        }
        host.SetResource(kSessionPath, Session(9));
        report.Progress("cycle " + std::to_string(cycle + 1) + ": Initialize");
        plugin->Initialize(host.Connection());
        Exercise(host, 9 + cycle);
        report.Progress("cycle " + std::to_string(cycle + 1) + ": Shutdown");
        plugin->Shutdown();
        host.Close();
        AddViolations(host, problems);
    }
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    return report.Pass(std::to_string(cycles) + " cycles, " +
                       std::to_string(baseline.allocations - baseline.frees) +
                       " live allocations after each load");
}

int CheckSubscriptions(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    Exercise(host, 9);
    const std::size_t subscribed = host.Subscriptions().size();
    Stop(*plugin, host, report);
    Problems problems;
    for (const ValidationSubscription& left : host.Subscriptions()) {
        problems.Add("still subscribed to " + left.eventName + " after Shutdown");
    }
    AddViolations(host, problems);
    report.Note(std::to_string(host.Pending()) +
                " scheduled callbacks pending at Shutdown (call-order.late-callbacks runs them)");
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    return report.Pass(std::to_string(subscribed) + " subscriptions, all withdrawn");
}

// ---- call order --------------------------------------------------------------

int CheckStatsBeforeInitialize(const CheckOptions& options, CheckReport& report) {
    std::string error;
    std::unique_ptr<PluginLibrary> plugin = Load(options, error);
    if (!plugin) {
        return report.Fail(error);
    }
    report.Progress("GetMemoryStats before Initialize");
    // Poisoned, so that a field left unwritten shows.
    PluginMemoryStats stats;
    std::memset(&stats, 0xa5, sizeof stats);
    PluginLibrary& loaded = *plugin;
    loaded.ReadMemoryStats(stats);
    Problems problems;
    if (stats.reserved0 != 0 || stats.reserved1 != 0) {
        problems.Add("the two last words of the memory statistics are not 0");
    }
    if (stats.bytesFreed > stats.bytesAllocated || stats.frees > stats.allocations) {
        problems.Add("more freed than allocated: " + std::to_string(stats.bytesFreed) + " of " +
                     std::to_string(stats.bytesAllocated) + " bytes");
    } else if (stats.peakBytes < InUse(stats)) {
        problems.Add("the peak " + std::to_string(stats.peakBytes) + " is below the bytes in use " +
                     std::to_string(InUse(stats)));
    }
    ValidationHost host;
    host.SetResource(kSessionPath, Session(9));
    report.Progress("Initialize");
    plugin->Initialize(host.Connection());
    Exercise(host, 9);
    Stop(*plugin, host, report);
    return Finish(host, problems, report,
                  std::to_string(InUse(stats)) + " bytes in use when loaded");
}

int CheckNullConnection(const CheckOptions& options, CheckReport& report) {
    // No connection at all, then a connection without a table.
    HostConnection empty{nullptr, 1};
    for (HostConnection* connection : {static_cast<HostConnection*>(nullptr), &empty}) {
        std::string error;
        std::unique_ptr<PluginLibrary> plugin = Load(options, error);
        if (!plugin) {
            return report.Fail(error);
        }
        const std::string what = connection == nullptr ? "a null connection" : "a null table";
        report.Progress("Initialize with " + what);
        const bool started = plugin->Initialize(connection);
        report.Note("Initialize with " + what + " returned " + (started ? "true" : "false"));
        report.Progress("Shutdown after Initialize with " + what);
        plugin->Shutdown();
    }
    return report.Pass("survives Initialize without a host");
}

int CheckEarlyEvents(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    static std::size_t delivered = 0;
    delivered = 0;
    // Inside hostSubscribe, before Initialize has returned: the host may
    // deliver an event as soon as the subscription exists.
    host.onSubscribe = [](ValidationHost& self, const ValidationSubscription& subscription) {
        HostValue owned{};
        self.Deliver(subscription, FormedPayload(subscription.eventName, owned));
        ResetHostValue(owned);
        ++delivered;
    };
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    host.onSubscribe = nullptr;
    Exercise(host, 9);
    Stop(*plugin, host, report);
    Problems problems;
    AddViolations(host, problems);
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    if (delivered == 0) {
        return report.Skip("the plugin subscribed to no event");
    }
    return report.Pass(std::to_string(delivered) + " events delivered while it subscribed");
}

int CheckLateCallbacks(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    Exercise(host, 9);
    Stop(*plugin, host, report);
    // Everything the host still holds arrives after all.
    const std::vector<ValidationCallback> late = host.TakeAll();
    for (const ValidationCallback& pending : late) {
        report.Progress("late callback '" + OneLine(pending.description) + "' after Shutdown");
        host.Run(pending);
    }
    const std::vector<ValidationSubscription> subscribed = host.EverSubscribed();
    for (const ValidationSubscription& subscription : subscribed) {
        report.Progress("late event " + subscription.eventName + " after Shutdown");
        HostValue owned{};
        host.Deliver(subscription, FormedPayload(subscription.eventName, owned));
        ResetHostValue(owned);
    }
    Problems problems;
    return Finish(host, problems, report,
                  std::to_string(late.size()) + " late callbacks and " +
                      std::to_string(subscribed.size()) + " late events were harmless");
}

int CheckShutdownTwice(const CheckOptions& options, CheckReport& report) {
    std::string error;
    void* address =
        FindLibrarySymbol(options.pluginPath, ExpectedSymbol(options.pluginPath), error);
    if (address == nullptr) {
        return report.Fail(error);
    }
    PluginLoadFn load = nullptr;
    std::memcpy(&load, &address, sizeof load);
    PluginLoadRecord record{kPluginApiVersion.major,
                            kPluginApiVersion.minor,
                            kPluginApiVersion.patch,
                            nullptr,
                            nullptr,
                            nullptr,
                            nullptr};
    void* module = load(&record);
    if (module == nullptr || record.callbacks == nullptr) {
        return report.Fail("the export did not load its module");
    }
    // The table lives in the module: keep a copy for the second call.
    const PluginCallbacks callbacks = *record.callbacks;
    ValidationHost host;
    host.SetResource(kSessionPath, Session(9));
    report.Progress("Initialize");
    callbacks.Initialize(module, host.Connection());
    Exercise(host, 9);
    report.Progress("Shutdown");
    callbacks.Shutdown(module);
    host.Close();
    report.Progress("Shutdown again with the same handle");
    callbacks.Shutdown(module);
    Problems problems;
    return Finish(host, problems, report, "a second Shutdown is harmless");
}

// ---- host faults -------------------------------------------------------------

int RunWithFault(const CheckOptions& options, CheckReport& report, RequestFault fault,
                 bool yieldFails, const char* what) {
    ValidationHost host;
    host.requestFault = fault;
    host.yieldFails = yieldFails;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    // Why: what the plugin asks while it starts (the first read of each
    // resource it listens to) is not counted. The framework drops a failed
    // first read without a word, and a plugin that asks nothing more
    // afterwards has not stopped working; only its ongoing work can show
    // whether it carries on.
    const std::size_t startRequests = host.Requests();
    const std::size_t startYields = host.Yields();
    report.Progress("running against the faulty host");
    Exercise(host, 9);
    Exercise(host, 10);
    const std::size_t requests = host.Requests() - startRequests;
    const std::size_t yields = host.Yields() - startYields;
    const std::size_t logs = host.Logs().size();
    // The host recovers; the plugin must still be at work.
    report.Progress("running against the recovered host");
    host.requestFault = RequestFault::None;
    host.yieldFails = false;
    Exercise(host, 11);
    Exercise(host, 12);
    const std::size_t laterRequests = host.Requests() - startRequests - requests;
    Stop(*plugin, host, report);
    Problems problems;
    const std::size_t faults = yieldFails ? yields : requests;
    if (faults != 0 && logs == 0) {
        problems.Add("nothing was logged about " + std::to_string(faults) + " " + what);
    }
    if (requests != 0 && laterRequests == 0) {
        problems.Add("no request made after the host recovered: the plugin stopped working");
    }
    if (ValidationHost::Unreleased() != 0) {
        problems.Add(std::to_string(ValidationHost::Unreleased()) +
                     " responses were never released");
    }
    if (host.OpenStreams() != 0) {
        problems.Add(std::to_string(host.OpenStreams()) + " streamed bodies were never closed");
    }
    AddViolations(host, problems);
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    if (faults == 0) {
        return report.Skip(std::string("the plugin made no ") + (yieldFails ? "yield" : "request"));
    }
    return report.Pass(std::to_string(faults) + " " + what + ", " + std::to_string(logs) +
                       " log lines, " + std::to_string(laterRequests) +
                       " requests once the host recovered");
}

int CheckErrorAnswers(const CheckOptions& options, CheckReport& report) {
    return RunWithFault(options, report, RequestFault::Error, false, "requests refused");
}

int CheckEmptyAnswers(const CheckOptions& options, CheckReport& report) {
    return RunWithFault(options, report, RequestFault::Nothing, false, "requests left unanswered");
}

int CheckBrokenStreams(const CheckOptions& options, CheckReport& report) {
    return RunWithFault(options, report, RequestFault::BrokenStream, false,
                        "streamed answers broken half-way");
}

int CheckYieldErrors(const CheckOptions& options, CheckReport& report) {
    return RunWithFault(options, report, RequestFault::None, true, "yields failed");
}

// ---- hostile inputs ----------------------------------------------------------

std::uint64_t SeedFor(const CheckOptions& options, std::string_view check) {
    // FNV-1a of the check's name, so that each check draws its own inputs
    // from the one seed the run prints.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : check) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    }
    return options.seed ^ hash;
}

int CheckHostileEvents(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    const std::vector<ValidationSubscription> subscriptions = host.Subscriptions();
    if (subscriptions.empty()) {
        Stop(*plugin, host, report);
        return report.Skip("the plugin subscribed to no event");
    }
    HostileForge forge(SeedFor(options, "events.hostile"));
    std::size_t delivered = 0;
    for (const ValidationSubscription& subscription : subscriptions) {
        const std::string uri =
            EventNameForPath(kSessionPath) == subscription.eventName ? kSessionPath : "/";
        for (std::uint32_t i = 0; i < options.iterations; ++i) {
            const HostValue payload = forge.EventPayload(uri);
            report.Progress("event " + subscription.eventName + " payload " +
                            std::to_string(i + 1));
            host.Deliver(subscription, payload);
            ++delivered;
            if (i % 32 == 31) {
                forge.Clear();
            }
        }
        forge.Clear();
    }
    // Still working afterwards.
    Exercise(host, 12);
    Stop(*plugin, host, report);
    Problems problems;
    return Finish(host, problems, report,
                  std::to_string(delivered) + " hostile events to " +
                      std::to_string(subscriptions.size()) + " subscriptions");
}

int CheckFunctions(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    const PluginApiExport* block = plugin->ApiExport();
    std::vector<const ApiExportFunctionEntry*> entries;
    std::unordered_set<const void*> seen;
    for (const ApiExportFunctionRecord* record = block != nullptr && block->functions != nullptr
                                                     ? &block->functions->function
                                                     : nullptr;
         record != nullptr && entries.size() < kMaxEntries && seen.insert(record).second;
         record = record->next) {
        entries.push_back(reinterpret_cast<const ApiExportFunctionEntry*>(record));
    }
    if (entries.empty()) {
        Stop(*plugin, host, report);
        return report.Skip("the plugin exports no function");
    }
    HostileForge forge(SeedFor(options, "functions.fuzz"));
    Problems problems;
    std::size_t sent = 0;
    for (const ApiExportFunctionEntry* entry : entries) {
        const std::string name = Text(entry->function.name);
        const RemotingDispatchFn dispatch = entry->dispatch;
        if (dispatch == nullptr) {
            problems.Add("function '" + name + "' has no dispatch callback");
            continue;
        }
        for (std::uint32_t i = 0; i < options.iterations; ++i) {
            const HostileForge::Request request = forge.RequestFor(*entry);
            report.Progress("function '" + name + "' request " + std::to_string(i + 1) + ": " +
                            OneLine(request.summary));
            HostResponse response{};
            host.Timed([&] { dispatch(&response, &request.record); });
            ++sent;
            const std::int32_t code = response.status;
            const bool hasError = response.hasError != 0 || response.error != nullptr;
            if (!hasError && (code < 100 || code > 599)) {
                problems.Add("function '" + name + "': " + OneLine(request.summary) +
                             " got no response (status " + std::to_string(code) + ")");
            }
            const HostResponseReleaseFn release = response.release;
            if (release != nullptr) {
                release(&response);
            }
            if (i % 32 == 31) {
                forge.Clear();
            }
        }
        forge.Clear();
    }
    Stop(*plugin, host, report);
    return Finish(host, problems, report,
                  std::to_string(sent) + " fuzzed requests to " + std::to_string(entries.size()) +
                      " functions, each answered");
}

// ---- threads and budgets -----------------------------------------------------

int CheckThreads(const CheckOptions& options, CheckReport& report) {
    // Scheduled callbacks may come on any host thread, while the host thread
    // goes on delivering events: each round runs the pending callbacks on
    // worker threads, with memory statistics read on another, while this
    // thread changes the session resource.
    constexpr std::size_t kThreads = 4;
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    std::size_t ran = 0;
    std::size_t events = 0;
    std::size_t widest = 0;
    PluginLibrary& loaded = *plugin;
    const std::uint32_t rounds = std::max<std::uint32_t>(5, options.iterations / 5);
    for (std::uint32_t round = 0; round < rounds; ++round) {
        std::vector<ValidationCallback> pending = host.TakeAll();
        if (pending.empty()) {
            break;
        }
        const std::size_t workers = std::min(kThreads, pending.size());
        report.Progress("round " + std::to_string(round + 1) + ": " +
                        std::to_string(pending.size()) + " callbacks on " +
                        std::to_string(workers) + " threads beside events");
        widest = std::max(widest, workers);
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> running{workers};
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < workers; ++t) {
            threads.emplace_back([&] {
                for (std::size_t i = next++; i < pending.size(); i = next++) {
                    host.Run(pending[i]);
                }
                --running;
            });
        }
        threads.emplace_back([&] {
            PluginMemoryStats stats{};
            while (running != 0) {
                loaded.ReadMemoryStats(stats);
                std::this_thread::yield();
            }
        });
        // At least one event per round, more while the callbacks still run.
        do {
            host.SetResource(kSessionPath, Session(9 + events % 3));
            ++events;
        } while (running != 0 && events % 64 != 0);
        for (std::thread& thread : threads) {
            thread.join();
        }
        ran += pending.size();
    }
    Stop(*plugin, host, report);
    Problems problems;
    AddViolations(host, problems);
    if (!problems.Empty()) {
        return problems.Fail(report);
    }
    if (ran == 0) {
        return report.Skip("the plugin scheduled no callback");
    }
    return report.Pass(std::to_string(ran) + " callbacks from up to " + std::to_string(widest) +
                       " threads beside " + std::to_string(events) + " events");
}

int CheckBudgets(const CheckOptions& options, CheckReport& report) {
    ValidationHost host;
    int status = 0;
    std::unique_ptr<PluginLibrary> plugin = Start(options, host, report, status);
    if (!plugin) {
        return status;
    }
    for (std::uint64_t account = 9; account < 13; ++account) {
        Exercise(host, account);
    }
    PluginMemoryStats stats{};
    plugin->ReadMemoryStats(stats);
    Stop(*plugin, host, report);
    const double longest = host.LongestCall() * 1000;
    const std::size_t calls = host.CallsIntoPlugin();
    const double mean = calls != 0 ? host.TotalCallTime() * 1000 / static_cast<double>(calls) : 0;
    char figures[200];
    std::snprintf(figures, sizeof figures,
                  "longest call %.3f ms, mean %.3f ms over %zu calls; peak memory %llu bytes",
                  longest, mean, calls, static_cast<unsigned long long>(stats.peakBytes));
    report.Note(figures);
    Problems problems;
    if (options.maxCallMilliseconds > 0 && longest > options.maxCallMilliseconds) {
        char text[120];
        std::snprintf(text, sizeof text, "a call took %.3f ms, over the budget of %.3f ms", longest,
                      options.maxCallMilliseconds);
        problems.Add(text);
    }
    if (options.maxPeakBytes > 0 && stats.peakBytes > options.maxPeakBytes) {
        problems.Add("peak memory " + std::to_string(stats.peakBytes) +
                     " bytes, over the budget of " + std::to_string(options.maxPeakBytes));
    }
    return Finish(host, problems, report, figures);
}

}  // namespace

// "*" any run of characters, "?" any one.
bool GlobMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// A check is selected by a pattern that matches its name, or by the name of
// its group ("load" for "load.exports").
bool CheckSelected(std::string_view pattern, std::string_view name) {
    if (GlobMatches(pattern, name)) {
        return true;
    }
    return name.size() > pattern.size() && name.substr(0, pattern.size()) == pattern &&
           name[pattern.size()] == '.';
}

std::vector<std::string> ExportBlockProblems(const PluginApiExport& block) {
    Problems problems;
    FindBlockProblems(block, problems);
    return problems.Listed();
}

// ---- Reports -----------------------------------------------------------------

void CheckReport::Line(std::string_view tag, std::string_view text) {
    std::string line(tag);
    line += '\t';
    line += OneLine(text);
    line += '\n';
    channel_.Write(line);
}

void CheckReport::Progress(std::string_view text) {
    Line("progress", text);
}

void CheckReport::Note(std::string_view text) {
    Line("note", text);
}

int CheckReport::Verdict(std::string_view verdict, std::string_view reason) {
    channel_.Write("verdict\t" + std::string(verdict) + "\t" + OneLine(reason) + "\n");
    return verdict == "fail" ? 1 : 0;
}

int CheckReport::Pass(std::string_view reason) {
    return Verdict("pass", reason);
}

int CheckReport::Fail(std::string_view reason) {
    return Verdict("fail", reason);
}

int CheckReport::Skip(std::string_view reason) {
    return Verdict("skip", reason);
}

CheckResult ReadOutcome(const IsolatedOutcome& outcome, double timeoutSeconds) {
    CheckResult result;
    result.seconds = outcome.seconds;
    result.output = outcome.output;
    bool decided = false;
    std::size_t start = 0;
    while (start < outcome.report.size()) {
        std::size_t end = outcome.report.find('\n', start);
        if (end == std::string::npos) {
            end = outcome.report.size();
        }
        const std::string_view line(outcome.report.data() + start, end - start);
        start = end + 1;
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            continue;
        }
        const std::string_view tag = line.substr(0, tab);
        const std::string_view text = line.substr(tab + 1);
        if (tag == "progress") {
            result.lastProgress = text;
        } else if (tag == "note") {
            result.notes.emplace_back(text);
        } else if (tag == "verdict") {
            const std::size_t split = text.find('\t');
            const std::string_view verdict = text.substr(0, split);
            result.reason = split == std::string_view::npos ? "" : text.substr(split + 1);
            result.verdict = verdict == "pass"   ? Verdict::Pass
                             : verdict == "skip" ? Verdict::Skip
                                                 : Verdict::Fail;
            decided = true;
        }
    }
    const std::string during = result.lastProgress.empty() ? "" : " during: " + result.lastProgress;
    switch (outcome.end) {
        case IsolatedOutcome::End::Exited:
            if (!decided) {
                result.verdict = Verdict::Fail;
                result.reason = "the process ended with exit status " +
                                std::to_string(outcome.exitStatus) + " before a verdict" + during;
            }
            break;
        case IsolatedOutcome::End::Signaled:
            result.verdict = Verdict::Fail;
            result.reason = "crashed with " + outcome.signalName + during;
            break;
        case IsolatedOutcome::End::TimedOut: {
            char text[64];
            std::snprintf(text, sizeof text, "did not finish within %g s", timeoutSeconds);
            result.verdict = Verdict::Fail;
            result.reason = text + during;
            break;
        }
        case IsolatedOutcome::End::Unsupported:
            result.verdict = Verdict::Skip;
            result.reason = outcome.error;
            break;
        case IsolatedOutcome::End::NotStarted:
            result.verdict = Verdict::Fail;
            result.reason = outcome.error;
            break;
    }
    return result;
}

const std::vector<CheckDefinition>& ValidationChecks() {
    static const std::vector<CheckDefinition> checks = {
        {"load.exports", "the export named from the file name is the library's only export",
         &CheckExports},
        {"load.record", "the export fills the load record as the boundary defines it",
         &CheckRecord},
        {"load.incompatible-version",
         "a host of another API major ends the process with the fatal report; nothing written",
         &CheckIncompatible, &JudgeIncompatible, sizeof(IncompatibleShared)},
        {"export.integrity",
         "the export block's lists end, match their counts, and refer to what exists",
         &CheckIntegrity},
        {"lifecycle.cycles", "fresh loads, Initialize, a run, Shutdown: no memory is lost",
         &CheckCycles},
        {"lifecycle.subscriptions", "Shutdown withdraws every subscription", &CheckSubscriptions},
        {"call-order.stats-before-initialize",
         "GetMemoryStats before Initialize gives consistent figures", &CheckStatsBeforeInitialize},
        {"call-order.null-connection", "Initialize without a connection or table is harmless",
         &CheckNullConnection},
        {"call-order.early-events", "an event inside hostSubscribe, before Initialize returns",
         &CheckEarlyEvents},
        {"call-order.late-callbacks",
         "scheduled callbacks and events after Shutdown are harmless and reach no host entry",
         &CheckLateCallbacks},
        {"call-order.shutdown-twice", "a second Shutdown with the same handle is harmless",
         &CheckShutdownTwice},
        {"host-faults.error", "every request answered with an error", &CheckErrorAnswers},
        {"host-faults.nothing", "every request left without an answer", &CheckEmptyAnswers},
        {"host-faults.broken-stream", "every answer a stream that fails half-way",
         &CheckBrokenStreams},
        {"host-faults.yield-error", "every yield reports an error", &CheckYieldErrors},
        {"events.hostile", "fuzzed payloads for every subscribed event", &CheckHostileEvents},
        {"functions.fuzz", "fuzzed requests to every exported function", &CheckFunctions},
        {"threads.callbacks", "scheduled callbacks from several host threads at once",
         &CheckThreads},
        {"budgets", "time per call into the plugin and its peak memory", &CheckBudgets},
    };
    return checks;
}

}  // namespace Tavo::Host
