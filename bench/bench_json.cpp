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
// printed at the end.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"

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
    benchmark::Shutdown();
    return 0;
}
