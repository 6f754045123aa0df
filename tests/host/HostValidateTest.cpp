// ulm-host validate: its pieces in process (check selection, the isolated
// child, reading a child's report, listing a library's exports, the hostile
// input forge, the validation host's faults) and the command end to end.
// The verdicts against real and broken plugins run as ctests of their own
// (host.validate.*).

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ValidateChecks.h"
#include "ValidateFuzz.h"
#include "ValidateHost.h"
#include "ValidateProcess.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "remoting/HttpMethod.h"
#include "tests/host/HostProcess.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;
using Tavo::Testing::Outcome;
using Tavo::Testing::RunHost;

TEST(ValidateSelection, MatchesNamesGroupsAndGlobs) {
    struct Row {
        const char* pattern;
        const char* name;
        bool selected;
    };
    const Row rows[] = {
        // Exact names and whole groups.
        {"load.exports", "load.exports", true},
        {"load", "load.exports", true},
        {"load", "loader.exports", false},
        {"load.export", "load.exports", false},
        // Globs cover the whole name.
        {"*", "call-order.late-callbacks", true},
        {"call-order.*", "call-order.late-callbacks", true},
        {"*late*", "call-order.late-callbacks", true},
        {"*.late", "call-order.late-callbacks", false},
        {"load.?xports", "load.exports", true},
        {"load.?", "load.exports", false},
        {"**", "", true},
        {"", "load", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.name);
        EXPECT_EQ(CheckSelected(row.pattern, row.name), row.selected);
    }
}

// A segmentation fault as the plain process meets it (a sanitizer's own
// handler would turn it into an exit).
void Crash() {
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
}

