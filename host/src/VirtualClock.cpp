#include "VirtualClock.h"

#include <atomic>
#include <chrono>

#include "platform/DevClock.h"
#include "platform/Platform.h"

namespace Tavo::Host {
namespace {

// The run in progress; null between runs.
std::atomic<const VirtualClockScope*> g_run{nullptr};

std::int64_t MonotonicNow() {
    if (const VirtualClockScope* run = g_run.load(std::memory_order_acquire)) {
        return run->scheduler.Now();
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t WallNow() {
    if (const VirtualClockScope* run = g_run.load(std::memory_order_acquire)) {
        return run->wallAtStart100ns + run->scheduler.Now() / 100;
    }
    return RealWallClock100ns();
}

constexpr Platform::DevClock kClock{Platform::kDevClockVersion, &MonotonicNow, &WallNow};

}  // namespace

std::int64_t RealWallClock100ns() {
    using Units = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Units>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

VirtualClockScope::VirtualClockScope(const Scheduler& scheduler, std::int64_t wallAtStart100ns)
    : scheduler(scheduler), wallAtStart100ns(wallAtStart100ns) {
    g_run.store(this, std::memory_order_release);
}

VirtualClockScope::~VirtualClockScope() {
    g_run.store(nullptr, std::memory_order_release);
}

}  // namespace Tavo::Host

extern "C" TAVO_EXECUTABLE_EXPORT const Tavo::Platform::DevClock* ulm_dev_clock_v1() {
    return &Tavo::Host::kClock;
}
