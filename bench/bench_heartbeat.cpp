// The heartbeat: one tick in process, the plugin library's memory after it
// starts, and ulm-host playing a day of virtual time.
//
//   BM_HeartbeatTick       one tick of the timer "vex-heartbeat.HB" in process:
//                          the scheduled callback fires, SendHeartbeat formats
//                          the time and calls loginService.performLCDSHeartBeat
//                          through a host table that answers at once, and the
//                          timer re-arms. Time and heap allocations per tick
//                          (operator new plus the counting hooks; aim: 20 µs,
//                          30 allocations).
//   BM_LcdsRequestByHand   the reference for a tick: the same request made
//                          without the framework (four arguments as dynamic
//                          values, converted to host values, sent through the
//                          same table, the answer converted back).
//   BM_PluginMemoryAfterStart  the built library loaded and initialized through
//                          the development host's loader; reports the plugin's
//                          own peak bytes (aim: 256 KiB) and allocations.
//   BM_HostRunOneDay       ulm-host's scenario runner in process: load, start,
//                          24 virtual hours (1,440 ticks), shut down, with the
//                          timeline discarded (aim: 0.5 s).
//
// Input: built in the benchmark (no corpus). The ratio of the hand-made
// request's time to the tick's is printed after the table.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DevHost.h"
#include "HeartbeatModule.h"
#include "PluginLoader.h"
#include "Scenario.h"
#include "ScenarioRunner.h"
#include "bench/BenchSupport.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "framework/PluginEntry.h"
#include "logging/Diagnostics.h"
#include "platform/MemoryAccounting.h"
#include "platform/Platform.h"

namespace {

using namespace Tavo;

// Every allocation so far: operator new and the counting hooks.
std::uint64_t Allocations() {
    return Tavo::Bench::HeapAllocations() + Memory::ReadStats().allocations;
}

HostValue HostValueOfJson(const char* json) {
    BindingResult parsed = ParseJson(json);
    HostValue value{};
    if (!parsed.IsOk() || !HostValueFromProperty(value, parsed.Value(), nullptr)) {
        std::abort();
    }
    return value;
}

// A host table that answers at once from prepared values (nothing to
// release) and keeps the one pending scheduled callback.
struct BenchHost {
    struct Table {
        HostInterface entries;
        BenchHost* owner;
    };
    Table table{};
    HostConnection connection{&table.entries, 1};
    HostValue session = HostValueOfJson(R"({"state":"SUCCEEDED","summonerId":7,"accountId":9})");
    HostValue lcdsAnswer = HostValueOfJson(R"({"typeName":"string","body":"ok"})");
    HostScheduledCallback pending = nullptr;
    void* pendingContext = nullptr;
    std::uint64_t requests = 0;

    BenchHost() {
        table.owner = this;
        table.entries.hostSendRequest = &SendRequest;
        table.entries.hostSubscribe = [](HostInterface*, const char*, std::uint32_t,
                                         HostEventCallback, void*,
                                         std::int32_t) -> std::uint32_t { return 0; };
        table.entries.hostUnsubscribe = [](HostInterface*, const char*,
                                           std::uint32_t) -> std::uint32_t { return 0; };
        table.entries.hostScheduleCallback = [](HostInterface* self, const char*,
                                                HostScheduledCallback callback, void* context,
                                                double, std::int32_t) -> std::uint32_t {
            BenchHost& host = *reinterpret_cast<Table*>(self)->owner;
            host.pending = callback;
            host.pendingContext = context;
            return 0;
        };
        table.entries.hostLog = [](HostInterface*, std::int32_t, const char*) {};
    }
    ~BenchHost() {
        ResetHostValue(session);
        ResetHostValue(lcdsAnswer);
    }

    static std::uint32_t SendRequest(HostInterface* self, HostResponse* response,
                                     const HostRequest* request) {
        BenchHost& host = *reinterpret_cast<Table*>(self)->owner;
        ++host.requests;
        const std::string target = request->target;
        if (request->method == static_cast<std::uint32_t>(HttpMethod::Post)) {
            response->body = host.lcdsAnswer;
        } else if (target == Client::Heartbeat::kSessionPath) {
            response->body = host.session;
        } else {
            response->error = "Not found";
            response->hasError = 1;
            response->status = 404;
        }
        return 0;
    }

