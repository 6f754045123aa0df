#pragma once
// The log front end: levels, groups, the record handed to log targets, and
// `Tavo::Log`, through which all diagnostic output of the system goes.
//
//   Tavo::Log(Tavo::LogLevel::Error, Tavo::LogGroup::DBG, "vex-heartbeat: %s", text);
//
// The process-wide log manager (logging/LogManager.h) filters each record by
// level and muted groups, stamps it with the local time and offers it to every
// attached target (logging/LogTarget.h), which filters again and writes it.

#include <cstdarg>
#include <cstdint>

namespace Tavo {

// Severity of a record. A record passes a level filter when its level is at
// least the filter's. Only these four values are valid.
enum class LogLevel : std::int32_t {
    Okay = 0,
    Warn = 1,
    Error = 2,
    Always = 3,
};

// Group masks: bit i is the group in slot i of the manager's name table.
// Slots 0..7 are built in; LogManager::GroupMask registers more.
namespace LogGroup {
inline constexpr std::uint64_t DBG = 0x1;  // the framework's own diagnostics
inline constexpr std::uint64_t GEN = 0x2;
inline constexpr std::uint64_t XTR = 0x4;  // extra detail; muted by default
inline constexpr std::uint64_t PRF = 0x8;
inline constexpr std::uint64_t MEM = 0x10;
inline constexpr std::uint64_t DSK = 0x20;
inline constexpr std::uint64_t NET = 0x40;
inline constexpr std::uint64_t TST = 0x80;
}  // namespace LogGroup

// Local wall-clock time of a record.
struct LogTime {
    std::int32_t year = 0;
    std::int32_t month = 0;  // 1..12
    std::int32_t day = 0;    // 1..31
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::int32_t millisecond = 0;
};

// One accepted log call, as offered to the targets. `message` is the
// formatted text (NUL-terminated, at most 4095 characters); it and the record
// live only until the target's Write returns.
struct LogRecord {
    LogTime time;
    LogLevel level = LogLevel::Okay;
    std::uint64_t groups = 0;
    const char* message = "";
};

// Logs one record: dropped at once (no formatting, no allocation) while the
// manager is suspended, when `level` is below its minimum level or when
// `groups` shares a bit with its muted groups; otherwise `format` is expanded
// with printf rules (cut at 4095 characters) and the record is offered to the
// attached targets in order, under the manager's lock. Creates the manager on
// first use if no reference was taken yet. Never fails towards its caller.
// [any-thread]
void Log(LogLevel level, std::uint64_t groups, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Log with an argument list. [any-thread]
void LogV(LogLevel level, std::uint64_t groups, const char* format, std::va_list arguments)
    __attribute__((format(printf, 3, 0)));

}  // namespace Tavo
