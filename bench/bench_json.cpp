// JSON reading and writing. Input: the benchmark corpora in json/ (canada,
// citm_catalog, small_objects, twitter). Measures, in input bytes per CPU
// second of this thread:
// - ParseJson (text to a dynamic value tree, dropped at the end of each
//   iteration) against RapidJSON's Document::Parse with its default flags,
//   and, since ParseJson converts numbers exactly, with the full-precision
//   flag as well;
// - WriteJson, compact and indented, of the tree read from the corpus against
//   RapidJSON's Writer and PrettyWriter of the parsed Document into a
//   StringBuffer.
// The ratios (reference time over ours, above 1 when ours is faster) are
// printed at the end, after the peak memory of one parse of each corpus
// (ours over the Document's, below 1 when ours needs less).

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "binding/BindingPropertyArena.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "platform/MemoryAccounting.h"

namespace {

const char* const kCorpora[] = {"canada", "citm_catalog", "small_objects", "twitter"};

void SetBytes(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void ParseOurs(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        Tavo::BindingResult result = Tavo::ParseJson(text);
        if (!result.IsOk()) {
            state.SkipWithError("ParseJson failed");
            break;
        }
        benchmark::DoNotOptimize(result.Value());
    }
    SetBytes(state, text);
}

template <unsigned kFlags>
void ParseDocument(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse<kFlags>(text.c_str());
        benchmark::DoNotOptimize(document);
    }
    SetBytes(state, text);
}

void WriteOurs(benchmark::State& state, const std::string& text, const char* lineBreak) {
    Tavo::BindingResult result = Tavo::ParseJson(text);
    for (auto _ : state) {
        std::string json = Tavo::WriteJson(result.Value(), nullptr, lineBreak);
        benchmark::DoNotOptimize(json.data());
    }
    SetBytes(state, text);
}

template <class Writer>
void WriteDocument(benchmark::State& state, const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        Writer writer(buffer);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    SetBytes(state, text);
}

// ---- peak memory of one parse ------------------------------------------------

// RapidJSON's C heap allocator, counting the bytes of its live blocks (their
// true sizes, as the plugin's own accounting counts them) and their peak.
struct CountingCrtAllocator {
    static const bool kNeedFree = true;
    static inline std::size_t live = 0;
    static inline std::size_t peak = 0;
    static void Count(void* block, bool add) {
        if (block == nullptr) {
            return;
        }
        const std::size_t size = malloc_usable_size(block);
        live = add ? live + size : live - size;
        peak = live > peak ? live : peak;
    }
    void* Malloc(std::size_t size) {
        void* block = size == 0 ? nullptr : std::malloc(size);
        Count(block, true);
        return block;
    }
    void* Realloc(void* original, std::size_t, std::size_t newSize) {
        if (newSize == 0) {
            Free(original);
            return nullptr;
        }
        Count(original, false);
        void* block = std::realloc(original, newSize);
        Count(block != nullptr ? block : original, true);
        return block;
    }
    static void Free(void* block) {
        Count(block, false);
        std::free(block);
    }
};
using CountingDocument = rapidjson::GenericDocument<
    rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingCrtAllocator>, CountingCrtAllocator>;

// Runs `measure` in a child process, so that each figure starts from a fresh
// page source and fresh peaks; its result, or zeros when the child failed.
struct Peak {
    std::size_t tree = 0;  // ours: what the page source holds; the Document's: 0
    std::size_t heap = 0;  // the C heap's (counted) peak
    std::size_t Total() const { return tree + heap; }
};

