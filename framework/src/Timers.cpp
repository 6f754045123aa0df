// Timers and scheduled tasks.
//
// The module has no thread: everything later is a one-shot host callback
// (ScheduleTask). A named timer is a chain of such tasks; each firing re-arms
// the chain one period after the handler started. Restarting a timer bumps
// its generation, so callbacks of the old chain, which the host cannot take
// back, find a newer generation and end there.

#include <cmath>
#include <cstdint>
#include <limits>

#include "framework/AppModule.h"
#include "framework/HostCallGuard.h"
#include "logging/Format.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace Tavo::Client {

namespace {

constexpr double kNanosecondsPerSecond = 1e9;
constexpr std::int64_t kMaxTime = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinTime = std::numeric_limits<std::int64_t>::min();

// now + seconds × 10^9, truncated; saturates instead of overflowing.
std::int64_t DueAfter(std::int64_t now, double seconds) {
    const double offset = seconds * kNanosecondsPerSecond;
    // 2^63 as a double; anything at or beyond it cannot be represented.
    constexpr double kLimit = 9223372036854775808.0;
    if (offset >= kLimit) {
        return kMaxTime;
    }
    if (offset <= -kLimit) {
        return kMinTime;
    }
    std::int64_t due = 0;
    if (__builtin_add_overflow(now, static_cast<std::int64_t>(offset), &due)) {
        return offset > 0 ? kMaxTime : kMinTime;
    }
    return due;
}

// Seconds from now until `due`; 0 when `due` is not in the future.
double DelayUntil(std::int64_t due, std::int64_t now) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(due, now, &difference)) {
        return due > now ? static_cast<double>(kMaxTime) / kNanosecondsPerSecond : 0.0;
    }
    const double delay = static_cast<double>(difference) / kNanosecondsPerSecond;
    return delay > 0 ? delay : 0.0;
}

}  // namespace

// The host's scheduled-task callback. `context` is a task token; a token
// whose module is gone resolves to nothing and the call does nothing.
// [any-thread & initialized]
extern "C" {
static void OnScheduledTask(void* context) {
    GuardHostCall("OnScheduledTask", [context] {
        CallbackLease lease = ResolveCallbackContext(context);
        if (!lease || lease.Payload() == 0) {
            return;
        }
        lease.Module()->RunScheduledTask(lease.Payload());
    });
}
}  // extern "C"

void AppModule::FireTimer(const std::string& name, std::uint64_t generation,
                          const std::function<void()>& handler) {
    bool found = false;
    {
        std::lock_guard<Platform::Mutex> lock(timerMutex_);
        auto it = timers_.find(name);
        if (it != timers_.end()) {
            if (it->second.generation != generation) {
                return;  // restarted: this firing belongs to the old chain
            }
            // Before the handler, so the next firing is one period after it started.
            it->second.due = DueAfter(Platform::MonotonicNanoseconds(), it->second.period);
            found = true;
        }
    }
    if (!found) {
        Log(LogLevel::Warn, LogGroup::DBG | LogGroup::NET, "Couldn't find timer named %s",
            name.c_str());
        return;
    }
    handler();
    // The handler may have stopped, restarted or replaced the timer: look again.
    std::function<void()> callback;
    std::int64_t due = 0;
    {
        std::lock_guard<Platform::Mutex> lock(timerMutex_);
        auto it = timers_.find(name);
        if (it == timers_.end() || it->second.generation != generation) {
            return;
        }
        callback = it->second.callback;
        due = it->second.due;
    }
    ScheduleTask(Format("Timer: %1", name), std::move(callback), due);
}

void AppModule::StartTimer(const std::string& name, double periodSeconds,
                           std::function<void()> handler) {
    if (std::isnan(periodSeconds) || periodSeconds < 0) {
        Log(LogLevel::Error, LogGroup::DBG | LogGroup::NET,
            "Timer %s not started: the period %f is not a number of seconds >= 0", name.c_str(),
            periodSeconds);
        return;
    }
    std::function<void()> callback;
    std::int64_t due = 0;
    {
        // A firing of the old chain may be reading this record on a host worker thread.
        std::lock_guard<Platform::Mutex> lock(timerMutex_);
        TimerRecord& timer = timers_[name];
        timer.name = name;
        timer.period = periodSeconds;
        timer.due = DueAfter(Platform::MonotonicNanoseconds(), periodSeconds);
        timer.generation += 1;
        // The firing closure: the module, the name, the generation, the handler.
        // It holds everything by value and is copied into each task of the chain,
        // so it never points into the timer table.
        timer.callback = [this, name, generation = timer.generation, handler = std::move(handler)] {
            FireTimer(name, generation, handler);
        };
        callback = timer.callback;
        due = timer.due;
    }
    ScheduleTask(Format("Timer: %1", name), std::move(callback), due);
}

std::uint64_t AppModule::ScheduleTask(const std::string& description,
                                      std::function<void()> function, std::int64_t dueNanoseconds) {
    const double delay = DelayUntil(dueNanoseconds, Platform::MonotonicNanoseconds());
    std::uint64_t id = 0;
    void* context = nullptr;
    {
        std::lock_guard<Platform::Mutex> lock(taskMutex_);
        id = nextTaskId_++;
        context = IssueCallbackContext(*this, id);
        ScheduledTask& task = tasks_[id];
        task.module = this;
        task.id = id;
        task.function = std::move(function);
        task.context = context;
    }
    // Checked before the call: once handed over, the task may already have run
    // on another host thread and its record be gone.
    const bool connected = Connection() != nullptr && Connection()->host != nullptr &&
                           Connection()->host->hostScheduleCallback != nullptr;
    hostScheduleCallback(description.c_str(), &OnScheduledTask, context, delay, 0);
    if (!connected) {
        // No host will ever call back: the record and its token would stay
        // until the module is destroyed.
        {
            std::lock_guard<Platform::Mutex> lock(taskMutex_);
            tasks_.erase(id);
        }
        WithdrawCallbackContext(context);
    }
    return id;
}

void AppModule::RunScheduledTask(std::uint64_t id) {
    std::function<void()> function;
    void* context = nullptr;
    {
        std::lock_guard<Platform::Mutex> lock(taskMutex_);
        auto it = tasks_.find(id);
        if (it == tasks_.end()) {
            return;
        }
        // Taken out for the call: the record goes once the call is over.
        function = std::move(it->second.function);
        context = it->second.context;
    }
    // Erases the record however the function ends (returns or throws).
    struct EraseTask {
        AppModule* module;
        std::uint64_t id;
        void* context;
        ~EraseTask() {
            {
                std::lock_guard<Platform::Mutex> lock(module->taskMutex_);
                module->tasks_.erase(id);
            }
            WithdrawCallbackContext(context);
        }
    } erase{this, id, context};
    function();  // an empty function throws std::bad_function_call
}

}  // namespace Tavo::Client
