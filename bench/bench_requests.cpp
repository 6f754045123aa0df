// Host services of the module, against a minimal in-process host.
// Input: the JSON corpora (citm_catalog, twitter, small_objects) and one
// login-session resource event. Measures, in input bytes per CPU second:
// - GetResource of a corpus served as a stream (4096-byte chunks, size hint
//   set), which reads, yields never (full chunks) and parses into a dynamic
//   value, against RapidJSON's Document::Parse of the same text with default
//   flags (the reference) and against ParseJson alone (the cost the request
//   path adds on top of parsing);
// - delivery of one resource event (host value → dynamic value → record →
//   typed listener, with the listener's own conversion) against RapidJSON
//   parsing the same event as JSON text.
// The ratios (reference time over ours, above 1 when ours is faster) are
// printed at the end.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/BenchSupport.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "framework/AppModule.h"

namespace {

const char* const kCorpora[] = {"citm_catalog", "twitter", "small_objects"};

// The session record the listener converts into.
struct Session {
    std::string state;
    std::uint64_t summonerId = 0;
    std::uint64_t accountId = 0;
    std::string name;
};

class BenchModule : public Tavo::Client::AppModule {
public:
    void RegisterApiTypes() override {
        DeclareStruct<Session>("Session")
            .AddField("state", &Session::state)
            .AddField("summonerId", &Session::summonerId)
            .AddField("accountId", &Session::accountId)
            .AddField("name", &Session::name);
    }
};

// The host: serves `body` as a stream to every request, keeps the one event
// subscription the benchmark makes, ignores everything else.
struct BenchHost {
    Tavo::HostInterface table{};
    Tavo::HostConnection connection{&table, 1};
    const std::string* body = nullptr;
    std::size_t offset = 0;
    Tavo::HostEventCallback callback = nullptr;
    void* context = nullptr;

    static BenchHost& From(Tavo::HostInterface* self) {
        return *reinterpret_cast<BenchHost*>(self);  // `table` is the first member
    }
    static std::uint8_t Read(void* context, void* buffer, std::uint32_t* length,
                             std::uint8_t* more) {
        BenchHost& host = *static_cast<BenchHost*>(context);
        const std::size_t left = host.body->size() - host.offset;
        const std::size_t count = left < *length ? left : *length;
        std::memcpy(buffer, host.body->data() + host.offset, count);
        host.offset += count;
        *length = static_cast<std::uint32_t>(count);
        *more = host.offset < host.body->size() ? 1 : 0;
        return 1;
    }
    static std::uint32_t SendRequest(Tavo::HostInterface* self, Tavo::HostResponse* response,
                                     const Tavo::HostRequest*) {
        BenchHost& host = From(self);
        if (host.body != nullptr) {
            host.offset = 0;
            response->streamRead = &Read;
            response->streamContext = &host;
            response->expectedSize = host.body->size();
        }
        return 0;
    }
    static std::uint32_t Subscribe(Tavo::HostInterface* self, const char*, std::uint32_t,
                                   Tavo::HostEventCallback callback, void* context,
                                   std::int32_t flags) {
        if (flags == 0) {
            From(self).callback = callback;
            From(self).context = context;
        }
        return 0;
    }
    static std::uint32_t Nothing(Tavo::HostInterface*) { return 0; }
    static std::uint32_t Unsubscribe(Tavo::HostInterface*, const char*, std::uint32_t) { return 0; }
    static std::uint32_t BeginWait(Tavo::HostInterface*, const char*, std::int32_t) { return 0; }
    static void LogLine(Tavo::HostInterface*, std::int32_t, const char*) {}

    BenchHost() {
        table.hostSendRequest = &SendRequest;
        table.hostSubscribe = &Subscribe;
        table.hostUnsubscribe = &Unsubscribe;
        table.hostYield = &Nothing;
        table.hostBeginWait = &BeginWait;
        table.hostEndWait = &Nothing;
        table.hostLog = &LogLine;
    }
};
static_assert(std::is_standard_layout_v<BenchHost>);

// A loaded, initialized module on a BenchHost, shut down at the end.
class LoadedBenchModule {
public:
    LoadedBenchModule() {
        Tavo::PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
        handle_ = Tavo::Client::LoadPlugin<BenchModule>(&record, "bench");
        callbacks_ = record.callbacks;
        callbacks_->Initialize(handle_, &host.connection);
    }
    ~LoadedBenchModule() { callbacks_->Shutdown(handle_); }
    BenchModule& Module() {
        return *static_cast<BenchModule*>(static_cast<Tavo::Client::AppModule*>(handle_));
    }

