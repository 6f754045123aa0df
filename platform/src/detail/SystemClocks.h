#pragma once
// What each operating system's implementation file provides to the clock
// functions of Platform.h, which choose between these and the development
// host's clock (platform/DevClock.h). Only platform/ includes this.

#include <cstdint>

#include "platform/Platform.h"

namespace Tavo::Platform::detail {

std::int64_t SystemMonotonicNanoseconds();
std::int64_t SystemWallClock100ns();
std::uint64_t SystemHighResolutionCounter();
std::uint64_t SystemHighResolutionFrequency();  // never 0

// The local calendar time of a wall-clock reading (100 ns units since 1970,
// UTC), with milliseconds. All fields 0 when the system cannot convert it.
CalendarTime LocalFromWallClock100ns(std::int64_t wallClock100ns);

// The address of a function the running executable exports under `name`, or
// null. (On POSIX the search covers the process's global scope, which also
// holds libraries loaded globally; nothing but a host exports these names.)
void* FindExecutableSymbol(const char* name);

}  // namespace Tavo::Platform::detail
