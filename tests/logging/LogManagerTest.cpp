// The log manager: its life by references, filtering, the target list and
// the group name table.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "logging/Log.h"
#include "logging/LogManager.h"
#include "tests/logging/RecordingTarget.h"

namespace {

using Tavo::Log;
using Tavo::LogLevel;
using Tavo::LogManager;
using Tavo::LogRecord;
namespace LogGroup = Tavo::LogGroup;
using TavoTest::FreshLogManager;
using TavoTest::RecordingTarget;

TEST(LogManager, FirstReferenceCreatesItWithTheConsoleTargets) {
    FreshLogManager manager;
    ASSERT_TRUE(LogManager::Exists());
    EXPECT_EQ(LogManager::AttachedTarget(0), LogManager::StdErrTarget());
    EXPECT_EQ(LogManager::AttachedTarget(1), LogManager::DebuggerTarget());
    EXPECT_EQ(LogManager::AttachedTarget(2), nullptr);
    EXPECT_FALSE(LogManager::StdOutTarget()->IsAttached());
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Warn);
    EXPECT_EQ(LogManager::MutedGroups(), LogGroup::XTR);
    EXPECT_STRNE(LogManager::ExecutableName(), "<unknown>");
    EXPECT_EQ(std::string(LogManager::ExecutableName()).find('/'), std::string::npos);
}

TEST(LogManager, LastReleaseDetachesEveryTargetAndDestroysIt) {
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
    // A new manager starts from the defaults.
    FreshLogManager again;
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Warn);
    EXPECT_EQ(LogManager::AttachedTarget(2), nullptr);
}

TEST(LogManager, ReleaseWithoutReferenceIsIgnored) {
    { FreshLogManager manager; }
    LogManager::Release();
    LogManager::Release();
    LogManager::AddReference();
    EXPECT_TRUE(LogManager::Exists());
    LogManager::Release();
    EXPECT_FALSE(LogManager::Exists());
}

TEST(LogManager, FirstLogCallCreatesItWithoutAReference) {
    { FreshLogManager manager; }
    ASSERT_FALSE(LogManager::Exists());
    Log(LogLevel::Okay, 0, "below the minimum level");
    EXPECT_FALSE(LogManager::Exists());             // a dropped record creates nothing
    Log(LogLevel::Warn, LogGroup::GEN, "created");  // GEN: no console target writes it
    EXPECT_TRUE(LogManager::Exists());
    LogManager::AddReference();
    LogManager::Release();
    EXPECT_FALSE(LogManager::Exists());
}

TEST(LogManager, FiltersByLevelMutedGroupsAndTargetMasks) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget everything;
    everything.Attach();
    const auto* stdErr = LogManager::StdErrTarget();
    const auto* debugger = LogManager::DebuggerTarget();
    struct Row {
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
        {"a muted group drops the record", LogLevel::Always, LogGroup::XTR | LogGroup::DBG, false,
         true, true},
        {"heartbeat groups", LogLevel::Error, LogGroup::DBG | LogGroup::NET, true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        everything.seen.clear();
        Log(row.level, row.groups, "%s", row.what);
        EXPECT_EQ(everything.seen.size(), row.passesManager ? 1u : 0u);
        LogRecord record;
        record.level = row.level;
        record.groups = row.groups;
        EXPECT_EQ(stdErr->Accepts(record), row.stdErrWrites);
        EXPECT_EQ(debugger->Accepts(record), row.debuggerWrites);
    }
}

TEST(LogManager, SuspendDropsEverythingUntilResumed) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    LogManager::Suspend();
    Log(LogLevel::Always, 0, "dropped");
    LogManager::Resume();
    Log(LogLevel::Always, 0, "kept %d", 2);
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].message, "kept 2");
    EXPECT_EQ(target.seen[0].level, LogLevel::Always);
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
    EXPECT_EQ(LogManager::FindTarget("short"), nullptr);  // detached when destroyed
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

TEST(LogManager, ThreadsLogWholeRecords) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                Log(LogLevel::Warn, LogGroup::DBG, "thread %d record %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(target.seen.size(), 800u);
    for (const auto& seen : target.seen) {
        ASSERT_EQ(seen.message.rfind("thread ", 0), 0u) << seen.message;
    }
}

TEST(LogManager, LongMessagesAreCutAt4095Characters) {
    FreshLogManager manager;
    FreshLogManager::Quiet();
    RecordingTarget target;
    target.Attach();
    const std::string longText(5000, 'm');
    Log(LogLevel::Warn, 0, "%s", longText.c_str());
    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].message.size(), 4095u);
}

TEST(LogGroups, NamesOfMasks) {
    struct Row {
        std::uint64_t mask;
        const char* names;
    } rows[] = {
        {0x41, "DBG;NET"},
        {0, ""},
        {0xFF, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
        {std::uint64_t{1} << 63, "???"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names);
        EXPECT_EQ(LogManager::GroupNames(row.mask), row.names);
    }
    char small[6];
    EXPECT_EQ(LogManager::GroupNames(0x41, small, sizeof small), 5u);
    EXPECT_STREQ(small, "DBG;N");
}

TEST(LogGroups, RegisteringFindsOrAddsASlot) {
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

}  // namespace
