#pragma once
// The host's virtual clock and its queue of scheduled plugin callbacks.
//
// Virtual time counts nanoseconds from the start of a run (printed to the
// millisecond). It moves only when the runner moves it, never with real time,
// and nothing here waits; the plugin's own clocks follow it during a run
// (host/VirtualClock.h), so a tick asking for the next one a period later
// lands exactly one period after it.
//
// A callback is due at the virtual time of its scheduling plus its delay.
// Callbacks due at the same time keep their scheduling order.
//
// Threading: guarded by a mutex, since plugins may schedule from any thread;
// callbacks themselves are run by the caller of TakeDue, never under the
// lock. [any-thread]

#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "abi/HostAbi.h"

namespace Tavo::Host {

// Nanoseconds since the run began.
using VirtualTime = std::int64_t;

inline constexpr VirtualTime kNanosecondsPerMillisecond = 1000000;
inline constexpr VirtualTime kNanosecondsPerSecond = 1000000000;
// The longest delay the clock represents (about 73 years); longer ones are
// cut to it, so that due times never overflow.
inline constexpr VirtualTime kMaxDelay = std::numeric_limits<VirtualTime>::max() / 4;

// "+HH:MM:SS.mmm", milliseconds truncated; hours grow past two digits when
// needed ("+123:00:00.000"). A negative time prints with "-".
std::string FormatVirtualTime(VirtualTime time);

// A delay in seconds as nanoseconds, rounded to the nearest one. A delay
// that is negative or not a number counts as 0; a longer one than kMaxDelay
// as kMaxDelay.
VirtualTime DelayToVirtualTime(double seconds);

// One callback a plugin handed to hostScheduleCallback.
struct PendingCallback {
    VirtualTime due = 0;
    std::uint64_t sequence = 0;  // 1, 2, ... in scheduling order
    std::string description;     // the plugin's, copied
    HostScheduledCallback callback = nullptr;
    void* context = nullptr;  // the plugin's; passed back unchanged
    double delaySeconds = 0;  // as the plugin asked
};

class Scheduler {
public:
    VirtualTime Now() const;
    // Moves the clock to `time` (at most kMaxDelay); never backwards.
    void AdvanceTo(VirtualTime time);

    // Queues `callback(context)` at Now() + the delay. Returns the queued
    // record (a copy).
    PendingCallback Schedule(std::string description, HostScheduledCallback callback, void* context,
                             double delaySeconds);

    // The due time of the earliest queued callback; empty when none.
    std::optional<VirtualTime> NextDue() const;
    // Removes and returns the earliest callback due at or before `time` whose
    // sequence is below `before`; empty when there is none.
    std::optional<PendingCallback> TakeDue(
        VirtualTime time, std::uint64_t before = std::numeric_limits<std::uint64_t>::max());
    // The sequence the next Schedule will use.
    std::uint64_t NextSequence() const;
    // Drops every queued callback; returns how many there were.
    std::size_t Clear();
    std::size_t Size() const;

private:
    struct Earlier {
        bool operator()(const PendingCallback& a, const PendingCallback& b) const {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        }
    };

    mutable std::mutex mutex_;  // guards everything below
    VirtualTime now_ = 0;
    std::uint64_t nextSequence_ = 1;
    std::set<PendingCallback, Earlier> queue_;
};

}  // namespace Tavo::Host
