// The clock functions of Platform.h: the system's clocks, or the development
// host's when the executable offers one (platform/DevClock.h).

#include <atomic>

#include "detail/SystemClocks.h"
#include "platform/DevClock.h"
#include "platform/Platform.h"

namespace Tavo::Platform {
namespace {

const DevClock* Resolve();

std::int64_t ResolvingMonotonic() {
    return Resolve()->monotonicNanoseconds();
}
std::int64_t ResolvingWallClock() {
    return Resolve()->wallClock100ns();
}

constexpr DevClock kResolving{kDevClockVersion, &ResolvingMonotonic, &ResolvingWallClock};
constexpr DevClock kSystem{kDevClockVersion, &detail::SystemMonotonicNanoseconds,
                           &detail::SystemWallClock100ns};

// Why: the choice is made once, lazily, because a clock may be read during
// static initialisation, before any other initialiser could have run; it
// starts at kResolving, whose functions make the choice and then forward.
// Threads that resolve at the same time store the same answer.
constinit std::atomic<const DevClock*> g_clock{&kResolving};

const DevClock* FromHost() {
    auto provider =
        reinterpret_cast<DevClockProvider>(detail::FindExecutableSymbol(kDevClockSymbol));
    const DevClock* clock = provider != nullptr ? provider() : nullptr;
    if (clock == nullptr || clock->version != kDevClockVersion ||
        clock->monotonicNanoseconds == nullptr || clock->wallClock100ns == nullptr) {
        return nullptr;
    }
    return clock;
}

const DevClock* Resolve() {
    const DevClock* host = FromHost();
    const DevClock* chosen = host != nullptr ? host : &kSystem;
    g_clock.store(chosen, std::memory_order_release);
    return chosen;
}

const DevClock* Clock() {
    const DevClock* clock = g_clock.load(std::memory_order_acquire);
    return clock != &kResolving ? clock : Resolve();
}

}  // namespace

std::int64_t MonotonicNanoseconds() {
    return g_clock.load(std::memory_order_acquire)->monotonicNanoseconds();
}

std::int64_t WallClock100ns() {
    return g_clock.load(std::memory_order_acquire)->wallClock100ns();
}

CalendarTime LocalTimeNow() {
    return detail::LocalFromWallClock100ns(WallClock100ns());
}

// The system counter has its own frequency; the host's clock counts in
// nanoseconds.
std::uint64_t HighResolutionCounter() {
    const DevClock* clock = Clock();
    return clock == &kSystem ? detail::SystemHighResolutionCounter()
                             : static_cast<std::uint64_t>(clock->monotonicNanoseconds());
}

std::uint64_t HighResolutionFrequency() {
    return Clock() == &kSystem ? detail::SystemHighResolutionFrequency() : 1'000'000'000;
}

bool UsingDevClock() {
    return Clock() != &kSystem;
}

}  // namespace Tavo::Platform
