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

// The one ratio reporter of the benchmark programs. Prints the table as usual
// and keeps each run (CPU time and counters; the machine is shared, so wall
// time is noisier). With repetitions, a case's median stands for it (the
// single runs are not even reported with --benchmark_report_aggregates_only).
// Every ratio it prints is the reference's CPU time over ours: above 1 means
// ours is faster.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                runs_[name] = run;
                medians_[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !medians_[name]) {
                runs_[name] = run;
            }
        }
    }

    // Reference CPU time over ours, or 0 when either did not run.
    double Ratio(const std::string& ours, const std::string& reference) const {
        const Run* a = Find(ours);
        const Run* b = Find(reference);
        return a != nullptr && b != nullptr && a->GetAdjustedCPUTime() > 0
                   ? b->GetAdjustedCPUTime() / a->GetAdjustedCPUTime()
                   : 0.0;
    }
    // The same for a counter that measures a cost (time, allocations).
    double CounterRatio(const std::string& ours, const std::string& reference,
                        const std::string& counter) const {
        const Run* a = Find(ours);
        const Run* b = Find(reference);
        if (a == nullptr || b == nullptr || !a->counters.count(counter) ||
            !b->counters.count(counter) || a->counters.at(counter).value == 0) {
            return 0.0;
        }
        return b->counters.at(counter).value / a->counters.at(counter).value;
    }

    // The heading once, before the first ratio line.
    static void PrintHeading() {
        std::printf("\nRatios: reference CPU time / ours (above 1: ours is faster)\n");
    }
    // "  LABEL  R" when both ran; LABEL defaults to "OURS vs REFERENCE".
    void PrintRatio(const std::string& ours, const std::string& reference,
                    const std::string& label = "") const {
        const double ratio = Ratio(ours, reference);
        if (ratio > 0) {
            std::printf("  %-60s %7.2f\n",
                        (label.empty() ? ours + " vs " + reference : label).c_str(), ratio);
        }
    }

private:
    const Run* Find(const std::string& name) const {
        auto found = runs_.find(name);
        return found == runs_.end() ? nullptr : &found->second;
    }
    std::map<std::string, Run> runs_;
    std::map<std::string, bool> medians_;  // whether runs_ holds the case's median
};

}  // namespace Tavo::Bench
