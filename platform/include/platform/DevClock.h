#pragma once
// The development host's clock, which the platform clocks follow when the
// process offers one.
//
// A host program that runs plugins in virtual time exports the C function
// named kDevClockSymbol from its executable. On first use the clock functions
// of Platform.h look it up in the process (not in any loaded library); when it
// is there and returns a record of a version they know, MonotonicNanoseconds,
// WallClock100ns, LocalTimeNow and the high-resolution counter read it from
// then on; otherwise they read the system's clocks for the life of the
// process. Real hosts export no such function, so a plugin in them pays only
// the indirect call the choice is made through.

#include <cstdint>

// Marks a function of an executable as exported, so that libraries loaded
// into the process can look it up.
#if defined(_WIN32)
#define TAVO_EXECUTABLE_EXPORT __declspec(dllexport)
#else
#define TAVO_EXECUTABLE_EXPORT __attribute__((visibility("default")))
#endif

namespace Tavo::Platform {

inline constexpr const char* kDevClockSymbol = "ulm_dev_clock_v1";
inline constexpr std::uint32_t kDevClockVersion = 1;

// Owned by the host; must stay valid, with its functions callable from any
// thread, for the life of the process.
struct DevClock {
    std::uint32_t version;  // kDevClockVersion
    // Nanoseconds on a clock that never goes backwards.
    std::int64_t (*monotonicNanoseconds)();
    // 100-nanosecond units since 1970-01-01 00:00:00 UTC.
    std::int64_t (*wallClock100ns)();
};

extern "C" {
// The exported function's type: returns the host's clock record, or null to
// let the plugin use the system clocks.
typedef const DevClock* (*DevClockProvider)();
}

}  // namespace Tavo::Platform
