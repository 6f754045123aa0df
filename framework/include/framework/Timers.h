#pragma once
// Timers and scheduled tasks: the records and tables behind
// AppModule::StartTimer, ScheduleTask and RunScheduledTask
// (framework/src/Timers.cpp).
//
// The module has no thread: everything later is a one-shot host callback
// (a scheduled task). A named timer is a chain of such tasks; each firing
// re-arms the chain one period after the handler started. Restarting a timer
// bumps its generation, so callbacks of the old chain, which the host cannot
// take back, find a newer generation and end there.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/Platform.h"

namespace Tavo::Client {

class AppModule;

// A named repeating timer (StartTimer).
struct TimerRecord {
    std::string name;                // a copy of the key
    std::function<void()> callback;  // the firing closure, re-used for every firing
    std::int64_t due = 0;            // next firing, monotonic nanoseconds
    double period = 0;               // seconds
    std::uint64_t generation = 0;    // 0 when new; +1 at every start
};

// A one-shot task handed to the host (ScheduleTask).
struct ScheduledTask {
    AppModule* module = nullptr;
    std::uint64_t id = 0;
    std::function<void()> function;
    void* context = nullptr;  // the token the host calls back with
};

// The module's timer and task tables, one lock each: a firing or a task runs
// on whatever host thread runs it, while StartTimer runs on the host thread.
// Neither lock is held while calling the host, a handler or a task.
struct ModuleTimers {
    Platform::Mutex timerMutex;
    // Timer name → record.
    std::unordered_map<std::string, TimerRecord> timers TAVO_GUARDED_BY(timerMutex);

    mutable Platform::Mutex taskMutex;
    // Task id → task, and the next id (1 for a new module).
    std::unordered_map<std::uint64_t, ScheduledTask> tasks TAVO_GUARDED_BY(taskMutex);
    std::uint64_t nextTaskId TAVO_GUARDED_BY(taskMutex) = 1;
};

}  // namespace Tavo::Client
