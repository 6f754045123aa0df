// Host events delivered to a loaded heartbeat module. The input is a run of
// events separated by "\n==\n"; each starts with one selector byte that picks
// the event among those the module subscribed (resource paths and the three
// service-proxy events) and the virtual seconds to run its timers for after
// it, followed by the payload: JSON text (converted into the host value the
// host would send), or after "!" a raw host value tree (HostValueBuilder.h).
// The host answers every request with the text after a final "\n--\n" as a
// JSON body (a usable session when there is none). Checked: nothing crashes
// or leaks under the sanitizers, every event is taken without a C++ exception
// leaving the module, and Shutdown leaves no host subscription behind.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "HeartbeatModule.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "framework/PluginEntry.h"
#include "fuzz/HostValueBuilder.h"
#include "logging/LogManager.h"
#include "tests/framework/TestHost.h"

namespace {

using namespace Tavo;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_module_events: %s\n", what);
        std::abort();
    }
}

// The event names of the module's subscriptions, in subscription order.
std::vector<std::string> SubscribedEvents(const Testing::TestHost& host) {
    std::vector<std::string> names;
    for (const Testing::HostCall& call : host.CallsTo(Testing::HostEntry::Subscribe)) {
        const std::size_t open = call.line.find('\'');
        const std::size_t close = call.line.rfind('\'');
        if (open != std::string::npos && close > open) {
            names.push_back(call.line.substr(open + 1, close - open - 1));
        }
    }
    return names;
}

// The host value of one payload; `owned` is released by the caller.
HostValue Payload(std::string_view text, Fuzzing::HostValueBuilder*& raw, bool& owned) {
    owned = false;
    if (!text.empty() && text.front() == '!') {
        raw = new Fuzzing::HostValueBuilder(text.substr(1));
        return raw->Build();
    }
    HostValue value{};
    const BindingResult parsed = ParseJson(std::string(text));
    if (parsed.IsOk() && HostValueFromProperty(value, parsed.Value(), nullptr)) {
        owned = true;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every line reaches the host's log entry, where the checks read them.
    LogManager::SetMinimumLevel(LogLevel::Okay);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string answer = R"({"state": "SUCCEEDED", "summonerId": 7, "accountId": 9})";
    if (const std::size_t split = input.rfind("\n--\n"); split != std::string_view::npos) {
        answer = std::string(input.substr(split + 4));
        input = input.substr(0, split);
    }

    Testing::TestHost host;
    host.SetRequestHandler([&answer](HostResponse& response, const HostRequest&) {
        const BindingResult parsed = ParseJson(answer);
        if (!parsed.IsOk() || !HostValueFromProperty(response.body, parsed.Value(), nullptr)) {
            response.error = "Refused";
            response.hasError = 1;
            response.status = 500;
            return;
        }
        response.release = [](HostResponse* released) { ResetHostValue(released->body); };
    });
    PluginLoadRecord record{};
    record.apiMajor = 18;
    void* module = Client::LoadPlugin<Client::Heartbeat::HeartbeatModule>(&record, "vex-heartbeat");
    Check(module != nullptr, "the module does not load");
    record.callbacks->Initialize(module, host.Connection());
    const std::vector<std::string> events = SubscribedEvents(host);

    while (!input.empty() && !events.empty()) {
        const std::size_t end = input.find("\n==\n");
        const std::string_view part = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 4);
        if (part.empty()) {
            continue;
        }
        const auto selector = static_cast<std::uint8_t>(part.front());
        Fuzzing::HostValueBuilder* raw = nullptr;
        bool owned = false;
        HostValue payload = Payload(part.substr(1), raw, owned);
        host.Deliver(events[selector % events.size()], payload);
        host.RunUntil(60.0 * (selector >> 4));
        if (owned) {
            ResetHostValue(payload);
        }
        delete raw;
    }
    host.RunUntil(600);
    record.callbacks->Shutdown(module);
    for (const std::string& name : events) {
        Check(!host.IsSubscribed(name), "a subscription outlives Shutdown");
    }
    const auto lines = host.Trace(Testing::HostEntry::Log);
    for (const std::string& line : lines) {
        Check(line.find("Exception caught") == std::string::npos,
              "a C++ exception reached the boundary guard");
    }
    return 0;
}
