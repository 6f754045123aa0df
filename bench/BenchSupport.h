#pragma once
// Helpers shared by the benchmark programs.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace Tavo::Bench {

// Operator new calls of the whole process so far. Defined with the counting
// replacements of the global allocation functions (CountingNew.cpp), which a
// program gets by calling this.
std::uint64_t HeapAllocations();

// The whole file, or "" when it cannot be read.
inline std::string LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Fixes the C heap's thresholds so that large blocks come from the heap and
// stay with the process. Otherwise glibc maps and unmaps them per iteration,
// paying page faults, until its adaptive threshold happens to rise, and a
// benchmark's speed depends on what ran before it in the same process.
inline void SteadyHeap() {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

// Prints the table as usual and keeps each benchmark's CPU time for the
// ratios (the machine is shared, so wall time is noisier).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                nanoseconds_[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
    }
    // "ratio OURS / REFERENCE = R" when both ran.
    void PrintRatio(const char* ours, const char* reference) const {
        auto a = nanoseconds_.find(ours);
        auto b = nanoseconds_.find(reference);
        if (a != nanoseconds_.end() && b != nanoseconds_.end() && b->second > 0) {
            std::printf("ratio %s / %s = %.2f\n", ours, reference, a->second / b->second);
        }
    }

private:
    std::map<std::string, double> nanoseconds_;
};

}  // namespace Tavo::Bench
