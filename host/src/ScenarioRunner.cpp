#include "ScenarioRunner.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

#include "PluginLoader.h"
#include "VirtualClock.h"
#include "binding/BindingPropertyArena.h"
#include "binding/BindingRegistry.h"
#include "binding/Converters.h"
#include "formats/JsonWriter.h"

namespace Tavo::Host {

namespace {

using Clock = std::chrono::steady_clock;

// 1234567 → "1,234,567".
std::string Grouped(std::uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

void ApplyStep(DevHost& host, const ScenarioStep& step) {
    switch (step.action) {
        case ScenarioStep::Action::Set:
            host.SetResource(step.path, step.value);
            break;
        case ScenarioStep::Action::Delete:
            host.DeleteResource(step.path);
            break;
        case ScenarioStep::Action::Lcds: {
            host.Lcds().SetBehaviour(step.lcds);
            BindingProperty details;
            details.Field("behaviour").SetString(step.lcds.Describe());
            host.Log().Add(host.Clock().Now(), "lcds-mode", step.lcds.Describe(), details);
            break;
        }
    }
}

// What the plugin made of an answer: it converts the body to the text the
// heartbeat asks for, with the same converter the plugin uses.
HeartbeatAnswer Classify(const LcdsCallRecord& call) {
    switch (call.outcome) {
        case LcdsCallRecord::Outcome::Error:
            return HeartbeatAnswer::Error;
        case LcdsCallRecord::Outcome::Nothing:
            return HeartbeatAnswer::Nothing;
        case LcdsCallRecord::Outcome::Value:
            break;
    }
    static const BindingRegistry registry;
    BindingResult converted;
    std::string text;
    FromProperty(converted, text, call.value, "", registry);
    return converted.IsOk() ? HeartbeatAnswer::Text : HeartbeatAnswer::NotConvertible;
}

std::vector<HeartbeatRecord> Heartbeats(const DevHost& host) {
    std::vector<HeartbeatRecord> heartbeats;
    for (const LcdsCallRecord& call : host.LcdsCalls()) {
        if (call.destination != kHeartbeatDestination || call.method != kHeartbeatMethod) {
            continue;
        }
        HeartbeatRecord record;
        record.time = call.time;
        const BindingProperty& account = call.arguments.ElementAt(0);
        record.account = account.IsEmpty() ? "null" : WriteJson(account);
        record.count = call.arguments.ElementAt(2).AsInt64();
        const BindingProperty& timestamp = call.arguments.ElementAt(3);
        record.timestamp = timestamp.GetKind() == BindingProperty::Kind::String
                               ? std::string(timestamp.GetString())
                               : (timestamp.IsEmpty() ? "null" : WriteJson(timestamp));
        record.answer = Classify(call);
        heartbeats.push_back(std::move(record));
    }
    return heartbeats;
}

AccountCounts CountAccounts(const RunResult& result) {
    AccountCounts accounts;
    for (const HeartbeatRecord& heartbeat : result.heartbeats) {
        ++accounts[heartbeat.account];
    }
    return accounts;
}

std::vector<std::int64_t> Counts(const RunResult& result) {
    std::vector<std::int64_t> counts;
    for (const HeartbeatRecord& heartbeat : result.heartbeats) {
        counts.push_back(heartbeat.count);
    }
    return counts;
}

AnswerCounts CountAnswers(const RunResult& result) {
    AnswerCounts answers{};
    for (const HeartbeatRecord& heartbeat : result.heartbeats) {
        ++answers[static_cast<std::size_t>(heartbeat.answer)];
    }
    return answers;
}

// Every answer but a text fails the heartbeat in the plugin.
std::uint64_t FailedHeartbeats(const AnswerCounts& answers) {
    return answers[static_cast<std::size_t>(HeartbeatAnswer::Nothing)] +
           answers[static_cast<std::size_t>(HeartbeatAnswer::Error)] +
           answers[static_cast<std::size_t>(HeartbeatAnswer::NotConvertible)];
}

// "61 text, 1 error": the kinds that occurred, in a fixed order.
std::string AnswersText(const AnswerCounts& answers) {
    std::string text;
    for (std::size_t kind = 0; kind < kHeartbeatAnswerKinds; ++kind) {
        if (answers[kind] != 0) {
            text += text.empty() ? "" : ", ";
            text += std::to_string(answers[kind]) + " " +
                    HeartbeatAnswerName(static_cast<HeartbeatAnswer>(kind));
        }
    }
    return text.empty() ? "none" : text;
}

std::string AccountsText(const AccountCounts& accounts) {
    std::string text;
    for (const auto& [account, count] : accounts) {
        text += text.empty() ? "" : ", ";
        text += account + ": " + std::to_string(count);
    }
    return text.empty() ? "none" : text;
}

void WriteSummary(Timeline& timeline, const Scenario& scenario, const RunResult& result) {
    const auto accounts = CountAccounts(result);
    const auto counts = Counts(result);
    const AnswerCounts answers = CountAnswers(result);
    const std::uint64_t failed = FailedHeartbeats(answers);
    std::map<std::int32_t, std::size_t> levels;
    for (const HostLogLine& line : result.logs) {
        ++levels[line.level];
    }
    std::string levelText;
    for (const auto& [level, count] : levels) {
        levelText += levelText.empty() ? " (" : ", ";
        levelText += LogLevelName(level) + " " + std::to_string(count);
    }
    levelText += levelText.empty() ? "" : ")";
    const PluginMemoryStats& memory = result.memory;

    char wall[32];
    std::snprintf(wall, sizeof wall, "%.3f", result.wallSeconds);
    std::string text;
    text += "\nSummary of '" + scenario.name + "' at " + FormatVirtualTime(result.end) + " (" +
            wall + " s of wall time)\n";
    if (!result.stopped.empty()) {
        text += "  stopped early   " + result.stopped + "\n";
    }
    text += "  heartbeats      " + std::to_string(result.heartbeats.size()) + " sent, " +
            std::to_string(failed) + " failed\n";
    text += "  answers         " + AnswersText(answers) + "\n";
    text += "  accounts        " + AccountsText(accounts) + "\n";
    text += "  counts          " + FoldCounts(counts) + "\n";
    text += "  LCDS calls      " + std::to_string(result.lcdsCalls) + "\n";
    text += "  log lines       " + std::to_string(result.logs.size()) + levelText + "\n";
    text += "  subscriptions   " + std::to_string(result.subscriptionsAtEnd) + " at the end, " +
            std::to_string(result.subscriptionsAfterShutdown) + " after Shutdown\n";
    text += "  callbacks       " + std::to_string(result.callbacksRun) + " run, " +
            std::to_string(result.callbacksDropped) + " dropped at Shutdown\n";
    text += "  events          " + std::to_string(result.eventsDelivered) + " delivered\n";
    if (result.telemetryEvents != 0) {
        text += "  telemetry       " + std::to_string(result.telemetryEvents) + " events\n";
    }
    // The dev host's own trees (resource store, payloads): what its page
    // source holds once they are dropped.
    const BindingPageSource::Stats pages = BindingPageSource::Instance().ReadStats();
    text += "  page source     " + Grouped(pages.regionsHeld) + " regions held (" +
            Grouped(pages.bytesHeld / 1024) + " KiB with large blocks), " +
            Grouped(pages.regionsReserved) + " reserved, " + Grouped(pages.regionsReturned) +
            " returned\n";
    if (result.memoryRead) {
        text += "  plugin memory   peak " + Grouped(memory.peakBytes) + " bytes in " +
                Grouped(memory.peakAllocations) + " blocks; " + Grouped(memory.allocations) +
                " allocations of " + Grouped(memory.bytesAllocated) + " bytes, " +
                Grouped(memory.frees) + " frees of " + Grouped(memory.bytesFreed) + " bytes";
    } else {
        text += "  plugin memory   not read";
    }

    BindingProperty json;
    json.Field("kind").SetString("summary");
    json.Field("scenario").SetString(scenario.name);
    json.Field("time").SetString(FormatVirtualTime(result.end));
    json.Field("wallSeconds").SetFloat(result.wallSeconds);
    if (!result.stopped.empty()) {
        json.Field("stopped").SetString(result.stopped);
    }
    json.Field("started").SetBool(result.started);
    BindingProperty& heartbeats = json.Field("heartbeats");
    heartbeats.Field("sent").SetUnsigned(static_cast<std::uint64_t>(result.heartbeats.size()));
    heartbeats.Field("failed").SetUnsigned(static_cast<std::uint64_t>(failed));
    BindingProperty& answerJson = heartbeats.Field("answers");
    answerJson.MakeStructure();
    for (std::size_t kind = 0; kind < kHeartbeatAnswerKinds; ++kind) {
        answerJson.Field(HeartbeatAnswerName(static_cast<HeartbeatAnswer>(kind)))
            .SetUnsigned(answers[kind]);
    }
    BindingProperty& accountJson = heartbeats.Field("accounts");
    accountJson.MakeStructure();
    for (const auto& [account, count] : accounts) {
        accountJson.Field(account).SetUnsigned(count);
    }
    BindingProperty& countJson = heartbeats.Field("counts");
    countJson.MakeCollection();
    for (const std::int64_t count : counts) {
        countJson.Append().SetSigned(count);
    }
    json.Field("lcdsCalls").SetUnsigned(static_cast<std::uint64_t>(result.lcdsCalls));
    BindingProperty& logJson = json.Field("logLines");
    logJson.MakeStructure();
    for (const auto& [level, count] : levels) {
        logJson.Field(LogLevelName(level)).SetUnsigned(static_cast<std::uint64_t>(count));
    }
    json.Field("subscriptionsAtEnd")
        .SetUnsigned(static_cast<std::uint64_t>(result.subscriptionsAtEnd));
    json.Field("subscriptionsAfterShutdown")
        .SetUnsigned(static_cast<std::uint64_t>(result.subscriptionsAfterShutdown));
    json.Field("callbacksRun").SetUnsigned(static_cast<std::uint64_t>(result.callbacksRun));
    json.Field("callbacksDropped").SetUnsigned(static_cast<std::uint64_t>(result.callbacksDropped));
    json.Field("eventsDelivered").SetUnsigned(static_cast<std::uint64_t>(result.eventsDelivered));
    json.Field("telemetryEvents").SetUnsigned(static_cast<std::uint64_t>(result.telemetryEvents));
    BindingProperty& pageJson = json.Field("pageSource");
    pageJson.Field("regionsHeld").SetUnsigned(static_cast<std::uint64_t>(pages.regionsHeld));
    pageJson.Field("bytesHeld").SetUnsigned(static_cast<std::uint64_t>(pages.bytesHeld));
    pageJson.Field("regionsReserved")
        .SetUnsigned(static_cast<std::uint64_t>(pages.regionsReserved));
    pageJson.Field("regionsReturned")
        .SetUnsigned(static_cast<std::uint64_t>(pages.regionsReturned));
    if (result.memoryRead) {
        BindingProperty& memoryJson = json.Field("memory");
        memoryJson.Field("peakBytes").SetUnsigned(memory.peakBytes);
        memoryJson.Field("peakAllocations").SetUnsigned(memory.peakAllocations);
        memoryJson.Field("bytesAllocated").SetUnsigned(memory.bytesAllocated);
        memoryJson.Field("allocations").SetUnsigned(memory.allocations);
        memoryJson.Field("bytesFreed").SetUnsigned(memory.bytesFreed);
        memoryJson.Field("frees").SetUnsigned(memory.frees);
    }
    timeline.Write(text, json);
}

std::string Itself(std::string text) {
    return text;
}

template <class T>
std::string Listed(const std::vector<T>& items, std::string (*show)(T)) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += i == 0 ? "" : ", ";
        text += show(items[i]);
    }
    return text + "]";
}

}  // namespace

