// Interning under hash flooding, and what the page source keeps. Input:
// generated JSON arrays of 2^15 and 2^16 distinct texts of 5 letters per
// doubling (75 and 80 letters): random ones, ones whose FNV-1a values share
// their low 20 bits, and ones with one identical 32-bit FNV-1a value
// (tests/binding/CollidingTexts.h). Measures ParseJson's CPU time per
// document; the ratios print the random set's time over each crafted set's
// (near 1 when crafted input costs no more than random input; a table that
// picks buckets by FNV-1a gives a ratio far below 1 that halves or worse
// with every doubling).
// PageSource/small_objects parses the small_objects corpus once and reports
// what the process-wide page source holds (regions, KiB) right after the tree
// is dropped, and once the return delay has passed and another tree was
// dropped, against what it ever reserved (which it used to keep for good).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "binding/BindingProperty.h"
#include "binding/BindingPropertyArena.h"
#include "formats/JsonReader.h"
#include "tests/binding/CollidingTexts.h"

namespace {

std::string JsonArray(const std::vector<std::string>& texts) {
    std::string json = "[";
    for (const std::string& text : texts) {
        json += json.size() == 1 ? "\"" : ",\"";
        json += text;
        json += '"';
    }
    return json + "]";
}

void Parse(benchmark::State& state, const std::string* json) {
    for (auto _ : state) {
        Tavo::BindingResult result = Tavo::ParseJson(*json);
        if (!result.IsOk()) {
            state.SkipWithError("ParseJson failed");
            break;
        }
        benchmark::DoNotOptimize(result.Value());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json->size()));
}

void PageSource(benchmark::State& state, const std::string* json) {
    Tavo::BindingPageSource& source = Tavo::BindingPageSource::Instance();
    Tavo::BindingPageSource::Stats dropped;
    for (auto _ : state) {
        {
            Tavo::BindingResult result = Tavo::ParseJson(*json);
            benchmark::DoNotOptimize(result.Value());
        }
        dropped = source.ReadStats();
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(Tavo::BindingPageSource::kReturnDelay) +
                                std::chrono::milliseconds(100));
    {
        Tavo::BindingProperty small;  // pages and a slab of its own
        for (int i = 0; i < 200; ++i) {
            small.Append().SetString(std::string(100, 'x') + std::to_string(i));
            small.Append().Field("n").SetString(std::to_string(i));
        }
    }
    const Tavo::BindingPageSource::Stats later = source.ReadStats();
    state.counters["ever_regions"] = static_cast<double>(dropped.regionsReserved);
    state.counters["ever_KiB"] = static_cast<double>(dropped.regionsReserved * 64);
    state.counters["dropped_regions"] = static_cast<double>(dropped.regionsHeld);
    state.counters["dropped_KiB"] = static_cast<double>(dropped.bytesHeld / 1024);
    state.counters["later_regions"] = static_cast<double>(later.regionsHeld);
    state.counters["later_KiB"] = static_cast<double>(later.bytesHeld / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    static std::vector<std::string> documents;
    documents.reserve(8);
    std::vector<std::string> sizes;
    for (std::size_t blocks : {15u, 16u}) {
        const std::string size = "2^" + std::to_string(blocks);
        sizes.push_back(size);
        documents.push_back(JsonArray(Tavo::Testing::RandomTexts(
            std::size_t{1} << blocks, blocks * Tavo::Testing::kCollidingBlockSize)));
        benchmark::RegisterBenchmark(("ParseJson/random/" + size).c_str(), Parse, &documents.back())
            ->Unit(benchmark::kMillisecond);
        documents.push_back(JsonArray(Tavo::Testing::CollidingTexts(blocks, 0xFFFFFu)));
        benchmark::RegisterBenchmark(("ParseJson/fnv_low20/" + size).c_str(), Parse,
                                     &documents.back())
            ->Unit(benchmark::kMillisecond);
        documents.push_back(JsonArray(Tavo::Testing::CollidingTexts(blocks, 0xFFFFFFFFu)));
        benchmark::RegisterBenchmark(("ParseJson/fnv_full/" + size).c_str(), Parse,
                                     &documents.back())
            ->Unit(benchmark::kMillisecond);
    }
    documents.push_back(
        Tavo::Bench::LoadFile(std::string(TAVO_BENCH_DATA) + "/json/small_objects.json"));
    if (!documents.back().empty()) {
        benchmark::RegisterBenchmark("PageSource/small_objects", PageSource, &documents.back())
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    for (const std::string& size : sizes) {
        for (const char* set : {"fnv_low20", "fnv_full"}) {
            reporter.PrintRatio("ParseJson/" + std::string(set) + "/" + size,
                                "ParseJson/random/" + size);
        }
    }
    benchmark::Shutdown();
    return 0;
}
