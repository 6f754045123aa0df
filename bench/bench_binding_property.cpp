// Dynamic value trees: build, deep copy and drop. Input: generated, 1,000,000
// small structures of 5 fields each (an integer id, a name from 1000, a city
// from 50, a unique code text and an unsigned count) in one collection.
// Measures, per element: CPU nanoseconds of this thread (user and system, so
// page faults count but other processes do not) to build the tree, to copy it
// into another root and to drop both, and general-heap allocations (every malloc,
// calloc, realloc and operator new of the process, arenas included) over the
// three phases. Compared in the same run with the same shape built, copied
// (CopyFrom) and dropped as a RapidJSON Document with its MemoryPoolAllocator;
// the ratios are printed at the end.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "bench/BenchSupport.h"
#include "binding/BindingProperty.h"

// ---- counting the general heap --------------------------------------------
// The bench binary replaces the C allocation functions, so every heap block of
// the process is counted, whoever asks for it (operator new ends here too).

extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* block, std::size_t bytes);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
void __libc_free(void* block);
}

namespace {
std::atomic<std::uint64_t> heapAllocations{0};
std::atomic<std::uint64_t> heapFrees{0};
void CountAllocation() {
    heapAllocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(std::size_t bytes) {
    CountAllocation();
    return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes) {
    CountAllocation();
    return __libc_calloc(count, bytes);
}
void* realloc(void* block, std::size_t bytes) {
    CountAllocation();
    return __libc_realloc(block, bytes);
}
void* memalign(std::size_t alignment, std::size_t bytes) {
    CountAllocation();
    return __libc_memalign(alignment, bytes);
}
void* aligned_alloc(std::size_t alignment, std::size_t bytes) {
    CountAllocation();
    return __libc_memalign(alignment, bytes);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t bytes) {
    CountAllocation();
    void* block = __libc_memalign(alignment, bytes);
    if (block == nullptr) {
        return 12;  // ENOMEM
    }
    *out = block;
    return 0;
}
void free(void* block) {
    if (block != nullptr) {
        heapFrees.fetch_add(1, std::memory_order_relaxed);
    }
    __libc_free(block);
}
}

namespace {

constexpr int kElements = 1'000'000;

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The element texts, made without the heap so that only the tree is counted.
struct ElementTexts {
    char name[16];
    char city[16];
    char code[24];
};

ElementTexts TextsOf(int i) {
    ElementTexts texts;
    std::snprintf(texts.name, sizeof texts.name, "user%d", i % 1000);
    std::snprintf(texts.city, sizeof texts.city, "city%d", i % 50);
    std::snprintf(texts.code, sizeof texts.code, "code-%08d", i);
    return texts;
}

// Phase times and heap allocations, summed over the iterations.
struct Phases {
    double build = 0;
    double copy = 0;
    double drop = 0;
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
};

void Report(benchmark::State& state, const Phases& phases) {
    double perElement = 1e9 / (static_cast<double>(state.iterations()) * kElements);
    double perCount = 1.0 / (static_cast<double>(state.iterations()) * kElements);
    state.counters["build_cpu_ns"] = phases.build * perElement;
    state.counters["copy_cpu_ns"] = phases.copy * perElement;
    state.counters["drop_cpu_ns"] = phases.drop * perElement;
    state.counters["allocs/elem"] = static_cast<double>(phases.allocations) * perCount;
    state.counters["frees/elem"] = static_cast<double>(phases.frees) * perCount;
}

void BM_BindingProperty(benchmark::State& state) {
    Phases phases;
    for (auto _ : state) {
        std::uint64_t allocationsBefore = heapAllocations.load();
        std::uint64_t freesBefore = heapFrees.load();
        double start = ThreadSeconds();
        std::optional<Tavo::BindingProperty> tree(std::in_place);
        tree->MakeCollection();
        tree->Reserve(kElements);
        for (int i = 0; i < kElements; ++i) {
            ElementTexts texts = TextsOf(i);
            Tavo::BindingProperty& item = tree->Append();
            item.Field("id").SetSigned(std::int64_t{i});
            item.Field("name").SetString(texts.name);
            item.Field("city").SetString(texts.city);
            item.Field("code").SetString(texts.code);
            item.Field("count").SetUnsigned(std::uint64_t(i) * 3);
        }
        double built = ThreadSeconds();
        std::optional<Tavo::BindingProperty> copy(std::in_place, *tree);
        double copied = ThreadSeconds();
        benchmark::DoNotOptimize(copy->ElementAt(kElements - 1).Find("code").GetString().data());
        tree.reset();
        copy.reset();
        double dropped = ThreadSeconds();
        phases.build += built - start;
        phases.copy += copied - built;
        phases.drop += dropped - copied;
        phases.allocations += heapAllocations.load() - allocationsBefore;
        phases.frees += heapFrees.load() - freesBefore;
    }
    Report(state, phases);
}

void BM_RapidJsonDocument(benchmark::State& state) {
    Phases phases;
    for (auto _ : state) {
        std::uint64_t allocationsBefore = heapAllocations.load();
        std::uint64_t freesBefore = heapFrees.load();
        double start = ThreadSeconds();
        auto tree = std::make_optional<rapidjson::Document>();
        auto& allocator = tree->GetAllocator();
        tree->SetArray();
        tree->Reserve(kElements, allocator);
        for (int i = 0; i < kElements; ++i) {
            ElementTexts texts = TextsOf(i);
            rapidjson::Value item(rapidjson::kObjectType);
            item.AddMember("id", i, allocator);
            item.AddMember("name", rapidjson::Value(texts.name, allocator), allocator);
            item.AddMember("city", rapidjson::Value(texts.city, allocator), allocator);
            item.AddMember("code", rapidjson::Value(texts.code, allocator), allocator);
            item.AddMember("count", std::uint64_t(i) * 3, allocator);
            tree->PushBack(item, allocator);
        }
        double built = ThreadSeconds();
        auto copy = std::make_optional<rapidjson::Document>();
        copy->CopyFrom(*tree, copy->GetAllocator());
        double copied = ThreadSeconds();
        benchmark::DoNotOptimize((*copy)[kElements - 1]["code"].GetString());
        tree.reset();
        copy.reset();
        double dropped = ThreadSeconds();
        phases.build += built - start;
        phases.copy += copied - built;
        phases.drop += dropped - copied;
        phases.allocations += heapAllocations.load() - allocationsBefore;
        phases.frees += heapFrees.load() - freesBefore;
    }
    Report(state, phases);
}

BENCHMARK(BM_BindingProperty)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RapidJsonDocument)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string ours = "BM_BindingProperty/iterations:5";
    const std::string theirs = "BM_RapidJsonDocument/iterations:5";
    Tavo::Bench::RatioReporter::PrintHeading();
    reporter.PrintRatio(ours, theirs, "BindingProperty vs RapidJSON Document, CPU time");
    for (const char* counter : {"build_cpu_ns", "copy_cpu_ns", "drop_cpu_ns", "allocs/elem"}) {
        const double ratio = reporter.CounterRatio(ours, theirs, counter);
        if (ratio > 0) {
            std::printf("  %-60s %7.2f\n", counter, ratio);
        }
    }
    benchmark::Shutdown();
    return 0;
}