std::vector<std::string> CheckRun(const Scenario& scenario, const RunResult& result,
                                  std::size_t& checked) {
    std::vector<std::string> failures;
    checked = 0;
    auto check = [&](bool held, std::string message) {
        ++checked;
        if (!held) {
            failures.push_back(std::move(message));
        }
    };

    // The boundary, for every run.
    check(result.started, "the plugin did not start: Initialize returned false");
    check(result.subscriptionsAfterShutdown == 0,
          "the plugin left " + std::to_string(result.subscriptionsAfterShutdown) +
              " subscriptions behind after Shutdown");
    check(
        result.unreleasedResponses == 0,
        "the plugin did not release " + std::to_string(result.unreleasedResponses) + " responses");
    const PluginMemoryStats& memory = result.memory;
    check(!result.memoryRead ||
              (memory.bytesFreed <= memory.bytesAllocated && memory.frees <= memory.allocations),
          "the plugin's memory counters do not add up: " + Grouped(memory.bytesFreed) +
              " bytes freed of " + Grouped(memory.bytesAllocated) + ", " + Grouped(memory.frees) +
              " frees of " + Grouped(memory.allocations) + " allocations");
    if (!result.stopped.empty()) {
        check(false, "the run stopped early: " + result.stopped);
    }

    const ScenarioExpectations& expect = scenario.expect;
    if (expect.heartbeats) {
        check(result.heartbeats.size() == *expect.heartbeats,
              "heartbeats: expected " + std::to_string(*expect.heartbeats) + ", got " +
                  std::to_string(result.heartbeats.size()));
    }
    const AnswerCounts answers = CountAnswers(result);
    if (expect.failed) {
        const std::uint64_t failed = FailedHeartbeats(answers);
        check(failed == *expect.failed, "failed heartbeats: expected " +
                                            std::to_string(*expect.failed) + ", got " +
                                            std::to_string(failed));
    }
    if (expect.answers) {
        bool held = true;
        for (std::size_t kind = 0; kind < kHeartbeatAnswerKinds; ++kind) {
            held = held && (!(*expect.answers)[kind] || *(*expect.answers)[kind] == answers[kind]);
        }
        std::string wanted;
        for (std::size_t kind = 0; kind < kHeartbeatAnswerKinds; ++kind) {
            if ((*expect.answers)[kind]) {
                wanted += wanted.empty() ? "" : ", ";
                wanted += std::to_string(*(*expect.answers)[kind]) + " " +
                          HeartbeatAnswerName(static_cast<HeartbeatAnswer>(kind));
            }
        }
        check(held, "answers: expected " + wanted + ", got " + AnswersText(answers));
    }
    if (expect.accounts) {
        const auto accounts = CountAccounts(result);
        check(accounts == *expect.accounts, "accounts: expected " + AccountsText(*expect.accounts) +
                                                ", got " + AccountsText(accounts));
    }
    if (expect.counts) {
        const auto counts = Counts(result);
        check(counts == *expect.counts,
              "counts: expected " + FoldCounts(*expect.counts) + ", got " + FoldCounts(counts));
    }
    if (expect.times) {
        std::vector<VirtualTime> times;
        for (const HeartbeatRecord& heartbeat : result.heartbeats) {
            times.push_back(heartbeat.time);
        }
        check(times == *expect.times, "heartbeat times: expected " +
                                          Listed<VirtualTime>(*expect.times, &FormatVirtualTime) +
                                          ", got " +
                                          Listed<VirtualTime>(times, &FormatVirtualTime));
    }
    if (expect.timestamps) {
        std::vector<std::string> timestamps;
        for (const HeartbeatRecord& heartbeat : result.heartbeats) {
            timestamps.push_back(heartbeat.timestamp);
        }
        const std::vector<std::string> wanted = expect.timestamps->For(timestamps.size());
        check(timestamps == wanted, "heartbeat timestamps: expected " +
                                        Listed<std::string>(wanted, &Itself) + ", got " +
                                        Listed<std::string>(timestamps, &Itself));
    }
    for (const LogExpectation& log : expect.logs) {
        std::uint64_t matching = 0;
        for (const HostLogLine& line : result.logs) {
            if (line.level == log.level && line.message.find(log.contains) != std::string::npos) {
                ++matching;
            }
        }
        const std::string what =
            LogLevelName(log.level) + " lines containing '" + log.contains + "'";
        if (log.count) {
            check(matching == *log.count, what + ": expected " + std::to_string(*log.count) +
                                              ", got " + std::to_string(matching));
        } else {
            check(matching > 0, what + ": expected at least one, got none");
        }
    }
    if (expect.subscriptions) {
        check(result.subscriptionsAtEnd == *expect.subscriptions,
              "subscriptions at the end: expected " + std::to_string(*expect.subscriptions) +
                  ", got " + std::to_string(result.subscriptionsAtEnd));
    }
    return failures;
}