template <class Measure>
Peak InChild(Measure measure) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return Peak{};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const Peak peak = measure();
        const bool written = write(pipeEnds[1], &peak, sizeof peak) == sizeof peak;
        _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    Peak peak;
    if (child < 0 || read(pipeEnds[0], &peak, sizeof peak) != sizeof peak) {
        peak = Peak{};
    }
    close(pipeEnds[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return peak;
}

// Ours: the address space the page source holds once the tree is built
// (regions, kept ones included; in a fresh process nothing has gone back
// yet), plus the peak of the counting heap during the parse (the reader's
// stack and scratch buffer, the arena object).
Peak OursPeak(const std::string& text) {
    const Tavo::Memory::Stats before = Tavo::Memory::ReadStats();
    Tavo::BindingResult result = Tavo::ParseJson(text);
    const std::size_t held = Tavo::BindingPageSource::Instance().ReadStats().bytesHeld;
    const Tavo::Memory::Stats after = Tavo::Memory::ReadStats();
    return result.IsOk() ? Peak{held, after.peakBytes - before.bytesInUse} : Peak{};
}

// The Document's: the peak of its pool's chunks and its parse stack.
Peak DocumentPeak(const std::string& text) {
    CountingDocument document;
    document.Parse(text.c_str());
    return document.HasParseError() ? Peak{} : Peak{0, CountingCrtAllocator::peak};
}

struct PeakMemory {
    Peak ours;
    Peak document;
};

// Measured before any benchmark runs: a child forked later would inherit the
// regions the benchmarks left in the page source's cache.
std::map<std::string, PeakMemory> MeasurePeakMemory(
    const std::map<std::string, std::string>& inputs) {
    std::map<std::string, PeakMemory> peaks;
    for (const auto& [corpus, text] : inputs) {
        peaks[corpus] = {InChild([&] { return OursPeak(text); }),
                         InChild([&] { return DocumentPeak(text); })};
    }
    return peaks;
}

void PrintPeakMemory(const std::map<std::string, PeakMemory>& peaks) {
    std::printf(
        "\nPeak memory of one parse: ours (tree + heap) / Document's (below 1: ours needs "
        "less)\n");
    for (const char* corpus : kCorpora) {
        const PeakMemory& peak = peaks.at(corpus);
        if (peak.ours.Total() != 0 && peak.document.Total() != 0) {
            std::printf("  %-16s %8zu KiB (%zu + %zu) / %8zu KiB  %5.2f\n", corpus,
                        peak.ours.Total() / 1024, peak.ours.tree / 1024, peak.ours.heap / 1024,
                        peak.document.Total() / 1024,
                        static_cast<double>(peak.ours.Total()) /
                            static_cast<double>(peak.document.Total()));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    using Compact = rapidjson::Writer<rapidjson::StringBuffer>;
    using Indented = rapidjson::PrettyWriter<rapidjson::StringBuffer>;
    constexpr unsigned kFull = rapidjson::kParseDefaultFlags | rapidjson::kParseFullPrecisionFlag;
    std::map<std::string, std::string> inputs;
    for (const char* corpus : kCorpora) {
        std::string& text = inputs[corpus];
        text = Tavo::Bench::LoadFile(std::string(TAVO_BENCH_DATA) + "/json/" + corpus + ".json");
        if (text.empty()) {
            std::fprintf(stderr, "bench_json: cannot read the %s corpus\n", corpus);
            return 1;
        }
        auto add = [&](const char* name, auto function, auto... extra) {
            benchmark::RegisterBenchmark((std::string(name) + "/" + corpus).c_str(), function, text,
                                         extra...)
                ->Unit(benchmark::kMillisecond);
        };
        add("ParseJson", ParseOurs);
        add("Document_Parse", ParseDocument<rapidjson::kParseDefaultFlags>);
        add("Document_Parse_FullPrecision", ParseDocument<kFull>);
        add("WriteJson", WriteOurs, static_cast<const char*>(nullptr));
        add("Writer", WriteDocument<Compact>);
        add("WriteJson_Indented", WriteOurs, "\n");
        add("PrettyWriter", WriteDocument<Indented>);
    }
    const std::map<std::string, PeakMemory> peaks = MeasurePeakMemory(inputs);
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    for (const char* corpus : kCorpora) {
        const std::string c = std::string("/") + corpus;
        reporter.PrintRatio("ParseJson" + c, "Document_Parse" + c);
        reporter.PrintRatio("ParseJson" + c, "Document_Parse_FullPrecision" + c);
        reporter.PrintRatio("WriteJson" + c, "Writer" + c);
        reporter.PrintRatio("WriteJson_Indented" + c, "PrettyWriter" + c);
    }
    PrintPeakMemory(peaks);
    benchmark::Shutdown();
    return 0;
}
