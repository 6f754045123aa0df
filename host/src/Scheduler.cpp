#include "Scheduler.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace Tavo::Host {

std::string FormatVirtualTime(VirtualTime time) {
    const bool negative = time < 0;
    // Magnitude as unsigned, so that the most negative value prints too.
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(time) : static_cast<std::uint64_t>(time);
    const std::uint64_t totalMilliseconds = magnitude / kNanosecondsPerMillisecond;
    const std::uint64_t milliseconds = totalMilliseconds % 1000;
    const std::uint64_t seconds = totalMilliseconds / 1000 % 60;
    const std::uint64_t minutes = totalMilliseconds / 60000 % 60;
    const std::uint64_t hours = totalMilliseconds / 3600000;
    char text[48];
    std::snprintf(text, sizeof text, "%c%02llu:%02llu:%02llu.%03llu", negative ? '-' : '+',
                  static_cast<unsigned long long>(hours), static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(seconds),
                  static_cast<unsigned long long>(milliseconds));
    return text;
}

VirtualTime DelayToVirtualTime(double seconds) {
    if (std::isnan(seconds) || seconds <= 0) {
        return 0;
    }
    const double nanoseconds = std::round(seconds * static_cast<double>(kNanosecondsPerSecond));
    if (nanoseconds >= static_cast<double>(kMaxDelay)) {
        return kMaxDelay;
    }
    return static_cast<VirtualTime>(nanoseconds);
}

VirtualTime Scheduler::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void Scheduler::AdvanceTo(VirtualTime time) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (time > now_) {
        now_ = time < kMaxDelay ? time : kMaxDelay;
    }
}

PendingCallback Scheduler::Schedule(std::string description, HostScheduledCallback callback,
                                    void* context, double delaySeconds) {
    PendingCallback pending;
    pending.description = std::move(description);
    pending.callback = callback;
    pending.context = context;
    pending.delaySeconds = delaySeconds;
    std::lock_guard<std::mutex> lock(mutex_);
    // Both terms are at most kMaxDelay, so the sum cannot overflow.
    pending.due = now_ + DelayToVirtualTime(delaySeconds);
    pending.sequence = nextSequence_++;
    queue_.insert(pending);
    return pending;
}

std::optional<VirtualTime> Scheduler::NextDue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.begin()->due;
}

std::optional<PendingCallback> Scheduler::TakeDue(VirtualTime time, std::uint64_t before) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end() && it->due <= time; ++it) {
        if (it->sequence < before) {
            PendingCallback taken = *it;
            queue_.erase(it);
            return taken;
        }
    }
    return std::nullopt;
}

std::uint64_t Scheduler::NextSequence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return nextSequence_;
}

std::size_t Scheduler::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t count = queue_.size();
    queue_.clear();
    return count;
}

std::size_t Scheduler::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

}  // namespace Tavo::Host
