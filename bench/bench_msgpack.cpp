// MessagePack reading. Input: the benchmark corpora in msgpack/ (canada,
// citm_catalog, small_objects, twitter; the same values as the JSON corpora).
// Measures: input bytes per CPU second of this thread for ReadMessagePack
// (bytes to a dynamic value tree, dropped at the end of each iteration)
// against msgpack-c's msgpack::unpack (bytes to an object tree in its zone,
// dropped likewise) in the same run. The ratios (reference time over ours,
// above 1 when ours is faster) are printed at the end.

#define MSGPACK_NO_BOOST
#include <benchmark/benchmark.h>
#include <msgpack.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "formats/MessagePack.h"

namespace {

const char* const kCorpora[] = {"canada", "citm_catalog", "small_objects", "twitter"};

void ReadOurs(benchmark::State& state, const std::string& bytes) {
    for (auto _ : state) {
        Tavo::MessagePackReadResult read = Tavo::ReadMessagePack(bytes.data(), bytes.size());
        if (!read.result.IsOk()) {
            state.SkipWithError("ReadMessagePack failed");
            break;
        }
        benchmark::DoNotOptimize(read.result.Value());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void ReadReference(benchmark::State& state, const std::string& bytes) {
    for (auto _ : state) {
        msgpack::object_handle handle = msgpack::unpack(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(handle.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> inputs;
    for (const char* corpus : kCorpora) {
        std::string& bytes = inputs[corpus];
        bytes =
            Tavo::Bench::LoadFile(std::string(TAVO_BENCH_DATA) + "/msgpack/" + corpus + ".msgpack");
        if (bytes.empty()) {
            std::fprintf(stderr, "bench_msgpack: cannot read the %s corpus\n", corpus);
            return 1;
        }
        benchmark::RegisterBenchmark((std::string("ReadMessagePack/") + corpus).c_str(), ReadOurs,
                                     bytes)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("msgpack_unpack/") + corpus).c_str(),
                                     ReadReference, bytes)
            ->Unit(benchmark::kMillisecond);
    }
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    for (const char* corpus : kCorpora) {
        reporter.PrintRatio(std::string("ReadMessagePack/") + corpus,
                            std::string("msgpack_unpack/") + corpus);
    }
    benchmark::Shutdown();
    return 0;
}