    BenchHost host;

private:
    void* handle_ = nullptr;
    const Tavo::PluginCallbacks* callbacks_ = nullptr;
};

void SetBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void StreamedGet(benchmark::State& state, const std::string& text) {
    LoadedBenchModule loaded;
    loaded.host.body = &text;
    for (auto _ : state) {
        Tavo::Maybe<Tavo::BindingProperty> value = loaded.Module().GetResource("/corpus");
        if (!value) {
            state.SkipWithError(value.Error().Message());
            break;
        }
        benchmark::DoNotOptimize(value.Value());
    }
    SetBytes(state, text.size());
}

void ParseOurs(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        Tavo::BindingResult result = Tavo::ParseJson(text);
        benchmark::DoNotOptimize(result.Value());
    }
    SetBytes(state, text.size());
}

void ParseRapidJson(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str());
        benchmark::DoNotOptimize(document);
    }
    SetBytes(state, text.size());
}

const char* const kSessionEvent =
    R"({"uri":"/vex-login/v1/session","eventType":"Update","data":)"
    R"({"state":"SUCCEEDED","summonerId":2743823,"accountId":200448913,"name":"Summoner"}})";

void DeliverEvent(benchmark::State& state) {
    LoadedBenchModule loaded;
    std::int64_t delivered = 0;
    loaded.Module().AddResourceListener<Session>(
        "/vex-login/v1/session", [&delivered](const Tavo::Client::ResourceUpdate<Session>& update) {
            delivered += update.data.accountId != 0 ? 1 : 0;
        });
    Tavo::BindingResult parsed = Tavo::ParseJson(kSessionEvent);
    Tavo::HostEvent event{};
    event.name = "OnJsonApiEvent_vex-login_v1_session";
    event.context = loaded.host.context;
    if (!Tavo::HostValueFromProperty(event.payload, parsed.Value(), nullptr)) {
        state.SkipWithError("no host value");
        return;
    }
    for (auto _ : state) {
        loaded.host.callback(&event);
    }
    Tavo::ResetHostValue(event.payload);
    if (delivered != state.iterations()) {
        state.SkipWithError("events were dropped");
    }
    SetBytes(state, std::strlen(kSessionEvent));
}

void ParseEventRapidJson(benchmark::State& state) {
    const std::string text = kSessionEvent;
    ParseRapidJson(state, text);
}

}  // namespace

int main(int argc, char** argv) {
    static std::map<std::string, std::string> texts;
    for (const char* corpus : kCorpora) {
        std::string text =
            Tavo::Bench::LoadFile(std::string(TAVO_BENCH_DATA) + "/json/" + corpus + ".json");
        if (text.empty()) {
            std::fprintf(stderr, "bench_requests: corpus %s not found\n", corpus);
            return 1;
        }
        texts[corpus] = std::move(text);
    }
    for (const auto& [corpus, text] : texts) {
        const std::string* input = &text;
        benchmark::RegisterBenchmark(("StreamedGet/" + corpus).c_str(),
                                     [input](benchmark::State& s) { StreamedGet(s, *input); });
        benchmark::RegisterBenchmark(("ParseJson/" + corpus).c_str(),
                                     [input](benchmark::State& s) { ParseOurs(s, *input); });
        benchmark::RegisterBenchmark(("RapidJsonParse/" + corpus).c_str(),
                                     [input](benchmark::State& s) { ParseRapidJson(s, *input); });
    }
    benchmark::RegisterBenchmark("DeliverEvent", &DeliverEvent);
    benchmark::RegisterBenchmark("RapidJsonParseEvent", &ParseEventRapidJson);
    Tavo::Bench::SteadyHeap();
    benchmark::Initialize(&argc, argv);
    Tavo::Bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Tavo::Bench::RatioReporter::PrintHeading();
    for (const char* corpus : kCorpora) {
        const std::string c = corpus;
        reporter.PrintRatio("StreamedGet/" + c, "RapidJsonParse/" + c,
                            "GetResource streamed vs RapidJSON Document::Parse, " + c);
        reporter.PrintRatio("StreamedGet/" + c, "ParseJson/" + c,
                            "GetResource streamed vs ParseJson alone, " + c);
    }
    reporter.PrintRatio("DeliverEvent", "RapidJsonParseEvent",
                        "event delivery vs RapidJSON parse of the event text");
    benchmark::Shutdown();
    return 0;
}