    // Runs the pending callback (one timer tick).
    void Tick() {
        HostScheduledCallback callback = pending;
        pending = nullptr;
        callback(pendingContext);
    }
};

void BM_HeartbeatTick(benchmark::State& state) {
    BenchHost host;
    PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    void* module = Client::LoadPlugin<Client::Heartbeat::HeartbeatModule>(
        &record, Client::Heartbeat::kShortName);
    if (module == nullptr || record.callbacks->Initialize(module, &host.connection) == 0) {
        state.SkipWithError("the module did not start");
        return;
    }
    host.Tick();  // warm: the first tick sizes the buffers
    const std::uint64_t requestsBefore = host.requests;
    const std::uint64_t allocationsBefore = Allocations();
    for (auto _ : state) {
        host.Tick();
    }
    const double ticks = static_cast<double>(state.iterations());
    state.counters["allocs/tick"] = static_cast<double>(Allocations() - allocationsBefore) / ticks;
    state.counters["requests/tick"] = static_cast<double>(host.requests - requestsBefore) / ticks;
    record.callbacks->Shutdown(module);
}
BENCHMARK(BM_HeartbeatTick);

void BM_LcdsRequestByHand(benchmark::State& state) {
    BenchHost host;
    BindingRegistry registry;
    std::uint64_t allocationsBefore = 0;
    std::int32_t count = 0;
    bool warm = false;
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            allocationsBefore = Allocations();
            state.ResumeTiming();
        }
        BindingProperty arguments;
        arguments.Append().SetUnsigned(std::uint64_t{9});
        arguments.Append().SetString("");
        arguments.Append().SetSigned(++count);
        arguments.Append().SetString(
            Diagnostics::FormatUtcTime(Platform::WallClock100ns() / 10000000));
        BindingProperty destination;
        destination.SetString("loginService");
        BindingProperty method;
        method.SetString("performLCDSHeartBeat");
        HostRequestArgument entries[3]{};
        if (!HostValueFromProperty(entries[0].value, destination, nullptr) ||
            !HostValueFromProperty(entries[1].value, method, nullptr) ||
            !HostValueFromProperty(entries[2].value, arguments, nullptr)) {
            state.SkipWithError("out of memory");
            break;
        }
        HostRequest request{};
        request.method = static_cast<std::uint32_t>(HttpMethod::Post);
        request.target = "/vex-login/v1/session/invoke";
        request.arguments = entries;
        request.argumentCount = 3;
        HostResponse response{};
        host.table.entries.hostSendRequest(&host.table.entries, &response, &request);
        const HostValue body = response.body;
        BindingResult answer = PropertyFromHostValue(body, "<result>");
        benchmark::DoNotOptimize(answer.Value().Find("body").GetString().size());
        for (HostRequestArgument& entry : entries) {
            ResetHostValue(entry.value);
        }
        warm = true;
    }
    state.counters["allocs/call"] = static_cast<double>(Allocations() - allocationsBefore) /
                                    static_cast<double>(state.iterations());
}
BENCHMARK(BM_LcdsRequestByHand);

void BM_PluginMemoryAfterStart(benchmark::State& state) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    Host::Timeline timeline(sink, Host::TimelineFormat::Text, true);
    Host::DevHost host(timeline);
    PluginMemoryStats stats{};
    for (auto _ : state) {
        std::string error;
        std::unique_ptr<Host::PluginLibrary> plugin =
            Host::PluginLibrary::Load(TAVO_PLUGIN, kPluginApiVersion, error);
        if (!plugin || !plugin->Initialize(host.Connection())) {
            state.SkipWithError(error.empty() ? "the plugin did not start" : error.c_str());
            break;
        }
        plugin->ReadMemoryStats(stats);
        plugin->Shutdown();
    }
    state.counters["peakKiB"] = static_cast<double>(stats.peakBytes) / 1024.0;
    state.counters["peakBlocks"] = static_cast<double>(stats.peakAllocations);
    state.counters["allocations"] = static_cast<double>(stats.allocations);
    std::fclose(sink);
}
// Once: the library's counters are totals over the process.
BENCHMARK(BM_PluginMemoryAfterStart)->Iterations(1);

void BM_HostRunOneDay(benchmark::State& state) {
    Host::Scenario scenario;
    std::string error;
    if (!Host::ParseScenario(R"(
name: one day
resources:
  /vex-login/v1/session: {state: SUCCEEDED, summonerId: 7, accountId: 9}
end: 24h30s
expect: {heartbeats: 1440}
)",
                             false, scenario, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::FILE* sink = std::fopen("/dev/null", "w");
    Host::RunOptions options;
    options.pluginPath = TAVO_PLUGIN;
    options.out = sink;
    for (auto _ : state) {
        Host::RunResult result;
        if (Host::RunScenario(scenario, options, result) != 0) {
            state.SkipWithError("the day did not run as expected");
            break;
        }
    }
    std::fclose(sink);
}
BENCHMARK(BM_HostRunOneDay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    reporter.PrintRatio("BM_HeartbeatTick", "BM_LcdsRequestByHand");
    benchmark::Shutdown();
    return 0;
}
