// Logging and the positional formatter: time per record or message, and heap
// allocations per record, counted by replacing the global operator new.
//
//   BM_LogFiltered       a record the manager drops (below its minimum level);
//                        expected: no formatting, 0 allocations
//   BM_LogWritten        a record written by a target that lays the line out
//                        with the default format and discards it; 0 expected
//   BM_LineReference     the same line built by hand with snprintf and the
//                        platform clock: the reference for BM_LogWritten
//   BM_Format*           Tavo::Format of a three-text message and a mixed one,
//                        against snprintf into a std::string (BM_Snprintf*)
//   BM_FormatIntoNoAlloc FormatInto into a stack buffer; 0 allocations expected
//
// Input: fixed messages built in the benchmark (no corpus). Ratios against
// the references are printed after the table.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "bench/BenchSupport.h"
#include "logging/Format.h"
#include "logging/Log.h"
#include "logging/LogManager.h"
#include "logging/LogTarget.h"
#include "platform/Platform.h"

namespace {

using Tavo::LogLevel;
using Tavo::LogManager;
namespace LogGroup = Tavo::LogGroup;

// Lays each record out as a console target would, then drops the line.
class DiscardingTarget final : public Tavo::LogTarget {
public:
    DiscardingTarget() { SetLevel(LogLevel::Okay); }
    ~DiscardingTarget() override { Detach(); }
    const char* Name() const override { return "DiscardingTarget"; }
    bool Write(const Tavo::LogRecord& record) override {
        char line[4096];
        const std::size_t length = FormatLine(record, line, sizeof line);
        benchmark::DoNotOptimize(line);
        benchmark::DoNotOptimize(length);
        return true;
    }
};

// One manager for the whole run, with only the discarding target attached.
struct Setup {
    Setup() {
        LogManager::AddReference();
        LogManager::StdErrTarget()->Detach();
        LogManager::DebuggerTarget()->Detach();
        target.Attach();
    }
    DiscardingTarget target;
};

Setup& Manager() {
    static Setup setup;
    return setup;
}

void ReportAllocations(benchmark::State& state, std::uint64_t before) {
    const double per = static_cast<double>(Tavo::Bench::HeapAllocations() - before) /
                       static_cast<double>(state.iterations());
    state.counters["allocs_per_op"] = per;
}

void BM_LogFiltered(benchmark::State& state) {
    Manager();
    int i = 0;
    const std::uint64_t before = Tavo::Bench::HeapAllocations();
    for (auto _ : state) {
        Tavo::Log(LogLevel::Okay, LogGroup::DBG | LogGroup::NET, "heartbeat %d sent at %s", ++i,
                  "2026-12-05T09:18:16Z");
    }
    ReportAllocations(state, before);
}

void BM_LogWritten(benchmark::State& state) {
    Manager();
    int i = 0;
    // Warm-up: the first local-time conversion reads the time zone once.
    Tavo::Log(LogLevel::Error, LogGroup::DBG, "warm-up");
    const std::uint64_t before = Tavo::Bench::HeapAllocations();
    for (auto _ : state) {
        Tavo::Log(LogLevel::Error, LogGroup::DBG | LogGroup::NET, "heartbeat %d failed: %s", ++i,
                  "Timed out (3)");
    }
    ReportAllocations(state, before);
}

void BM_LineReference(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        char message[4096];
        std::snprintf(message, sizeof message, "heartbeat %d failed: %s", ++i, "Timed out (3)");
        const Tavo::Platform::CalendarTime t = Tavo::Platform::LocalTimeNow();
        char line[4096];
        const int length = std::snprintf(
            line, sizeof line, "%04d-%02d-%02dT%02d:%02d:%02d.%03d| %s| %s| %s\n", t.year, t.month,
            t.day, t.hour, t.minute, t.second, t.millisecond, " ERROR", "DBG;NET", message);
        benchmark::DoNotOptimize(line);
        benchmark::DoNotOptimize(length);
    }
}

void BM_FormatTexts(benchmark::State& state) {
    for (auto _ : state) {
        std::string text =
            Tavo::Format("Value %1 for '%2' of type %3 is out of range", "300", "level", "uint8");
        benchmark::DoNotOptimize(text);
    }
}

void BM_SnprintfTexts(benchmark::State& state) {
    for (auto _ : state) {
        char buffer[4096];
        const int length =
            std::snprintf(buffer, sizeof buffer, "Value %s for '%s' of type %s is out of range",
                          "300", "level", "uint8");
        std::string text(buffer, static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(text);
    }
}

void BM_FormatMixed(benchmark::State& state) {
    const std::string url = "/vex-login/v1/session/invoke";
    for (auto _ : state) {
        std::string text =
            Tavo::Format("Request %1 to %2 failed with %3$08x after %4 s", 42u, url, -7, 1.25);
        benchmark::DoNotOptimize(text);
    }
}

void BM_SnprintfMixed(benchmark::State& state) {
    const std::string url = "/vex-login/v1/session/invoke";
    for (auto _ : state) {
        char buffer[4096];
        const int length =
            std::snprintf(buffer, sizeof buffer, "Request %u to %s failed with %08x after %g s",
                          42u, url.c_str(), -7, 1.25);
        std::string text(buffer, static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(text);
    }
}

void BM_FormatIntoNoAlloc(benchmark::State& state) {
    const std::string url = "/vex-login/v1/session/invoke";
    const std::uint64_t before = Tavo::Bench::HeapAllocations();
    for (auto _ : state) {
        char buffer[4096];
        const std::size_t length =
            Tavo::FormatInto(buffer, sizeof buffer,
                             "Request %1 to %2 failed with %3$08x after %4 s", 42u, url, -7, 1.25);
        benchmark::DoNotOptimize(buffer);
        benchmark::DoNotOptimize(length);
    }
    ReportAllocations(state, before);
}

BENCHMARK(BM_LogFiltered);
BENCHMARK(BM_LogWritten);
BENCHMARK(BM_LineReference);
BENCHMARK(BM_FormatTexts);
BENCHMARK(BM_SnprintfTexts);
BENCHMARK(BM_FormatMixed);
BENCHMARK(BM_SnprintfMixed);
BENCHMARK(BM_FormatIntoNoAlloc);

}  // namespace

int main(int argc, char** argv) {
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    reporter.PrintRatio("BM_LogWritten", "BM_LineReference");
    reporter.PrintRatio("BM_FormatTexts", "BM_SnprintfTexts");
    reporter.PrintRatio("BM_FormatMixed", "BM_SnprintfMixed");
    benchmark::Shutdown();
    return 0;
}