TEST(ValidateIsolation, ReportsHowTheChildEnded) {
    struct Row {
        const char* name;
        std::function<int(ChildChannel&)> body;
        double timeout;
        IsolatedOutcome::End end;
        int exitStatus;
        const char* signalName;
    };
    const Row rows[] = {
        {"returns", [](ChildChannel&) { return 3; }, 30, IsolatedOutcome::End::Exited, 3, ""},
        {"crashes",
         [](ChildChannel&) {
             Crash();
             return 0;
         },
         30, IsolatedOutcome::End::Signaled, 0, "SIGSEGV"},
        {"aborts", [](ChildChannel&) -> int { std::abort(); }, 30, IsolatedOutcome::End::Signaled,
         0, "SIGABRT"},
        {"hangs",
         [](ChildChannel&) {
             for (;;) {
                 std::this_thread::sleep_for(std::chrono::seconds(1));
             }
             return 0;
         },
         0.3, IsolatedOutcome::End::TimedOut, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const IsolatedOutcome outcome = RunIsolated(row.body, row.timeout);
        EXPECT_EQ(outcome.end, row.end) << outcome.error;
        EXPECT_EQ(outcome.exitStatus, row.exitStatus);
        EXPECT_EQ(outcome.signalName, row.signalName);
    }
}

TEST(ValidateIsolation, CarriesTheReportOutputAndSharedBlockBack) {
    const IsolatedOutcome outcome = RunIsolated(
        [](ChildChannel& channel) {
            channel.Write("progress\tstep one\n");
            std::printf("to stdout\n");
            std::fprintf(stderr, "to stderr\n");
            std::memcpy(channel.Shared().data(), "kept", 4);
            Crash();  // what was written before the crash still arrives
            return 0;
        },
        30, 16);
    EXPECT_EQ(outcome.end, IsolatedOutcome::End::Signaled);
    EXPECT_EQ(outcome.report, "progress\tstep one\n");
    EXPECT_NE(outcome.output.find("to stdout\n"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("to stderr\n"), std::string::npos) << outcome.output;
    ASSERT_EQ(outcome.shared.size(), 16u);
    EXPECT_EQ(std::string(outcome.shared.begin(), outcome.shared.begin() + 4), "kept");
}

TEST(ValidateReport, ReadsTheVerdictOrHowTheCheckDied) {
    struct Row {
        const char* name;
        IsolatedOutcome::End end;
        int exitStatus;
        const char* report;
        Verdict verdict;
        const char* reason;
    };
    const Row rows[] = {
        {"pass", IsolatedOutcome::End::Exited, 0, "note\tn1\nverdict\tpass\tall good\n",
         Verdict::Pass, "all good"},
        {"skip", IsolatedOutcome::End::Exited, 0, "verdict\tskip\tnothing to do\n", Verdict::Skip,
         "nothing to do"},
        {"fail", IsolatedOutcome::End::Exited, 1, "verdict\tfail\tbad\n", Verdict::Fail, "bad"},
        // Deaths override whatever was reported.
        {"crash", IsolatedOutcome::End::Signaled, 0, "progress\ta\nprogress\tevent 7\n",
         Verdict::Fail, "crashed with SIGSEGV during: event 7"},
        {"crash after a verdict", IsolatedOutcome::End::Signaled, 0, "verdict\tpass\t\n",
         Verdict::Fail, "crashed with SIGSEGV"},
        {"hang", IsolatedOutcome::End::TimedOut, 0, "progress\tround 2\n", Verdict::Fail,
         "did not finish within 5 s during: round 2"},
        {"silent exit", IsolatedOutcome::End::Exited, 0, "", Verdict::Fail,
         "the process ended with exit status 0 before a verdict"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IsolatedOutcome outcome;
        outcome.end = row.end;
        outcome.exitStatus = row.exitStatus;
        outcome.signalName = "SIGSEGV";
        outcome.report = row.report;
        const CheckResult result = ReadOutcome(outcome, 5);
        EXPECT_EQ(result.verdict, row.verdict);
        EXPECT_EQ(result.reason, row.reason);
    }
}

// A small export block, linked by hand: a struct "Item" (a number and an
// enum field), the enum "Kind", an event carrying "Item" and one function.
// Not copyable: its entries point at each other.
struct HandBlock {
    ApiExportFieldEntry fields[2] = {
        {nullptr, "id", "", 0, 5, 0, "", 0},
        {nullptr, "kind", "", 8, 16, 0, "Kind", 1},
    };
    ApiExportEnumValueEntry values[2] = {{nullptr, "A", "", 1}, {nullptr, "B", "", 2}};
    const char* tags[1] = {"tclient"};
    ApiExportTypeEntry types[2] = {
        {nullptr, "Item", "", 16, "", tags, 1, fields, nullptr, 2},
        {nullptr, "Kind", "", 4, "", nullptr, 0, nullptr, values, 2},
    };
    ApiExportEventEntry event{nullptr, "OnItem", "", "Item", "", tags, 1};
    ApiExportFunctionEntry function{};
    PluginApiExport block{&function, 1, types, 2, &event, 1};

    HandBlock() {
        fields[0].next = &fields[1];
        values[0].next = &values[1];
        types[0].next = &types[1];
        function.function.name = "f";
        function.dispatch = [](HostResponse*, const HostRequest*) {};
        function.pathTemplate = "/f";
    }
    HandBlock(const HandBlock&) = delete;
    HandBlock& operator=(const HandBlock&) = delete;
};

TEST(ValidateExportBlock, NamesWhatIsWrongWithABlock) {
    struct Row {
        const char* name;
        void (*spoil)(HandBlock&);
        const char* problem;  // the first one reported; "" for none
    };
    const Row rows[] = {
        {"intact", [](HandBlock&) {}, ""},
        // Lists that do not end or disagree with their counts.
        {"count", [](HandBlock& b) { b.block.typeCount = 3; }, "types: 3 announced, 2 linked"},
        {"cycle", [](HandBlock& b) { b.types[1].next = &b.types[0]; },
         "types: entry 1 links back to entry 0 (a cycle)"},
        {"field cycle", [](HandBlock& b) { b.fields[1].next = &b.fields[1]; },
         "fields of 'Item': entry 1 links back to entry 1 (a cycle)"},
        {"function count", [](HandBlock& b) { b.block.functionCount = 0; },
         "functions: 0 announced, 1 linked"},
        // Names.
        {"repeated type", [](HandBlock& b) { b.types[1].name = "Item"; },
         "type 'Item' is registered twice"},
        {"nameless field", [](HandBlock& b) { b.fields[1].name = ""; },
         "field 1 of 'Item' has no name"},
        {"repeated value", [](HandBlock& b) { b.values[1].name = "A"; },
         "value 'Kind.A' appears twice"},
        {"unsorted values",
         [](HandBlock& b) {
             b.values[0].name = "B";
             b.values[1].name = "A";
         },
         "values of 'Kind' are not sorted: 'A' after 'B'"},
        // Layout and references.
        {"offset outside", [](HandBlock& b) { b.fields[1].offset = 16; },
         "field 'Item.kind' lies at offset 16, outside the type's 16 bytes"},
        {"unknown kind", [](HandBlock& b) { b.fields[0].kind = 20; },
         "field 'Item.id' has an unknown kind code"},
        {"unknown field type", [](HandBlock& b) { b.fields[1].typeName = "Missing"; },
         "field 'Item.kind' refers to the unknown type 'Missing'"},
        {"unknown payload", [](HandBlock& b) { b.event.payloadName = "Nope"; },
         "event 'OnItem' carries the unknown type 'Nope'"},
        {"fields and values", [](HandBlock& b) { b.types[0].enumValues = b.values; },
         "type 'Item' has both fields and enum values"},
        {"tags without array", [](HandBlock& b) { b.types[1].tagCount = 2; },
         "type 'Kind': 2 tags announced, no array"},
        {"no dispatch", [](HandBlock& b) { b.function.dispatch = nullptr; },
         "function 'f' has no dispatch callback"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HandBlock hand;
        row.spoil(hand);
        const std::vector<std::string> problems = ExportBlockProblems(hand.block);
        if (*row.problem == '\0') {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_FALSE(problems.empty());
            EXPECT_EQ(problems.front(), row.problem);
        }
    }
}

TEST(ValidateExports, ListsWhatALibraryExports) {
    std::vector<std::string> exports;
    std::string error;
    ASSERT_TRUE(ListExportedSymbols(TAVO_PLUGIN, exports, error)) << error;
    EXPECT_EQ(exports, std::vector<std::string>{"load_vex_heartbeat"});

    exports.clear();
    ASSERT_TRUE(ListExportedSymbols(TAVO_BROKEN_SECOND_EXPORT_PLUGIN, exports, error)) << error;
    EXPECT_EQ(std::set<std::string>(exports.begin(), exports.end()),
              (std::set<std::string>{"load_broken_second_export", "broken_second_export"}));

    // Not a library: an error, no names.
    const std::string text = ::testing::TempDir() + "not-a-library.so";
    std::ofstream(text) << "\x7f"
                           "ELF but nothing after";
    exports.clear();
    EXPECT_FALSE(ListExportedSymbols(text, exports, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ListExportedSymbols(::testing::TempDir() + "absent.so", exports, error));
    EXPECT_TRUE(exports.empty());
}

TEST(ValidateForge, ReplaysFromItsSeed) {
    ApiExportFunctionEntry entry{};
    entry.pathTemplate = "/items/{id}/parts/{rest}";
    entry.method = 3;
    const auto draw = [&](std::uint64_t seed) {
        HostileForge forge(seed);
        std::vector<std::string> summaries;
        for (int i = 0; i < 50; ++i) {
            summaries.push_back(forge.RequestFor(entry).summary);
        }
        return summaries;
    };
    EXPECT_EQ(draw(7), draw(7));
    EXPECT_NE(draw(7), draw(8));
}

// The framework's converter meets every forged value: each is converted or
// refused with an error, none crashes it.
TEST(ValidateForge, ValuesAreConvertedOrRefusedByTheFramework) {
    HostileForge forge(42);
    std::size_t refused = 0;
    for (int i = 0; i < 600; ++i) {
        const HostValue value = i % 2 == 0 ? forge.Value() : forge.EventPayload("/a/b/c");
        BindingProperty out;
        std::string error;
        if (!PropertyFromHostValue(out, value, "<forged>", error)) {
            EXPECT_FALSE(error.empty());
            ++refused;
        }
        if (i % 50 == 49) {
            forge.Clear();
        }
    }
    // Hostile enough that some are refused, tame enough that most are not.
    EXPECT_GT(refused, 0u);
    EXPECT_LT(refused, 300u);
}

constexpr auto kGet = static_cast<std::uint32_t>(HttpMethod::Get);
constexpr auto kPost = static_cast<std::uint32_t>(HttpMethod::Post);

std::string Send(ValidationHost& host, std::uint32_t method, const char* target,
                 std::string* streamed = nullptr) {
    HostRequest request{};
    request.method = method;
    request.target = target;
    HostResponse response{};
    HostInterface* table = host.Connection()->host;
    table->hostSendRequest(table, &response, &request);
    const char* error = response.error;
    std::string text = std::to_string(response.status) + (error != nullptr ? " " : "") +
                       (error != nullptr ? error : "");
    const HostStreamReadFn read = response.streamRead;
    if (read != nullptr) {
        std::string ignored;
        streamed = streamed != nullptr ? streamed : &ignored;
        char buffer[256];
        for (int reads = 0; reads < 3; ++reads) {
            std::uint32_t length = sizeof buffer;
            std::uint8_t more = 1;
            const bool ok = read(response.streamContext, buffer, &length, &more) != 0;
            *streamed += ok ? std::string(buffer, length) : "<broken>";
            if (!ok) {
                break;
            }
        }
        response.streamClose(response.streamContext);
    }
    const HostResponseReleaseFn release = response.release;
    if (release != nullptr) {
        release(&response);
    }
    return text;
}

TEST(ValidateHost, AnswersRequestsAsItsFaultSays) {
    struct Row {
        RequestFault fault;
        const char* get;
        const char* post;
        const char* stream;
    };
    const Row rows[] = {
        {RequestFault::None, "200", "200", ""},
        {RequestFault::Error, "503 validation host: request refused",
         "503 validation host: request refused", ""},
        {RequestFault::Nothing, "0", "0", ""},
        {RequestFault::BrokenStream, "200", "200", "{\"items\": [1, 2, <broken>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.fault));
        ValidationHost host;
        BindingProperty value;
        value.SetString("v");
        host.SetResource("/a/b", value);
        host.requestFault = row.fault;
        std::string streamed;
        EXPECT_EQ(Send(host, kGet, "/a/b", &streamed), row.get);
        EXPECT_EQ(streamed, row.stream);
        EXPECT_EQ(Send(host, kPost, "/anything"), row.post);
        EXPECT_EQ(host.Requests(), 2u);
        EXPECT_EQ(ValidationHost::Unreleased(), 0u);
        EXPECT_EQ(host.OpenStreams(), 0u);
    }
    ValidationHost host;
    EXPECT_EQ(Send(host, kGet, "/absent"), "404 Not found: /absent");
}

std::vector<std::string> ran;

TEST(ValidateHost, RunsCallbacksInVirtualTimeAndRecordsCallsAfterClose) {
    ran.clear();
    ValidationHost host;
    HostInterface* table = host.Connection()->host;
    const auto callback = [](void* context) { ran.push_back(static_cast<const char*>(context)); };
    table->hostScheduleCallback(table, "late", callback, const_cast<char*>("late"), 90, 0);
    table->hostScheduleCallback(table, "soon", callback, const_cast<char*>("soon"), 10, 0);
    table->hostScheduleCallback(table, "odd", callback, const_cast<char*>("odd"), -5, 0);
    EXPECT_EQ(host.Advance(60, 100), 2u);
    EXPECT_EQ(ran, (std::vector<std::string>{"odd", "soon"}));
    EXPECT_EQ(host.Pending(), 1u);

    const auto onEvent = [](HostEvent*) {};
    table->hostSubscribe(table, "E", 1, onEvent, nullptr, 0);
    table->hostUnsubscribe(table, "E", 1);
    EXPECT_TRUE(host.Subscriptions().empty());
    EXPECT_EQ(host.EverSubscribed().size(), 1u);

    host.Close();
    table->hostLog(table, 2, "after");
    table->hostScheduleCallback(table, "after", callback, nullptr, 0, 0);
    EXPECT_EQ(host.Violations(), (std::vector<std::string>{"hostLog after Shutdown",
                                                           "hostScheduleCallback after Shutdown"}));
    EXPECT_EQ(host.TakeAll().size(), 1u);  // the one from before Close
    EXPECT_TRUE(host.Logs().empty());
}

TEST(HostValidate, WritesOneJsonDocumentAndExitsByTheVerdicts) {
    const Outcome good = RunHost(
        {"validate", "--plugin", TAVO_PLUGIN, "--json", "--seed", "5", "--only", "load,export.*"});
    EXPECT_EQ(good.status, 0) << good.out << good.err;
    BindingResult parsed = ParseJson(good.out);
    ASSERT_TRUE(parsed.IsOk()) << good.out;
    const BindingProperty& document = parsed.Value();
    EXPECT_EQ(document.Find("seed").GetUnsigned(), 5u);
    std::vector<std::string> names;
    for (const BindingProperty& check : document.Find("checks").Elements()) {
        names.emplace_back(check.Find("name").GetString());
        EXPECT_EQ(check.Find("verdict").GetString(), "pass") << check.Find("reason").GetString();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"load.exports", "load.record",
                                               "load.incompatible-version", "export.integrity"}));
    EXPECT_EQ(document.Find("summary").Find("passed").GetUnsigned(), 4u);

    const Outcome broken = RunHost({"validate", "--plugin", TAVO_BROKEN_SECOND_EXPORT_PLUGIN,
                                    "--seed", "5", "--only", "load.exports"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("FAIL  load.exports: exports more than load_broken_second_export: "
                              "broken_second_export  [replay: --seed 5 --only load.exports]\n"),
              std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("1 checks: 0 passed, 1 failed, 0 skipped (seed 5)\n"),
              std::string::npos);

    const Outcome none = RunHost({"validate", "--only", "no-such-check"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no check matches"), std::string::npos);
}

// The hidden mode a ulm-host started by another runs one check in: the
// report on standard output, the check's verdict as the exit status.
TEST(HostValidate, RunsOneCheckInProcessForAParentThatCannotFork) {
    const Outcome one = RunHost({"validate", "--run-one", "load.exports", "--plugin", TAVO_PLUGIN});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "verdict\tpass\texports only load_vex_heartbeat\n");

    const Outcome failing = RunHost(
        {"validate", "--run-one", "load.exports", "--plugin", TAVO_BROKEN_SECOND_EXPORT_PLUGIN});
    EXPECT_EQ(failing.status, 1);
    EXPECT_EQ(failing.out.rfind("verdict\tfail\texports more than", 0), 0u) << failing.out;

    const Outcome unknown = RunHost({"validate", "--run-one", "no.such"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("no check is named 'no.such'"), std::string::npos);
}

}  // namespace
