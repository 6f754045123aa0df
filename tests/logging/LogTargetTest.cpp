// Log targets: masks, configuration, line layout and the console sinks.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "logging/LogManager.h"
#include "logging/LogTarget.h"
#include "platform/Platform.h"
#include "tests/logging/RecordingTarget.h"

namespace {

using Tavo::LogLevel;
using Tavo::LogManager;
using Tavo::LogRecord;
namespace LogGroup = Tavo::LogGroup;
using TavoTest::FreshLogManager;
using TavoTest::RecordingTarget;

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

TEST(LogTarget, SetGroupsDropsExcludedBitsFromInclude) {
    RecordingTarget target;
    target.SetGroups(0x3, 0x2);
    EXPECT_EQ(target.IncludeMask(), 0x1u);
    EXPECT_EQ(target.ExcludeMask(), 0x2u);
}

TEST(LogTarget, AcceptsByLevelThenMasks) {
    RecordingTarget target;
    target.SetLevel(LogLevel::Warn);
    target.SetGroups(LogGroup::DBG | LogGroup::NET, LogGroup::GEN);
    struct Row {
        const char* what;
        LogLevel level;
        std::uint64_t groups;
        bool accepted;
    } rows[] = {
        {"below the level", LogLevel::Okay, LogGroup::DBG, false},
        {"included", LogLevel::Warn, LogGroup::NET, true},
        {"excluded wins over included", LogLevel::Error, LogGroup::DBG | LogGroup::GEN, false},
        {"not included", LogLevel::Always, LogGroup::TST, false},
        {"no groups", LogLevel::Warn, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LogRecord record;
        record.level = row.level;
        record.groups = row.groups;
        EXPECT_EQ(target.Accepts(record), row.accepted);
    }
    target.SetGroups(0, 0);
    LogRecord any;
    any.level = LogLevel::Warn;
    any.groups = LogGroup::TST;
    EXPECT_TRUE(target.Accepts(any));  // include 0 lets every group through
}

TEST(LogTarget, ConfigureAppliesSettingsAndAttaches) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target("PluginLogTarget");
    target.Configure({LogLevel::Error, 0x3, 0x2, "#M"});
    EXPECT_TRUE(target.IsAttached());
    EXPECT_EQ(LogManager::FindTarget("PluginLogTarget"), &target);
    EXPECT_EQ(target.Level(), LogLevel::Error);
    EXPECT_EQ(target.IncludeMask(), 0x1u);
    EXPECT_EQ(target.ExcludeMask(), 0x2u);
    EXPECT_EQ(target.FormatText(), "#M");
    target.Configure({});
    EXPECT_EQ(LogManager::AttachedTarget(0), &target);  // detached and attached again, once
    EXPECT_EQ(LogManager::AttachedTarget(1), nullptr);
    EXPECT_EQ(target.FormatText(), "#D| #L| #G| #M");
}

TEST(LogTarget, ConsoleTargetsHaveTheirDefaults) {
    FreshLogManager manager;
    struct Row {
        Tavo::LogTarget* target;
        const char* name;
        std::uint64_t include, exclude;
        const char* format;
    } rows[] = {
        {LogManager::StdErrTarget(), "StdErrLogTarget", 0x1, 0x2, "#E(#T): #L| #M"},
        {LogManager::StdOutTarget(), "StdOutLogTarget", 0x2, 0x1, "#M"},
        {LogManager::DebuggerTarget(), "DebuggerConsoleLogTarget", 0x1, 0, "#E(#T): #L| #M"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(row.target->Name(), row.name);
        EXPECT_EQ(row.target->Level(), LogLevel::Warn);
        EXPECT_EQ(row.target->IncludeMask(), row.include);
        EXPECT_EQ(row.target->ExcludeMask(), row.exclude);
        EXPECT_EQ(row.target->FormatText(), row.format);
    }
    EXPECT_EQ(LogManager::StdOutTarget()->FlushEachLine(), 0);
}

TEST(LogLine, ReplacesEveryCode) {
    char thread[16];
    std::snprintf(thread, sizeof thread, "%08X", unsigned(Tavo::Platform::CurrentThreadId()));
    const std::string exe = LogManager::ExecutableName();
    struct Row {
        const char* format;
        std::string expected;
    } rows[] = {
        {"#D| #L| #G| #M",
         "2026-12-05T09:03:07.123|   WARN| DBG;NET| Couldn't find timer named X\n"},
        {"#E(#T): #L| #M", exe + "(" + thread + "):   WARN| Couldn't find timer named X\n"},
        {"##M", "#M\n"},
        {"#Q", "Q\n"},
        {"ends with newline\n", "ends with newline\n"},
        {"", "\n"},
        {"a# b", "a b\n"},
        {"trailing #", "trailing \n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(Line(row.format), row.expected);
    }
    LogRecord noGroups = SampleRecord();
    noGroups.groups = 0;
    noGroups.level = LogLevel::Always;
    EXPECT_EQ(Line("[#G]#L", noGroups), "[]ALWAYS\n");
    // "#H": "%06d.%03d" seconds and milliseconds.
    const std::string elapsed = Line("#H");
    ASSERT_EQ(elapsed.size(), 11u) << elapsed;
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 7, 8, 9}) {
        EXPECT_TRUE(elapsed[i] >= '0' && elapsed[i] <= '9') << elapsed;
    }
    EXPECT_EQ(elapsed[6], '.');
}

TEST(LogLine, LevelTagsAreSixCharacters) {
    EXPECT_STREQ(LogManager::LevelTag(LogLevel::Okay), "  OKAY");
    EXPECT_STREQ(LogManager::LevelTag(LogLevel::Warn), "  WARN");
    EXPECT_STREQ(LogManager::LevelTag(LogLevel::Error), " ERROR");
    EXPECT_STREQ(LogManager::LevelTag(LogLevel::Always), "ALWAYS");
    EXPECT_STREQ(LogManager::LevelTag(static_cast<LogLevel>(9)), "   ???");
}

TEST(LogLine, LongLinesKeepRoomForNewlineAndNul) {
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
}

TEST(LogLine, DateTimeTexts) {
    char text[32];
    const Tavo::LogTime time{2026, 12, 5, 9, 3, 7, 123};
    EXPECT_EQ(LogManager::DateTimeText(time, text, sizeof text), 23u);
    EXPECT_STREQ(text, "2026-12-05T09:03:07.123");
    EXPECT_EQ(LogManager::FileNameDateTimeText(time, text, sizeof text), 19u);
    EXPECT_STREQ(text, "2026-12-05T09-03-07");
    EXPECT_EQ(LogManager::DateTimeText(time, text, 5), 4u);
    EXPECT_STREQ(text, "2026");
}

TEST(ConsoleTargets, StdErrWritesOneFormattedLine) {
    FreshLogManager manager;
    LogManager::DebuggerTarget()->Detach();
    testing::internal::CaptureStderr();
    Tavo::Log(LogLevel::Error, LogGroup::DBG, "disk %s", "full");
    Tavo::Log(LogLevel::Error, LogGroup::GEN, "not for stderr");
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        written, std::string(LogManager::ExecutableName()) + "(" + [] {
            char id[16];
            std::snprintf(id, sizeof id, "%08X", unsigned(Tavo::Platform::CurrentThreadId()));
            return std::string(id);
        }() + "):  ERROR| disk full\n");
}

TEST(ConsoleTargets, StdOutWritesGeneralRecords) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    auto* stdOut = LogManager::StdOutTarget();
    stdOut->SetFlushEachLine(1);
    stdOut->Attach();
    testing::internal::CaptureStdout();
    Tavo::Log(LogLevel::Warn, LogGroup::GEN, "general %d", 1);
    Tavo::Log(LogLevel::Warn, LogGroup::DBG, "debug");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "general 1\n");
}

}  // namespace
