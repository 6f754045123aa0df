#pragma once
// The clock ulm-host offers to the plugins it runs: while a run lasts, the
// plugin's monotonic and wall clocks follow the run's virtual time, so its
// timers and timestamps agree with the timeline to the nanosecond and two
// runs of one scenario print the same lines. The executable exports the
// provider the platform layer looks for (platform/DevClock.h); outside a run
// it reports the system's clocks.
//
// Threading: the plugin may read the clock from any thread. [any-thread]

#include <cstdint>

#include "Scheduler.h"
#include "platform/DevClock.h"

namespace Tavo::Host {

// The wall clock at the start of a run, in 100-nanosecond units since
// 1970-01-01 00:00:00 UTC, when the scenario does not fix one: now.
std::int64_t RealWallClock100ns();

// Lets the plugin's clocks follow `scheduler` while it lives: its monotonic
// clock reads the virtual time, its wall clock `wallAtStart100ns` plus the
// virtual time. One at a time per process; `scheduler` must outlive it.
class VirtualClockScope {
public:
    VirtualClockScope(const Scheduler& scheduler, std::int64_t wallAtStart100ns);
    ~VirtualClockScope();
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;

    const Scheduler& scheduler;
    const std::int64_t wallAtStart100ns;
};

}  // namespace Tavo::Host

// The provider the executable exports: the record of the functions above.
extern "C" TAVO_EXECUTABLE_EXPORT const Tavo::Platform::DevClock* ulm_dev_clock_v1();
