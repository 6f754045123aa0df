// Scheduled tasks: what one host round trip costs (ScheduleTask, then the
// host's callback running the task), with the token indirection that makes
// late callbacks harmless, against the same work done the unguarded way (the
// task record's address as the context, found again through no table).
// Input: none; the tasks are empty closures. Reports ns per round trip.

#include <benchmark/benchmark.h>

#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "framework/AppModule.h"
#include "framework/PluginEntry.h"

namespace {

// A host that keeps the last scheduled callback and nothing else.
struct PendingCallback {
    Tavo::HostScheduledCallback callback = nullptr;
    void* context = nullptr;
};
PendingCallback pending;

extern "C" std::uint32_t KeepCallback(Tavo::HostInterface*, const char*,
                                      Tavo::HostScheduledCallback callback, void* context, double,
                                      std::int32_t) {
    pending = PendingCallback{callback, context};
    return 0;
}

void BM_ScheduledTaskRoundTrip(benchmark::State& state) {
    Tavo::HostInterface table{};
    table.hostScheduleCallback = &KeepCallback;
    Tavo::HostConnection connection{&table, 1};
    Tavo::PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    void* handle = Tavo::Client::LoadPlugin<Tavo::Client::AppModule>(&record, "bench");
    record.callbacks->Initialize(handle, &connection);
    auto* module = static_cast<Tavo::Client::AppModule*>(handle);
    std::uint64_t ran = 0;
    for (auto _ : state) {
        (void)module->ScheduleTask(
            "task", [&ran] { ++ran; }, 0);
        pending.callback(pending.context);
    }
    benchmark::DoNotOptimize(ran);
    record.callbacks->Shutdown(handle);
}
BENCHMARK(BM_ScheduledTaskRoundTrip);

// Reference: the unguarded design. The task table under a mutex, the record's
// address handed out as the context and used directly by the callback.
struct RawTask {
    std::uint64_t id;
    std::function<void()> function;
};
std::mutex rawMutex;
std::unordered_map<std::uint64_t, RawTask> rawTasks;

extern "C" void RunRawTask(void* context) {
    auto* task = static_cast<RawTask*>(context);
    task->function();
    std::lock_guard<std::mutex> lock(rawMutex);
    rawTasks.erase(task->id);
}

void BM_UnguardedTaskRoundTrip(benchmark::State& state) {
    std::uint64_t nextId = 1;
    std::uint64_t ran = 0;
    for (auto _ : state) {
        RawTask* task = nullptr;
        {
            std::lock_guard<std::mutex> lock(rawMutex);
            const std::uint64_t id = nextId++;
            task = &(rawTasks[id] = RawTask{id, [&ran] { ++ran; }});
        }
        KeepCallback(nullptr, "task", &RunRawTask, task, 0, 0);
        pending.callback(pending.context);
    }
    benchmark::DoNotOptimize(ran);
}
BENCHMARK(BM_UnguardedTaskRoundTrip);

}  // namespace

BENCHMARK_MAIN();
