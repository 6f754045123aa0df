#pragma once
// The few operating-system calls the framework needs, behind one header.
// Each function has one implementation per operating system
// (PlatformPosix.cpp here; a Windows build adds PlatformWin32.cpp).
// Everything here is callable from any thread unless stated otherwise.

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace Tavo::Platform {

// Locks. The standard library's mutexes are the platform's critical sections.
using Mutex = std::mutex;
using RecursiveMutex = std::recursive_mutex;

// Characters that separate directories in a module path on this platform.
#if defined(_WIN32)
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

// The clocks below are the system's, or the development host's when the
// executable offers one (platform/DevClock.h); the choice is made once.
// True when they follow the development host's clock.
bool UsingDevClock();

// Nanoseconds on a clock that never goes backwards; its zero is arbitrary.
std::int64_t MonotonicNanoseconds();

// Wall-clock time in 100-nanosecond units since 1970-01-01 00:00:00 UTC.
std::int64_t WallClock100ns();

// Broken-down calendar time. month 1..12, day 1..31.
struct CalendarTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The current local time, with milliseconds.
CalendarTime LocalTimeNow();

// `secondsSince1970` as UTC (millisecond 0). Returns false when the platform
// cannot represent the instant; `out` is then left unchanged.
bool UtcFromSeconds(std::int64_t secondsSince1970, CalendarTime& out);

// A high-resolution counter and its ticks per second (never 0).
std::uint64_t HighResolutionCounter();
std::uint64_t HighResolutionFrequency();

// Numeric id of the calling thread.
std::uint32_t CurrentThreadId();

// Writes the running executable's full path (NUL-terminated, cut to fit) into
// `buffer` and returns its length; 0 when it cannot be read.
std::size_t ExecutablePath(char* buffer, std::size_t capacity);

// Sends `text` to an attached debugger's output channel. On platforms without
// one it writes nowhere.
void DebuggerOutput(const char* text);

// Reserves and commits `bytes` (a multiple of kRegionSize) of read-write
// memory aligned to kRegionSize. Returns null when the system refuses.
inline constexpr std::size_t kRegionSize = 64 * 1024;
void* ReserveRegion(std::size_t bytes);
// Returns a region obtained from ReserveRegion with the same `bytes`.
void ReleaseRegion(void* region, std::size_t bytes);

// Ends the process at once, without unwinding or running exit handlers.
[[noreturn]] void FailFast();

}  // namespace Tavo::Platform
