#pragma once
// The process-wide log manager: filters records, stamps them and offers them
// to the attached targets. One per process, counted by references:
//
//   Tavo::LogManager::AddReference();   // the module's constructor
//   ...
//   Tavo::LogManager::Release();        // its destructor; the last one stops logging
//
// The first reference (or the first log call, which takes none) creates the
// manager with its three console targets: StdErrLogTarget and
// DebuggerConsoleLogTarget attached, StdOutLogTarget not. The last release
// detaches every target (the last attached first) and destroys the console
// targets. All operations are static and reach that one manager.
//
// Everything here is guarded by the manager's recursive lock, which is held
// while a record is offered to the targets, so lines from different threads
// never interleave. A target's Write may log again or attach and detach
// targets; records nested more than four deep are dropped. A release from
// inside a Write takes effect when the outermost offering ends.

#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/Log.h"
#include "logging/LogTarget.h"

namespace Tavo {

class LogManager {
public:
    LogManager() = delete;

    // Version of the manager interface below.
    static constexpr std::int32_t kInterfaceVersion = 1;

    // Counts a user of the manager, creating it when there is none.
    // [any-thread]
    static void AddReference();
    // Drops a reference; at 0 the manager detaches every target and is
    // destroyed. A release without a reference is ignored. [any-thread]
    static void Release();
    // Whether the manager exists now. [any-thread]
    static bool Exists();

    // Records below this level are dropped (default Warn). [any-thread]
    static void SetMinimumLevel(LogLevel level);
    static LogLevel MinimumLevel();
    // Records with a group in this mask are dropped (default XTR). [any-thread]
    static void SetMutedGroups(std::uint64_t groups);
    static std::uint64_t MutedGroups();
    // While suspended every record is dropped. [any-thread]
    static void Suspend();
    static void Resume();
    static bool IsSuspended();

    // Appends `target` to the list unless it is attached already (creating
    // the manager if needed). The target must stay alive until it is
    // detached; destroying it detaches it. [any-thread]
    static void Attach(LogTarget& target);
    // Removes `target` from the list, keeping the order of the others;
    // nothing when it is not attached. [any-thread]
    static void Detach(LogTarget& target);
    // The first attached target whose name equals `name` (byte comparison),
    // or null. The pointer is valid while that target stays attached.
    // [any-thread]
    static LogTarget* FindTarget(const char* name);
    // The attached target at `index` in list order, or null past the end.
    // [any-thread]
    static LogTarget* AttachedTarget(std::size_t index);

    // The built-in console targets, or null when there is no manager. Valid
    // until the last release. [any-thread]
    static StdErrLogTarget* StdErrTarget();
    static StdOutLogTarget* StdOutTarget();
    static DebuggerConsoleLogTarget* DebuggerTarget();

    // The mask of the group named by the first three characters of `name`
    // (case-sensitive), registering the name in the next free slot when no
    // slot 0..last-used has it. Returns 0 for a null or empty name and when
    // all 64 slots are in use. Masks stay valid for the whole process.
    // [any-thread]
    static std::uint64_t GroupMask(const char* name);
    // The names of the set bits of `mask`, ascending, joined by ";" ("???"
    // for a slot without a name); the empty text for 0. Writes at most
    // `capacity` - 1 characters and a NUL; returns the length written.
    // [any-thread]
    static std::size_t GroupNames(std::uint64_t mask, char* buffer, std::size_t capacity);
    static std::string GroupNames(std::uint64_t mask);

    // Lays `record` out into `buffer` by `format`, copying it and replacing
    // "#D" (local date and time), "#E" (executable name), "#G" (group names),
    // "#H" (seconds since the high-resolution clock was first read,
    // "%06d.%03d"), "#L" (level tag), "#M" (message), "#T" (thread id, 8
    // upper-case hex digits); "#" and any other character gives that
    // character, a "#" at the end ends the line. A newline is appended unless
    // the line ends with one; a line that does not fit is cut so that text,
    // newline and NUL fit in `capacity`. Returns the line's length.
    // [any-thread]
    static std::size_t FormatLine(char* buffer, std::size_t capacity, const char* format,
                                  const LogRecord& record);
    // The six-character tag of `level` ("  OKAY", "  WARN", " ERROR",
    // "ALWAYS"; "   ???" for an invalid level). Static text. [any-thread]
    static const char* LevelTag(LogLevel level);
    // The running executable's file name, "<unknown>" until the manager has
    // read its path. Static storage, valid for the whole process.
    // [any-thread]
    static const char* ExecutableName();
    // The current local time. [any-thread]
    static LogTime CurrentTime();
    // "%04d-%02d-%02dT%02d:%02d:%02d.%03d" of `time`, and the variant for
    // file names "%04d-%02d-%02dT%02d-%02d-%02d". Return the length written
    // (cut to `capacity` - 1). [any-thread]
    static std::size_t DateTimeText(const LogTime& time, char* buffer, std::size_t capacity);
    static std::size_t FileNameDateTimeText(const LogTime& time, char* buffer,
                                            std::size_t capacity);

    // The log operation behind Tavo::Log. [any-thread]
    static void LogV(LogLevel level, std::uint64_t groups, const char* format,
                     std::va_list arguments) __attribute__((format(printf, 3, 0)));
};

}  // namespace Tavo
