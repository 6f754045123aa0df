// The log manager from several threads at once: records, targets attached and
// detached, references taken and dropped, settings changed. Built on its own
// (label "threads") so the ThreadSanitizer stage runs it.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "logging/Log.h"
#include "logging/LogManager.h"
#include "tests/logging/RecordingTarget.h"

namespace {

using Tavo::Log;
namespace LogGroup = Tavo::LogGroup;
using Tavo::LogLevel;
using Tavo::LogManager;
using TavoTest::RecordingTarget;
using Logging = TavoTest::RecordedLog;

TEST_F(Logging, ThreadsLogWholeRecords) {
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

// Targets come and go, references are taken and dropped and settings change
// while other threads log; each record reaches a target whole or not at all.
TEST_F(Logging, TargetsReferencesAndSettingsChangeWhileThreadsLog) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 3; ++t) {
        loggers.emplace_back([t, &stop] {
            for (int i = 0; !stop.load() || i < 100; ++i) {
                Log(LogLevel::Warn, LogGroup::DBG, "thread %d record %d", t, i);
            }
        });
    }
    RecordingTarget passing("passing");
    for (int round = 0; round < 200; ++round) {
        LogManager::AddReference();
        passing.Attach();
        LogManager::SetMutedGroups(round % 2 == 0 ? LogGroup::XTR : LogGroup::XTR | LogGroup::NET);
        (void)LogManager::FindTarget("passing");
        passing.Detach();
        LogManager::Release();
    }
    stop.store(true);
    for (auto& thread : loggers) {
        thread.join();
    }
    LogManager::SetMutedGroups(LogGroup::XTR);
    EXPECT_GE(target.seen.size(), 300u);
    for (const auto& seen : passing.seen) {
        ASSERT_EQ(seen.message.rfind("thread ", 0), 0u) << seen.message;
    }
}

}  // namespace
