// Logging: the manager's life by references, filtering, the target list, the
// group name table, line layout and the console sinks; diagnostics: assertion
// reports, fatal checks, UTC time stamps and the tracing enable computation.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "EventTracing.h"
#include "logging/Diagnostics.h"
#include "logging/Log.h"
#include "logging/LogManager.h"
#include "platform/Platform.h"
#include "tests/logging/RecordingTarget.h"

namespace {

using Tavo::Log;
using Tavo::LogLevel;
using Tavo::LogManager;
using Tavo::LogRecord;
namespace LogGroup = Tavo::LogGroup;
using TavoTest::FreshLogManager;
using TavoTest::RecordingTarget;
using Logging = TavoTest::RecordedLog;
using Reporting = TavoTest::RecordedLog;
using namespace Tavo::Diagnostics;

TEST(LogManager, FirstReferenceCreatesItWithTheConsoleTargets) {
    FreshLogManager manager;
    ASSERT_TRUE(LogManager::Exists());
    EXPECT_EQ(LogManager::AttachedTarget(0), LogManager::StdErrTarget());
    EXPECT_EQ(LogManager::AttachedTarget(1), LogManager::DebuggerTarget());
    EXPECT_EQ(LogManager::AttachedTarget(2), nullptr);
    EXPECT_FALSE(LogManager::StdOutTarget()->IsAttached());
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Warn);
    EXPECT_EQ(LogManager::MutedGroups(), LogGroup::XTR);
    // The executable's file name alone: cut after the last path separator.
    const std::string name = LogManager::ExecutableName();
    EXPECT_EQ(name, Tavo::Platform::kWindows ? "logging_tests.exe" : "logging_tests");
}

TEST(LogManager, LivesFromItsFirstUseToItsLastReleaseWhichDetachesEveryTarget) {
    RecordingTarget first("first");
    RecordingTarget second("second");
    {
        FreshLogManager manager;
        LogManager::AddReference();  // a second user
        first.Attach();
        second.Attach();
        LogManager::SetMinimumLevel(LogLevel::Okay);
        LogManager::Release();
        EXPECT_TRUE(LogManager::Exists());
        EXPECT_TRUE(first.IsAttached());
    }
    EXPECT_FALSE(LogManager::Exists());
    EXPECT_FALSE(first.IsAttached());
    EXPECT_FALSE(second.IsAttached());
    // Releases without a reference are ignored; a new manager starts from the defaults.
    LogManager::Release();
    LogManager::Release();
    LogManager::AddReference();
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Warn);
    LogManager::Release();
    ASSERT_FALSE(LogManager::Exists());
    // A log call creates it without a reference, unless the record is dropped.
    Log(LogLevel::Okay, 0, "below the minimum level");
    EXPECT_FALSE(LogManager::Exists());             // a dropped record creates nothing
    Log(LogLevel::Warn, LogGroup::GEN, "created");  // GEN: no console target writes it
    EXPECT_TRUE(LogManager::Exists());
    LogManager::AddReference();
    LogManager::Release();
    EXPECT_FALSE(LogManager::Exists());
}

