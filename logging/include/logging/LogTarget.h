#pragma once
// Log targets: where accepted log records go. `LogTarget` is the abstract
// base every target derives from (the three console targets below, and the
// plugin's target that forwards records to the host); the manager
// (logging/LogManager.h) keeps the attached ones in order.
//
// Each target filters again by its own level and group masks, then writes.
// Lock order: the manager's lock, then a target's own lock. The manager calls
// Write with its lock held; operations that attach or detach a target take the
// manager's lock without holding the target's. Never log or attach while
// holding a target's lock from outside its Write.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/Log.h"
#include "platform/Platform.h"

namespace Tavo {

// A target's settings, applied in one step by LogTarget::Configure.
struct LogTargetSettings {
    LogLevel level = LogLevel::Warn;
    std::uint64_t includeMask = 0;
    std::uint64_t excludeMask = 0;
    std::string format = "#D| #L| #G| #M";
};

// The base of all targets. Not copyable; a target detaches itself when it is
// destroyed. A derived target whose Write uses its own members must call
// Detach() in its own destructor, so that no record reaches it once those
// members are gone.
//
// The format text lays out console lines (see LogManager::FormatLine); other
// targets may ignore it.
class LogTarget {
public:
    // Version of the target interface below.
    static constexpr std::int32_t kInterfaceVersion = 1;

    LogTarget(const LogTarget&) = delete;
    LogTarget& operator=(const LogTarget&) = delete;

    // Virtual slots, in this order (derived targets keep it):
    // 0: detaches the target first (non-virtually).
    virtual ~LogTarget();
    // 1: leaves the manager's list if attached; nothing otherwise.
    // [any-thread]
    virtual void Detach();
    // 2: the target's name, a static text ("LogTarget" here).
    // [any-thread]
    virtual const char* Name() const;
    // 3: a copy of the format text.
    // [any-thread]
    virtual std::string FormatText() const;
    // 4: writes an accepted record to the sink; returns whether it was
    // written. `record` lives until Write returns. Called with the manager's
    // lock held; must not throw.
    virtual bool Write(const LogRecord& record) = 0;

    // Minimum level of the records this target writes. Default Warn.
    // [any-thread]
    void SetLevel(LogLevel level);
    LogLevel Level() const;
    // Stores `include` without the bits of `exclude`, and `exclude` as given.
    // A record with groups is written only when they share no bit with the
    // exclude mask and, if the include mask is not 0, share one with it.
    // [any-thread]
    void SetGroups(std::uint64_t include, std::uint64_t exclude);
    std::uint64_t IncludeMask() const;
    std::uint64_t ExcludeMask() const;
    // Replaces the format text. [any-thread]
    void SetFormat(std::string format);

    // Joins the end of the manager's list (creating the manager if needed)
    // unless already attached. [any-thread]
    void Attach();
    bool IsAttached() const { return attached_.load(std::memory_order_acquire); }

    // Detaches the target if attached, stores level, masks and format,
    // attaches it, then applies the level and SetGroups(include, exclude).
    // [any-thread]
    void Configure(const LogTargetSettings& settings);

    // Whether this target's level and masks let `record` through.
    // [any-thread]
    bool Accepts(const LogRecord& record) const;

protected:
    LogTarget() = default;

    // Lays `record` out with this target's format into `buffer` (see
    // LogManager::FormatLine); returns the line's length.
    std::size_t FormatLine(const LogRecord& record, char* buffer, std::size_t capacity) const;

    // The target's own recursive lock: guards its settings; console targets
    // also hold it around the write to their sink.
    Platform::RecursiveMutex& Mutex() const { return mutex_; }

private:
    friend class LogManager;

    std::atomic<bool> attached_{false};  // changed under the manager's lock
    mutable Platform::RecursiveMutex mutex_;
    LogLevel level_ = LogLevel::Warn;
    std::uint64_t include_ = 0;
    std::uint64_t exclude_ = 0;
    std::string format_ = "#D| #L| #G| #M";
};

// Base of the console targets: adds Flush. Each writes one line per record,
// laid out by its format in a 4096-byte stack buffer (no heap allocation),
// under its own lock. Detaches itself when destroyed.
class BaseConsoleLogTarget : public LogTarget {
public:
    ~BaseConsoleLogTarget() override;
    const char* Name() const override;  // "BaseConsoleLogTarget"
    // 5: flushes the sink. [any-thread]
    virtual void Flush() = 0;

protected:
    BaseConsoleLogTarget() = default;
    // Formats `record` and hands the line to `sink` under the target's lock.
    bool WriteLine(const LogRecord& record, void (*sink)(const char* line, void* context),
                   void* context);
};

// Standard error. As the manager creates it: include DBG, exclude GEN,
// level Warn, format "#E(#T): #L| #M", attached.
class StdErrLogTarget final : public BaseConsoleLogTarget {
public:
    StdErrLogTarget();
    ~StdErrLogTarget() override;
    const char* Name() const override;  // "StdErrLogTarget"
    bool Write(const LogRecord& record) override;
    void Flush() override;
};

// Standard output. As the manager creates it: include GEN, exclude DBG,
// level Warn, format "#M", not attached, no flush after each line.
class StdOutLogTarget final : public BaseConsoleLogTarget {
public:
    StdOutLogTarget();
    ~StdOutLogTarget() override;
    const char* Name() const override;  // "StdOutLogTarget"
    bool Write(const LogRecord& record) override;
    void Flush() override;

    // Whether standard output is flushed after each line (default 0).
    // [any-thread]
    void SetFlushEachLine(std::int32_t flush) { flushEachLine_.store(flush); }
    std::int32_t FlushEachLine() const { return flushEachLine_.load(); }

private:
    std::atomic<std::int32_t> flushEachLine_{0};
};

// The debugger's output channel (writes nowhere where there is none). As the
// manager creates it: include DBG, exclude 0, level Warn,
// format "#E(#T): #L| #M", attached.
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
public:
    DebuggerConsoleLogTarget();
    ~DebuggerConsoleLogTarget() override;
    const char* Name() const override;  // "DebuggerConsoleLogTarget"
    bool Write(const LogRecord& record) override;
    void Flush() override;
};

}  // namespace Tavo
