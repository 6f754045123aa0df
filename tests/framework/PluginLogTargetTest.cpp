#include "PluginLogTarget.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging/Log.h"
#include "logging/LogManager.h"
#include "tests/framework/ModuleFixture.h"

namespace {

namespace LogGroup = Tavo::LogGroup;
using Tavo::LogLevel;
using Tavo::LogManager;
using Tavo::Testing::HostEntry;
using Tavo::Testing::LoadedModule;

TEST(PluginLogTarget, HandsLevelAndBareMessageToTheHost) {
    LoadedModule loaded;
    ASSERT_TRUE(loaded.Initialize());
    loaded.host.ClearCalls();
    Tavo::Log(LogLevel::Warn, LogGroup::DBG, "heartbeat %d failed", 3);
    Tavo::Log(LogLevel::Okay, LogGroup::GEN | LogGroup::NET, "okay");
    Tavo::Log(LogLevel::Always, 0, "always");
    Tavo::Log(LogLevel::Error, LogGroup::XTR, "extra detail");  // muted
    Tavo::Log(LogLevel::Error, LogGroup::NET | LogGroup::XTR, "still muted");
    EXPECT_THAT(loaded.host.Trace(),
                ::testing::ElementsAre("hostLog 1 'heartbeat 3 failed'", "hostLog 0 'okay'",
                                       "hostLog 3 'always'"));
}

TEST(PluginLogTarget, ReplacesTheConsoleTargetsOnce) {
    LoadedModule first;
    ASSERT_TRUE(first.Initialize());
    EXPECT_FALSE(LogManager::StdErrTarget()->IsAttached() ||
                 LogManager::StdOutTarget()->IsAttached() ||
                 LogManager::DebuggerTarget()->IsAttached());
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Okay);
    EXPECT_EQ(LogManager::MutedGroups(), LogGroup::XTR);
    Tavo::LogTarget* target = LogManager::FindTarget("PluginLogTarget");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Level(), LogLevel::Okay);
    EXPECT_EQ(target->FormatText(), "#D| #L| #G| #M");

    // A second module finds the target by name and changes nothing.
    LogManager::SetMinimumLevel(LogLevel::Warn);
    LoadedModule second;
    ASSERT_TRUE(second.Initialize());
    EXPECT_EQ(LogManager::FindTarget("PluginLogTarget"), target);
    EXPECT_EQ(LogManager::AttachedTarget(1), nullptr);
    EXPECT_EQ(LogManager::MinimumLevel(), LogLevel::Warn);
    first.host.ClearCalls();
    second.host.ClearCalls();
    Tavo::Log(LogLevel::Warn, LogGroup::DBG, "once");
    EXPECT_EQ(first.host.CountOf(HostEntry::Log), 1u);
    EXPECT_EQ(second.host.CountOf(HostEntry::Log), 0u);
}

TEST(PluginLogTarget, NoLineReachesTheHostAfterShutdown) {
    {
        LoadedModule loaded;
        ASSERT_TRUE(loaded.Initialize());
        LogManager::AddReference();  // keeps the log manager alive past the module
    }
    EXPECT_EQ(LogManager::FindTarget("PluginLogTarget"), nullptr);
    Tavo::Log(LogLevel::Error, LogGroup::DBG, "after shutdown");  // nothing to reach
    LogManager::Release();
}

}  // namespace
