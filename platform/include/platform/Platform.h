#pragma once
// The few operating-system calls the framework needs, behind one header.
// Each function has one implementation per operating system
// (PlatformPosix.cpp here; a Windows build adds PlatformWin32.cpp).
// Everything here is callable from any thread unless stated otherwise.

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace Tavo::Platform {

// Locks. Mutex is constant-initialised (constexpr constructor) on every
// system, so a lock at namespace scope works during static initialisation.
// On Windows it is a slim reader/writer lock taken exclusively (not
// recursive; the C++ runtime's std::mutex has no constexpr constructor
// there); elsewhere the standard mutex already is one.
#if defined(_WIN32)
class Mutex {
public:
    constexpr Mutex() noexcept = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;

private:
    void* lock_ = nullptr;  // the SRWLOCK itself: one pointer, initially null
};
#else
using Mutex = std::mutex;
#endif
// Only ever constructed at run time (LogManager places it in static storage).
using RecursiveMutex = std::recursive_mutex;

// Characters that separate directories in a module path on this platform.
#if defined(_WIN32)
inline constexpr const char* kPathSeparators = "\\/";
inline constexpr bool kWindows = true;
#else
inline constexpr const char* kPathSeparators = "/";
inline constexpr bool kWindows = false;
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

// The C library's size of a heap block from malloc/realloc (at least the
// size asked for); 0 for null. [any-thread]
std::size_t HeapBlockSize(void* block);

// Memory figures of the running process, in bytes. Returns false (and leaves
// `out` unchanged) when the system cannot tell.
struct ProcessMemory {
    std::uint64_t workingSet = 0;      // resident now
    std::uint64_t peakWorkingSet = 0;  // largest resident size so far
    std::uint64_t privateBytes = 0;    // committed memory of this process alone
};
bool QueryProcessMemory(ProcessMemory& out);

// Operating-system event tracing, looked up at run time. Where the system has
// none, or its library or entry points are missing, registering fails and
// every call is a harmless no-op.
struct TraceGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
// Called by the system (on a thread of its own) when a session enables or
// disables the provider.
using TraceEnableCallback = void (*)(void* context, std::uint32_t controlCode, std::uint8_t level,
                                     std::uint64_t anyKeywords, std::uint64_t allKeywords);
// The event fields of one event; the same layout as TraceEventDescriptor.
struct TraceEvent {
    std::uint16_t id;
    std::uint8_t version;
    std::uint8_t channel;
    std::uint8_t level;
    std::uint8_t opcode;
    std::uint16_t task;
    std::uint64_t keyword;
};
// One payload field: `size` bytes at `data`.
struct TraceField {
    const void* data;
    std::uint32_t size;
};
// Whether the system's tracing entry points were found (looked up once).
bool TracingAvailable();
// Registers a provider; `*handle` receives its registration (0 on failure).
// `context` is passed to `callback`, which may run before this returns.
bool TraceRegister(const TraceGuid& provider, TraceEnableCallback callback, void* context,
                   std::uint64_t* handle);
// Writes one event; false when it was not written.
bool TraceWrite(std::uint64_t handle, const TraceEvent& event, const TraceField* fields,
                std::uint32_t count);
// Ends a registration from TraceRegister; 0 is ignored.
void TraceUnregister(std::uint64_t handle);

// Switches standard input, output and error to binary: bytes pass unchanged
// (no CR/LF translation, no end of input at Ctrl-Z). Nothing to do where the
// streams never translate. Call before the streams are used. [main-thread]
void UseBinaryStandardStreams();

// Ends the process at once, without unwinding or running exit handlers.
[[noreturn]] void FailFast();

}  // namespace Tavo::Platform
