#include "tests/framework/LogCapture.h"

#include "logging/LogManager.h"

namespace Tavo::Testing {

LogCapture::LogCapture() {
    LogManager::AddReference();
    savedMinimum_ = LogManager::MinimumLevel();
    LogManager::SetMinimumLevel(LogLevel::Okay);
    Configure(LogTargetSettings{LogLevel::Okay, 0, 0, "#M"});
}

LogCapture::~LogCapture() {
    Detach();
    LogManager::SetMinimumLevel(savedMinimum_);
    LogManager::Release();
}

bool LogCapture::Write(const LogRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(Line{record.level, record.groups, record.message});
    return true;
}

std::vector<LogCapture::Line> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool LogCapture::Contains(LogLevel level, std::string_view message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Line& line : lines_) {
        if (line.level == level && line.message == message) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> LogCapture::Matching(std::string_view part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> found;
    for (const Line& line : lines_) {
        if (line.message.find(part) != std::string::npos) {
            found.push_back(line.message);
        }
    }
    return found;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

}  // namespace Tavo::Testing