TEST_F(Logging, FiltersByLevelMutedGroupsAndTargetMasks) {
    const auto* stdErr = LogManager::StdErrTarget();
    const auto* debugger = LogManager::DebuggerTarget();
    const struct {
        const char* what;
        LogLevel level;
        std::uint64_t groups;
        bool passesManager, stdErrWrites, debuggerWrites;
    } rows[] = {
        // The manager's defaults: minimum Warn, XTR muted.
        {"below the minimum level", LogLevel::Okay, LogGroup::DBG, false, false, false},
        {"DBG reaches both consoles", LogLevel::Warn, LogGroup::DBG, true, true, true},
        {"GEN: excluded by stderr, not included by the debugger", LogLevel::Warn, LogGroup::GEN,
         true, false, false},
        {"no groups passes every mask", LogLevel::Error, 0, true, true, true},
        {"an excluded group wins over an included one", LogLevel::Warn,
         LogGroup::DBG | LogGroup::GEN, true, false, true},
        {"TST: included by neither console; include 0 takes all", LogLevel::Warn, LogGroup::TST,
         true, false, false},
        {"a muted group drops the record", LogLevel::Always, LogGroup::XTR | LogGroup::DBG, false,
         true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        target.seen.clear();
        Log(row.level, row.groups, "%s", row.what);
        EXPECT_EQ(target.seen.size(), row.passesManager ? 1u : 0u);
        LogRecord record;
        record.level = row.level;
        record.groups = row.groups;
        EXPECT_EQ(stdErr->Accepts(record), row.stdErrWrites);
        EXPECT_EQ(debugger->Accepts(record), row.debuggerWrites);
    }
}

TEST_F(Logging, SuspendDropsEverythingUntilResumedAndLongMessagesAreCut) {
    LogManager::Suspend();
    Log(LogLevel::Always, 0, "dropped");
    LogManager::Resume();
    Log(LogLevel::Always, 0, "kept %d", 2);
    Log(LogLevel::Warn, 0, "%s", std::string(5000, 'm').c_str());
    ASSERT_EQ(target.seen.size(), 2u);
    EXPECT_EQ(target.seen[0].message, "kept 2");
    EXPECT_EQ(target.seen[0].level, LogLevel::Always);
    EXPECT_EQ(target.seen[1].message, std::string(4095, 'm'));
}

TEST(LogManager, AttachesOnceAndDetachesWhereverTheTargetStands) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget a("a"), b("b"), c("c");
    a.Attach();
    b.Attach();
    LogManager::Attach(b);
    c.Attach();
    EXPECT_EQ(LogManager::AttachedTarget(1), &b);
    EXPECT_EQ(LogManager::AttachedTarget(3), nullptr);
    b.Detach();
    b.Detach();
    EXPECT_EQ(LogManager::AttachedTarget(0), &a);
    EXPECT_EQ(LogManager::AttachedTarget(1), &c);
    EXPECT_EQ(LogManager::FindTarget("c"), &c);
    EXPECT_EQ(LogManager::FindTarget("b"), nullptr);
    EXPECT_EQ(LogManager::FindTarget(nullptr), nullptr);
    {
        RecordingTarget shortLived("short");
        shortLived.Attach();
        EXPECT_EQ(LogManager::FindTarget("short"), &shortLived);
    }
    EXPECT_EQ(LogManager::AttachedTarget(2), nullptr);  // LogTarget detaches when destroyed
}

TEST(LogManager, TargetsMayLogAttachAndReleaseFromTheirWrite) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget echo("echo");
    echo.onWrite = [](const LogRecord& record) {
        Log(LogLevel::Warn, 0, "echo of %s", record.message);  // recursion is cut
    };
    echo.Attach();
    Log(LogLevel::Warn, 0, "x");
    EXPECT_EQ(echo.seen.size(), 4u);
    echo.Detach();

    RecordingTarget leaver("leaver"), after("after");
    leaver.onWrite = [&](const LogRecord&) {
        leaver.Detach();
        LogManager::Release();  // the manager's last reference, while offering
    };
    leaver.Attach();
    after.Attach();
    Log(LogLevel::Warn, 0, "last");
    EXPECT_EQ(leaver.seen.size(), 1u);
    EXPECT_EQ(after.seen.size(), 1u);  // the list moved under it, yet it got the record
    EXPECT_FALSE(LogManager::Exists());
    EXPECT_FALSE(after.IsAttached());
    LogManager::AddReference();  // what FreshLogManager releases
}

