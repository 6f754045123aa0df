// YAML reading throughput. Input: the block-style YAML corpora canada,
// citm_catalog, twitter and small_objects (TAVO_BENCH_DATA/yaml), each read
// into memory once. Measures MB of YAML text per second of CPU time for
// - ParseYaml: libyaml events into a BindingProperty tree, tree dropped;
// - a bare libyaml event loop (parse and delete every event): the floor for
//   any reader built on libyaml;
// - yaml-cpp's YAML::Load into its node tree, tree dropped.
// At the end it prints, per corpus, ParseYaml over each reference.

#include <benchmark/benchmark.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "formats/Yaml.h"

namespace {

const char* const kCorpora[] = {"canada", "citm_catalog", "twitter", "small_objects"};

std::string LoadCorpus(const std::string& name) {
    const std::string path = std::string(TAVO_BENCH_DATA) + "/yaml/" + name + ".yaml";
    std::string text = Tavo::Bench::LoadFile(path);
    if (text.empty()) {
        std::fprintf(stderr, "bench_yaml: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return text;
}

void SetThroughput(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void ParseYaml(benchmark::State& state, const std::string* text) {
    for (auto _ : state) {
        Tavo::BindingResult result = Tavo::ParseYaml(*text);
        if (!result.IsOk()) {
            state.SkipWithError("ParseYaml failed");
            break;
        }
        benchmark::DoNotOptimize(result.Value().Size());
    }
    SetThroughput(state, *text);
}

void LibyamlEvents(benchmark::State& state, const std::string* text) {
    for (auto _ : state) {
        yaml_parser_t parser;
        yaml_parser_initialize(&parser);
        yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
        yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text->data()),
                                     text->size());
        std::size_t events = 0;
        for (;;) {
            yaml_event_t event;
            if (yaml_parser_parse(&parser, &event) == 0) {
                state.SkipWithError("libyaml failed");
                break;
            }
            const bool end = event.type == YAML_STREAM_END_EVENT;
            yaml_event_delete(&event);
            ++events;
            if (end) {
                break;
            }
        }
        yaml_parser_delete(&parser);
        benchmark::DoNotOptimize(events);
    }
    SetThroughput(state, *text);
}

void YamlCppLoad(benchmark::State& state, const std::string* text) {
    for (auto _ : state) {
        YAML::Node node = YAML::Load(*text);
        benchmark::DoNotOptimize(node.size());
    }
    SetThroughput(state, *text);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> texts;
    texts.reserve(std::size(kCorpora));
    for (const char* corpus : kCorpora) {
        texts.push_back(LoadCorpus(corpus));
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string corpus = kCorpora[i];
        benchmark::RegisterBenchmark(("ParseYaml/" + corpus).c_str(), ParseYaml, &texts[i]);
        benchmark::RegisterBenchmark(("LibyamlEvents/" + corpus).c_str(), LibyamlEvents, &texts[i]);
        // One time unit for all: the ratios divide the times as reported.
        benchmark::RegisterBenchmark(("YamlCppLoad/" + corpus).c_str(), YamlCppLoad, &texts[i]);
    }

    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    for (const char* corpus : kCorpora) {
        const std::string c = corpus;
        reporter.PrintRatio("ParseYaml/" + c, "LibyamlEvents/" + c);
        reporter.PrintRatio("ParseYaml/" + c, "YamlCppLoad/" + c);
    }
    benchmark::Shutdown();
    return 0;
}
