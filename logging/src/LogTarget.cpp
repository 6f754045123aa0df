// LogTarget and the three console targets.

#include "logging/LogTarget.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "logging/LogManager.h"

namespace Tavo {

using Lock = std::lock_guard<Platform::RecursiveMutex>;

LogTarget::~LogTarget() {
    LogManager::Detach(*this);
}

void LogTarget::Detach() {
    LogManager::Detach(*this);
}

const char* LogTarget::Name() const {
    return "LogTarget";
}

std::string LogTarget::FormatText() const {
    Lock lock(mutex_);
    return format_;
}

void LogTarget::SetLevel(LogLevel level) {
    Lock lock(mutex_);
    level_ = level;
}

LogLevel LogTarget::Level() const {
    Lock lock(mutex_);
    return level_;
}

void LogTarget::SetGroups(std::uint64_t include, std::uint64_t exclude) {
    Lock lock(mutex_);
    include_ = include & ~exclude;
    exclude_ = exclude;
}

std::uint64_t LogTarget::IncludeMask() const {
    Lock lock(mutex_);
    return include_;
}

std::uint64_t LogTarget::ExcludeMask() const {
    Lock lock(mutex_);
    return exclude_;
}

void LogTarget::SetFormat(std::string format) {
    Lock lock(mutex_);
    format_ = std::move(format);
}

void LogTarget::Attach() {
    LogManager::Attach(*this);
}

void LogTarget::Configure(const LogTargetSettings& settings) {
    // The manager's lock is never taken while holding ours.
    Detach();
    {
        Lock lock(mutex_);
        level_ = settings.level;
        include_ = settings.includeMask;
        exclude_ = settings.excludeMask;
        format_ = settings.format;
    }
    Attach();
    SetLevel(settings.level);
    SetGroups(settings.includeMask, settings.excludeMask);
}

bool LogTarget::Accepts(const LogRecord& record) const {
    Lock lock(mutex_);
    if (static_cast<std::int32_t>(record.level) < static_cast<std::int32_t>(level_)) {
        return false;
    }
    if (record.groups == 0) {
        return true;  // a record without groups passes both masks
    }
    if ((record.groups & exclude_) != 0) {
        return false;
    }
    return include_ == 0 || (record.groups & include_) != 0;
}

std::size_t LogTarget::FormatLine(const LogRecord& record, char* buffer,
                                  std::size_t capacity) const {
    Lock lock(mutex_);
    return LogManager::FormatLine(buffer, capacity, format_.c_str(), record);
}

BaseConsoleLogTarget::~BaseConsoleLogTarget() {
    LogManager::Detach(*this);
}

const char* BaseConsoleLogTarget::Name() const {
    return "BaseConsoleLogTarget";
}

bool BaseConsoleLogTarget::WriteLine(const LogRecord& record,
                                     void (*sink)(const char* line, void* context), void* context) {
    char line[4096];
    Lock lock(Mutex());
    FormatLine(record, line, sizeof line);
    sink(line, context);
    return true;
}

namespace {

void ApplyDefaults(LogTarget& target, std::uint64_t include, std::uint64_t exclude,
                   const char* format) {
    target.SetLevel(LogLevel::Warn);
    target.SetGroups(include, exclude);
    target.SetFormat(format);
}

}  // namespace

StdErrLogTarget::StdErrLogTarget() {
    ApplyDefaults(*this, LogGroup::DBG, LogGroup::GEN, "#E(#T): #L| #M");
}

StdErrLogTarget::~StdErrLogTarget() {
    LogManager::Detach(*this);
}

const char* StdErrLogTarget::Name() const {
    return "StdErrLogTarget";
}

bool StdErrLogTarget::Write(const LogRecord& record) {
    return WriteLine(
        record, [](const char* line, void*) { std::fputs(line, stderr); }, nullptr);
}

void StdErrLogTarget::Flush() {
    std::fflush(stderr);
}

StdOutLogTarget::StdOutLogTarget() {
    ApplyDefaults(*this, LogGroup::GEN, LogGroup::DBG, "#M");
}

StdOutLogTarget::~StdOutLogTarget() {
    LogManager::Detach(*this);
}

const char* StdOutLogTarget::Name() const {
    return "StdOutLogTarget";
}

bool StdOutLogTarget::Write(const LogRecord& record) {
    return WriteLine(
        record,
        [](const char* line, void* self) {
            std::fputs(line, stdout);
            if (static_cast<StdOutLogTarget*>(self)->FlushEachLine() == 1) {
                std::fflush(stdout);
            }
        },
        this);
}

void StdOutLogTarget::Flush() {
    std::fflush(stdout);
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
    ApplyDefaults(*this, LogGroup::DBG, 0, "#E(#T): #L| #M");
}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() {
    LogManager::Detach(*this);
}

const char* DebuggerConsoleLogTarget::Name() const {
    return "DebuggerConsoleLogTarget";
}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
    return WriteLine(
        record, [](const char* line, void*) { Platform::DebuggerOutput(line); }, nullptr);
}

void DebuggerConsoleLogTarget::Flush() {}

}  // namespace Tavo