TEST(LogGroups, NamesMasksAndRegistersNewNames) {
    const struct {
        std::uint64_t mask;
        const char* names;
    } rows[] = {
        {0x41, "DBG;NET"},
        {0, ""},
        {0xFF, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
        {std::uint64_t{1} << 63, "???"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.names);
        EXPECT_EQ(LogManager::GroupNames(row.mask), row.names);
    }
    char small[6];
    EXPECT_EQ(LogManager::GroupNames(0x41, small, sizeof small), 5u);
    EXPECT_STREQ(small, "DBG;N");

    EXPECT_EQ(LogManager::GroupMask("NETWORK"), LogGroup::NET);
    EXPECT_EQ(LogManager::GroupMask("DBG"), LogGroup::DBG);
    EXPECT_EQ(LogManager::GroupMask("dbg") & 0xFF, 0u);  // case-sensitive: a new slot
    const std::uint64_t abc = LogManager::GroupMask("ABC");
    EXPECT_GE(abc, 0x100u);
    EXPECT_EQ(abc & (abc - 1), 0u);
    EXPECT_EQ(LogManager::GroupMask("ABCDEF"), abc);
    EXPECT_EQ(LogManager::GroupNames(abc), "ABC");
    EXPECT_EQ(LogManager::GroupMask(""), 0u);
    EXPECT_EQ(LogManager::GroupMask(nullptr), 0u);
}

// Fills the group table; true when the last slot was 63 and further names get 0.
bool FillGroupTable() {
    std::uint64_t last = 0;
    std::string lastName;
    for (int i = 0; i < 64; ++i) {
        const char name[4] = {'Z', char('A' + i / 26), char('a' + i % 26), '\0'};
        const std::uint64_t mask = LogManager::GroupMask(name);
        if (mask != 0) {
            last = mask;
            lastName = name;
        }
    }
    return last == (std::uint64_t{1} << 63) && LogManager::GroupMask("QQQ") == 0 &&
           LogManager::GroupNames(last) == lastName;
}

TEST(LogGroupsDeathTest, FullTableGivesTheEmptyMask) {
    // In a child process: filling the table would change the others' masks.
    EXPECT_EXIT(std::_Exit(FillGroupTable() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

LogRecord SampleRecord(const char* message = "Couldn't find timer named X") {
    LogRecord record;
    record.time = {2026, 12, 5, 9, 3, 7, 123};
    record.level = LogLevel::Warn;
    record.groups = LogGroup::DBG | LogGroup::NET;
    record.message = message;
    return record;
}

std::string Line(const char* format, const LogRecord& record = SampleRecord()) {
    char buffer[4096];
    const std::size_t length = LogManager::FormatLine(buffer, sizeof buffer, format, record);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}

// What "#E(#T)" writes for this thread.
std::string ExecutableAndThread() {
    char thread[16];
    std::snprintf(thread, sizeof thread, "%08X", unsigned(Tavo::Platform::CurrentThreadId()));
    return std::string(LogManager::ExecutableName()) + "(" + thread + ")";
}

TEST(LogTarget, ConfigureAppliesSettingsAndAttachesOnce) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target("PluginLogTarget");
    target.Configure({LogLevel::Error, 0x3, 0x2, "#M"});
    EXPECT_EQ(LogManager::FindTarget("PluginLogTarget"), &target);
    EXPECT_EQ(target.Level(), LogLevel::Error);
    EXPECT_EQ(target.IncludeMask(), 0x1u);
    EXPECT_EQ(target.ExcludeMask(), 0x2u);
    EXPECT_EQ(target.FormatText(), "#M");
    target.Configure({});
    EXPECT_EQ(LogManager::AttachedTarget(0), &target);
    EXPECT_EQ(LogManager::AttachedTarget(1), nullptr);
    EXPECT_EQ(target.FormatText(), "#D| #L| #G| #M");
}

TEST(LogLine, ReplacesEveryCode) {
    const struct {
        const char* format;
        std::string expected;
    } rows[] = {
        {"#D| #L| #G| #M",
         "2026-12-05T09:03:07.123|   WARN| DBG;NET| Couldn't find timer named X\n"},
        {"#E(#T): #L| #M", ExecutableAndThread() + ":   WARN| Couldn't find timer named X\n"},
        {"##M", "#M\n"},
        {"#Q", "Q\n"},
        {"ends with newline\n", "ends with newline\n"},
        {"", "\n"},
        {"trailing #", "trailing \n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(Line(row.format), row.expected);
    }
    LogRecord noGroups = SampleRecord();
    noGroups.groups = 0;
    const std::pair<LogLevel, const char*> tags[] = {{LogLevel::Okay, "[]  OKAY\n"},
                                                     {LogLevel::Error, "[] ERROR\n"},
                                                     {LogLevel::Always, "[]ALWAYS\n"},
                                                     {static_cast<LogLevel>(9), "[]   ???\n"}};
    for (const auto& [level, line] : tags) {
        noGroups.level = level;
        EXPECT_EQ(Line("[#G]#L", noGroups), line);
    }
    // "#H": "%06d.%03d" seconds and milliseconds since the first reading.
    const std::string elapsed = Line("#H");
    EXPECT_EQ(elapsed.find_first_not_of("0123456789."), 10u) << elapsed;  // then the newline
    EXPECT_EQ(elapsed.find('.'), 6u) << elapsed;
}

TEST(LogLine, LinesAndTimeTextsAreCutToTheirBuffer) {
    const std::string longMessage(5000, 'm');
    const std::string line = Line("#M", SampleRecord(longMessage.c_str()));
    EXPECT_EQ(line.size(), 4095u);
    EXPECT_EQ(line.back(), '\n');
    char small[8];
    EXPECT_EQ(LogManager::FormatLine(small, sizeof small, "#M", SampleRecord("abcdefghij")), 7u);
    EXPECT_STREQ(small, "abcdef\n");
    char one[1] = {'x'};
    EXPECT_EQ(LogManager::FormatLine(one, 1, "#M", SampleRecord()), 0u);
    EXPECT_EQ(one[0], '\0');
    char text[20];
    EXPECT_EQ(LogManager::FileNameDateTimeText(SampleRecord().time, text, sizeof text), 19u);
    EXPECT_STREQ(text, "2026-12-05T09-03-07");
    EXPECT_EQ(LogManager::DateTimeText(SampleRecord().time, text, 5), 4u);
    EXPECT_STREQ(text, "2026");
}

TEST(ConsoleTargets, StdErrAndStdOutWriteTheirRecordsAsFormattedLines) {
    FreshLogManager manager;
    LogManager::DebuggerTarget()->Detach();
    testing::internal::CaptureStderr();
    Log(LogLevel::Error, LogGroup::DBG, "disk %s", "full");
    Log(LogLevel::Error, LogGroup::GEN, "not for stderr");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              ExecutableAndThread() + ":  ERROR| disk full\n");

    LogManager::StdErrTarget()->Detach();
    LogManager::StdOutTarget()->SetFlushEachLine(1);
    LogManager::StdOutTarget()->Attach();
    testing::internal::CaptureStdout();
    Log(LogLevel::Warn, LogGroup::GEN, "general %d", 1);
    Log(LogLevel::Warn, LogGroup::DBG, "debug");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "general 1\n");
}

TEST(AssertionReport, ListsOnlyTheGivenParts) {
    const struct {
        const char* what;
        std::string actual;
        const char* expected;
    } rows[] = {
        {"code only", AssertionReport("ALE-8A14EBBK", nullptr, 0, nullptr, nullptr),
         "Assertion failed!\n\nExpression: ALE-8A14EBBK"},
        {"file and line", AssertionReport(nullptr, "a", 7, nullptr, nullptr),
         "Assertion failed!\n\nFile: a\nLine: 7\n\n"},
        {"empty texts count as missing", AssertionReport("", "", 0, "", ""),
         "Assertion failed!\n\n"},
        {"everything", AssertionReport("ALE-EECF0606", "m.cpp", 12, "Load", "bad version"),
         "Assertion failed!\n\nFile: m.cpp\nLine: 12\n\nFunction: Load\n\n"
         "Expression: ALE-EECF0606\n\nDescription: bad version"},
        {"description without expression", AssertionReport(nullptr, nullptr, 0, nullptr, "d"),
         "Assertion failed!\n\n\n\nDescription: d"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST_F(Reporting, LogsTheReportAtErrorWithGroupDbgAndContinues) {
    TAVO_REPORT("ALE-12345678", "value %d", 42);
    // A '%' in the report is text, not a format.
    Report("ALE-%s%n", nullptr, 0, nullptr, "%s", "100%");
    Report("ALE-00000000", nullptr, 0, nullptr, "%s", std::string(3000, 'd').c_str());
    ASSERT_EQ(target.seen.size(), 3u);
    EXPECT_EQ(target.seen[0].level, Tavo::LogLevel::Error);
    EXPECT_EQ(target.seen[0].groups, Tavo::LogGroup::DBG);
    const std::string& text = target.seen[0].message;
    EXPECT_EQ(text.rfind("Assertion failed!\n\nFile: ", 0), 0u);
    EXPECT_NE(text.find("Function: TestBody\n\nExpression: ALE-12345678\n\nDescription: value 42"),
              std::string::npos);
    EXPECT_EQ(target.seen[1].message,
              "Assertion failed!\n\nExpression: ALE-%s%n\n\nDescription: 100%");
    EXPECT_EQ(
        target.seen[2].message,  // the description is cut at 1023 characters
        "Assertion failed!\n\nExpression: ALE-00000000\n\nDescription: " + std::string(1023, 'd'));
}

TEST(FatalCheckDeathTest, LogsTheReportThenEndsTheProcess) {
    EXPECT_EXIT(
        {
            TavoTest::FreshLogManager manager;
            TAVO_FATAL(kIncompatibleHostApi, "host API %s", "17.0.0");
        },
        [](int status) { return status != 0; },  // anything but a clean exit
        // Plain regex syntax: GoogleTest's own engine on Windows has no groups.
        "ERROR\\| Assertion failed!\n\nFile: .+\nLine: .+\n\nFunction: .+\n\n"
        "Expression: ALE-EECF0606\n\nDescription: host API 17\\.0\\.0");
}

std::string g_lastCode;
std::string g_lastExpression;

TEST_F(Reporting, AssertionHandlerCanBeReplacedAndRestored) {
    const AssertionHandler previous = SetAssertionHandler(
        [](const char* code, const char* expression, const char*, int, const char*) {
            g_lastCode = code;
            g_lastExpression = expression;
        });
    const int depth = 0;
    const int failedLine = __LINE__ + 1;
    TAVO_ASSERT(depth > 0);
    TAVO_ASSERT(depth == 0);
    EXPECT_EQ(g_lastExpression, "depth > 0");
    EXPECT_EQ(g_lastCode, CheckCodeAt(__FILE__, failedLine).text);
    EXPECT_TRUE(target.seen.empty());
    SetAssertionHandler(previous);
    const int line = __LINE__ + 1;
    TAVO_ASSERT(depth > 1);  // the default reports and returns
    ASSERT_EQ(target.seen.size(), 1u);
    // The report layout, with the check's code as the expression and the
    // condition as the description.
    EXPECT_EQ(target.seen[0].message,
              std::string("Assertion failed!\n\nFile: ") + __FILE__ +
                  "\nLine: " + std::to_string(line) + "\n\nFunction: TestBody\n\nExpression: " +
                  CheckCodeAt(__FILE__, line).text + "\n\nDescription: depth > 1");
}

// Codes name a place without its folder: eight upper-case hex digits after
// "ALE-", the same for one file name and line wherever the file sits, and
// apart for other lines and files.
TEST(CheckCode, NamesThePlaceByFileNameAndLine) {
    constexpr CheckCode code = CheckCodeAt("/src/binding/BindingRegistry.cpp", 389);
    static_assert(code.text[12] == '\0');
    // FNV-1a of "BindingRegistry.cpp:389".
    char expected[16];
    std::snprintf(expected, sizeof expected, "ALE-%08X", Tavo::Fnv1a32("BindingRegistry.cpp:389"));
    EXPECT_STREQ(code.text, expected);
    EXPECT_STREQ(CheckCodeAt("BindingRegistry.cpp", 389).text, code.text);
    EXPECT_STREQ(CheckCodeAt("C:\\work\\binding\\BindingRegistry.cpp", 389).text, code.text);
    EXPECT_STRNE(CheckCodeAt("BindingRegistry.cpp", 390).text, code.text);
    EXPECT_STRNE(CheckCodeAt("BindingRegistry.cc", 389).text, code.text);
    std::snprintf(expected, sizeof expected, "ALE-%08X", Tavo::Fnv1a32("x:0"));
    EXPECT_STREQ(CheckCodeAt("x", 0).text, expected);
}

TEST_F(Reporting, FormatUtcTimeGivesSecondsSince1970OrReportsAndGivesEmptyText) {
    EXPECT_EQ(FormatUtcTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcTime(1796462296), "2026-12-05T09:18:16Z");
    EXPECT_TRUE(target.seen.empty());
    EXPECT_EQ(FormatUtcTime(std::numeric_limits<std::int64_t>::max()), "");
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].message, "Assertion failed!\n\nExpression: ALE-8A14EBBK");
}

TEST(EventTracing, ProvidersAreRegisteredAtLoadExactlyWhereTheSystemHasTracing) {
    EXPECT_EQ(RegisteredTraceProviders(),
              Tavo::Platform::kWindows ? kTraceProviderCount : std::size_t{0});
    StartEventTracing();  // once only: a second start registers nothing more
    EXPECT_EQ(RegisteredTraceProviders(),
              Tavo::Platform::kWindows ? kTraceProviderCount : std::size_t{0});
    // No tracing session enables the thread-name event here.
    EXPECT_FALSE(WriteThreadNameEvent("worker"));
}

TEST(EventTracing, EventEnabledByLevelAndKeywords) {
    const struct {
        const char* what;
        std::uint8_t eventLevel;
        std::uint64_t keyword;
        std::uint8_t providerLevel;
        std::uint64_t any, all;
        bool enabled;
    } rows[] = {
        // Level test only for events without keywords.
        {"no keywords, level within", 4, 0, 5, 0, 0, true},
        {"no keywords, level above", 5, 0, 4, 0, 0, false},
        {"provider level 0 takes every level", 5, 0, 0, 0, 0, true},
        // Keywords must meet the any-mask and hold the whole all-mask.
        {"keyword in any", 0, 0x1, 0, 0x1, 0, true},
        {"keyword outside any", 0, 0x2, 0, 0x1, 0, false},
        {"any 0 enables no keyworded event", 0, 0x1, 0, 0, 0, false},
        {"all-mask held", 0, 0x3, 0, 0x1, 0x3, true},
        {"all-mask not held", 0, 0x1, 0, 0x1, 0x3, false},
        {"keywords fine, level above", 3, 0x1, 2, 0x1, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TraceEventDescriptor event;
        event.level = row.eventLevel;
        event.keyword = row.keyword;
        EXPECT_EQ(TraceEventEnabled(event, row.providerLevel, row.any, row.all), row.enabled);
    }
}

TEST(EventTracing, CallbackStoresOrClearsTheProviderState) {
    const TraceEventDescriptor events[] = {kThreadNameEvent, {1, 0, 0, 5, 0, 0, 0}};
    bool enabled[2] = {};
    TraceProviderState state;
    OnTraceEnableCallback(state, events, enabled, kTraceControlEnable, 4, 0x1, 0);
    EXPECT_TRUE(state.enabled);
    EXPECT_EQ(state.level, 4);
    EXPECT_TRUE(enabled[0]);
    EXPECT_FALSE(enabled[1]);                                   // level 5 above 4
    OnTraceEnableCallback(state, events, enabled, 2, 0, 0, 0);  // other codes change nothing
    EXPECT_TRUE(state.enabled);
    EXPECT_TRUE(enabled[0]);
    OnTraceEnableCallback(state, events, enabled, kTraceControlDisable, 4, 0x1, 0);
    EXPECT_FALSE(state.enabled);
    EXPECT_EQ(state.level, 0);
    EXPECT_FALSE(enabled[0]);
}

}  // namespace
