#pragma once
// Captures the log records of a test:
//
//   Tavo::Testing::LogCapture log;        // attached from here on, every level and group
//   ... code that logs ...
//   EXPECT_TRUE(log.Contains(Tavo::LogLevel::Warn, "Couldn't find timer named T"));
//
// Holds its own reference on the log manager, so the manager (and this target)
// survive modules being destroyed meanwhile. Detached when destroyed.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LogTarget.h"

namespace Tavo::Testing {

class LogCapture : public LogTarget {
public:
    struct Line {
        LogLevel level;
        std::uint64_t groups;
        std::string message;
    };

    LogCapture();
    ~LogCapture() override;

    const char* Name() const override { return "LogCapture"; }
    bool Write(const LogRecord& record) override;

    std::vector<Line> Lines() const;
    // Whether a record with exactly this level and message was captured.
    bool Contains(LogLevel level, std::string_view message) const;
    // The messages that contain `part`.
    std::vector<std::string> Matching(std::string_view part) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
    LogLevel savedMinimum_;
};

}  // namespace Tavo::Testing
