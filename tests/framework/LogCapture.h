#pragma once
// Captures every log record, of any level and group, while it lives:
//
//   Tavo::Testing::LogCapture log;
//   ... code that logs ...
//   EXPECT_TRUE(log.Contains(Tavo::LogLevel::Warn, Tavo::LogGroup::DBG | Tavo::LogGroup::NET,
//                            "Couldn't find timer named T"));
//
// Holds its own reference on the log manager, so the manager (and this target)
// survive modules destroyed meanwhile.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LogManager.h"
#include "logging/LogTarget.h"

namespace Tavo::Testing {

class LogCapture : public LogTarget {
public:
    struct Line {
        LogLevel level;
        std::uint64_t groups;
        std::string message;
    };

    LogCapture() {
        LogManager::AddReference();
        savedMinimum_ = LogManager::MinimumLevel();
        LogManager::SetMinimumLevel(LogLevel::Okay);
        Configure(LogTargetSettings{LogLevel::Okay, 0, 0, "#M"});
    }
    ~LogCapture() override {
        Detach();
        LogManager::SetMinimumLevel(savedMinimum_);
        LogManager::Release();
    }

    const char* Name() const override { return "LogCapture"; }
    bool Write(const LogRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(Line{record.level, record.groups, record.message});
        return true;
    }

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // Whether a record with exactly this level, group mask and message was captured.
    bool Contains(LogLevel level, std::uint64_t groups, std::string_view message) const {
        for (const Line& line : Lines()) {
            if (line.level == level && line.groups == groups && line.message == message) {
                return true;
            }
        }
        return false;
    }
    // The messages that contain `part`.
    std::vector<std::string> Matching(std::string_view part) const {
        std::vector<std::string> found;
        for (const Line& line : Lines()) {
            if (line.message.find(part) != std::string::npos) {
                found.push_back(line.message);
            }
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
    LogLevel savedMinimum_;
};

}  // namespace Tavo::Testing