int RunScenario(const Scenario& scenario, const RunOptions& options, RunResult& result) {
    const Clock::time_point wallStart = Clock::now();
    Timeline timeline(options.out, options.format, options.quiet);
    DevHost host(timeline);
    host.Lcds().SetBehaviour(scenario.lcds);
    const VirtualClockScope clock(host.Clock(),
                                  scenario.start ? *scenario.start : RealWallClock100ns());

    {
        BindingProperty details;
        details.Field("scenario").SetString(scenario.name);
        details.Field("end").SetString(FormatVirtualTime(scenario.end));
        std::string text = "'" + scenario.name + "' until " + FormatVirtualTime(scenario.end);
        if (!scenario.description.empty()) {
            text += ": " + scenario.description;
        }
        timeline.Add(0, "scenario", text, details);
    }
    for (const auto& [path, value] : scenario.resources) {
        host.Resources().Set(path, value);
        BindingProperty details;
        details.Field("path").SetString(path);
        details.Field("value") = value;
        timeline.Add(0, "resource", path + " = " + (value.IsEmpty() ? "null" : WriteJson(value)),
                     details);
    }
    if (!(scenario.lcds.mode == LcdsBehaviour::Mode::Answer &&
          scenario.lcds.answer == LcdsBehaviour::Default().answer &&
          scenario.lcds.typeName == LcdsBehaviour::Default().typeName)) {
        timeline.Add(0, "lcds-mode", scenario.lcds.Describe());
    }

    std::string error;
    std::unique_ptr<PluginLibrary> plugin =
        PluginLibrary::Load(options.pluginPath, options.hostVersion, error);
    if (!plugin) {
        std::fprintf(stderr, "ulm-host run: %s\n", error.c_str());
        return 1;
    }
    {
        BindingProperty details;
        details.Field("path").SetString(plugin->Path());
        details.Field("symbol").SetString(plugin->Symbol());
        details.Field("shortName").SetString(plugin->ShortName());
        details.Field("pluginApi").SetString(plugin->PluginVersion().ToText());
        details.Field("hostApi").SetString(options.hostVersion.ToText());
        timeline.Add(0, "load",
                     plugin->ShortName() + " through " + plugin->Symbol() + ": plugin API " +
                         plugin->PluginVersion().ToText() + ", host API " +
                         options.hostVersion.ToText(),
                     details);
    }

    result.started = plugin->Initialize(host.Connection());
    timeline.Add(host.Clock().Now(), "initialize",
                 result.started ? "returned true" : "returned false: not started");

    if (result.started) {
        std::size_t nextStep = 0;
        VirtualTime instant = -1;
        std::size_t atInstant = 0;
        for (;;) {
            const std::optional<VirtualTime> due = host.Clock().NextDue();
            const bool stepNext =
                nextStep < scenario.steps.size() && (!due || scenario.steps[nextStep].at <= *due);
            if (stepNext) {
                const ScenarioStep& step = scenario.steps[nextStep++];
                host.Clock().AdvanceTo(step.at);
                ApplyStep(host, step);
                continue;
            }
            if (!due || *due > scenario.end) {
                break;
            }
            if (*due != instant) {
                instant = *due;
                atInstant = 0;
            }
            if (++atInstant > kMaxCallbacksPerInstant) {
                result.stopped = "the plugin ran " + std::to_string(kMaxCallbacksPerInstant) +
                                 " callbacks at " + FormatVirtualTime(instant) +
                                 " without letting time move";
                timeline.Add(instant, "stop", result.stopped);
                break;
            }
            host.RunNextDue(scenario.end);
        }
    }
    if (result.stopped.empty()) {
        host.Clock().AdvanceTo(scenario.end);
    }
    result.end = host.Clock().Now();
    timeline.Add(result.end, "end", "of the scenario");

    result.memoryRead = plugin->ReadMemoryStats(result.memory);
    result.subscriptionsAtEnd = host.Subscriptions().size();
    timeline.Add(host.Clock().Now(), "shutdown", "begins");
    plugin->Shutdown();
    result.callbacksDropped = host.Detach();
    result.subscriptionsAfterShutdown = host.Subscriptions().size();
    timeline.Add(host.Clock().Now(), "shutdown",
                 "done; " + std::to_string(result.callbacksDropped) + " scheduled callback" +
                     (result.callbacksDropped == 1 ? "" : "s") + " will not run");
    plugin.reset();

    result.heartbeats = Heartbeats(host);
    result.lcdsCalls = host.LcdsCalls().size();
    result.logs = host.Logs();
    result.callbacksRun = host.CallbacksRun();
    result.eventsDelivered = host.EventsDelivered();
    result.telemetryEvents = host.Telemetry().size();
    result.unreleasedResponses = DevHost::UnreleasedResponses();
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - wallStart).count();

    WriteSummary(timeline, scenario, result);

    std::size_t checked = 0;
    const std::vector<std::string> failures = CheckRun(scenario, result, checked);
    for (const std::string& failure : failures) {
        BindingProperty json;
        json.Field("kind").SetString("check");
        json.Field("ok").SetBool(false);
        json.Field("text").SetString(failure);
        timeline.Write("FAILED: " + failure, json);
    }
    BindingProperty json;
    json.Field("kind").SetString("result");
    json.Field("checks").SetUnsigned(static_cast<std::uint64_t>(checked));
    json.Field("failed").SetUnsigned(static_cast<std::uint64_t>(failures.size()));
    json.Field("ok").SetBool(failures.empty());
    timeline.Write(failures.empty() ? "All " + std::to_string(checked) + " checks passed."
                                    : std::to_string(failures.size()) + " of " +
                                          std::to_string(checked) + " checks failed.",
                   json);
    std::fflush(options.out);
    return failures.empty() ? 0 : 1;
}

}  // namespace Tavo::Host
