// Base64 throughput. Input: a pseudo-random binary buffer of 1 KiB, 64 KiB
// and 1 MiB (and, for decoding, its encoding). Measures: bytes of the binary
// buffer per second for Base64Encode (buffer -> text) and Base64Decode
// (text -> buffer), each including the allocation of its result, against a
// memcpy of the same binary buffer into a preallocated string in the same run.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "binding/Base64.h"

namespace {

std::string RandomBytes(std::size_t length) {
    std::string bytes(length, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (char& b : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = static_cast<char>(state);
    }
    return bytes;
}

void BM_Memcpy(benchmark::State& state) {
    const std::string bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
    std::string copy(bytes.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Base64Encode(benchmark::State& state) {
    const std::string bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string text = Tavo::Base64Encode(bytes);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Base64Decode(benchmark::State& state) {
    const std::string text =
        Tavo::Base64Encode(RandomBytes(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        std::string bytes = Tavo::Base64Decode(text);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_Memcpy)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_Base64Encode)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_Base64Decode)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20);

BENCHMARK_MAIN();
