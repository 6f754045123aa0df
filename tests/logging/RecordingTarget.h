#pragma once
// A log target that keeps what it is given, and a fixture around it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "logging/LogManager.h"
#include "logging/LogTarget.h"

namespace TavoTest {

struct SeenRecord {
    Tavo::LogLevel level;
    std::uint64_t groups;
    std::string message;
};

class RecordingTarget : public Tavo::LogTarget {
public:
    explicit RecordingTarget(const char* name = "RecordingTarget") : name_(name) {
        SetLevel(Tavo::LogLevel::Okay);
    }

    const char* Name() const override { return name_; }
    bool Write(const Tavo::LogRecord& record) override {
        seen.push_back({record.level, record.groups, record.message});
        if (onWrite) {
            onWrite(record);
        }
        return true;
    }

    std::vector<SeenRecord> seen;
    std::function<void(const Tavo::LogRecord&)> onWrite;

private:
    const char* name_;
};

// Starts the test on a newly created manager with one reference, whatever
// earlier tests left behind, and releases it at the end.
class FreshLogManager {
public:
    FreshLogManager() {
        Tavo::LogManager::AddReference();  // a manager made by a log call has no reference
        Tavo::LogManager::Release();
        Tavo::LogManager::AddReference();
    }
    ~FreshLogManager() { Tavo::LogManager::Release(); }

    // Detaches the console targets so tests write nowhere but where they look.
    static void Quiet() {
        Tavo::LogManager::StdErrTarget()->Detach();
        Tavo::LogManager::DebuggerTarget()->Detach();
    }
};

// A fresh, quiet manager with `target` as its only attached target.
class RecordedLog : public ::testing::Test {
protected:
    RecordedLog() {
        FreshLogManager::Quiet();
        target.Attach();
    }

    FreshLogManager manager;
    RecordingTarget target;
};

}  // namespace TavoTest
