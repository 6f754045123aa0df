// Requests from the host to the exported functions of the remoting test
// plugin (the shop of tests/remoting/ShopApi.h, loaded in process), through
// the dispatch callback of its export block as the host calls it. The input
// is text:
//   line 1   the method: a name of codes 1..7, a number (the raw code), or
//            any other text (code 8 with that method name)
//   line 2   the target, path and query
//   then     "H name: value" headers, "A name=JSON" named and "P JSON"
//            positional arguments (as the host values the host would send),
//            "T type" the body's content type, "C" a null content type
//   a blank line, then the body's bytes.
// Checked: the callback answers every request with a status (an error text
// for a failure) and nothing crashes, leaks or throws across the boundary.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "logging/LogManager.h"
#include "remoting/HttpMethod.h"

extern "C" void* load_remoting_test(Tavo::PluginLoadRecord* record);

namespace {

using namespace Tavo;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_remoting: %s\n", what);
        std::abort();
    }
}

// Loaded once: the module keeps no state between calls but its call counts.
const ApiExportFunctionEntry* Entry() {
    static PluginLoadRecord record{};
    static const ApiExportFunctionEntry* entry = [] {
        record.apiMajor = 18;
        Check(load_remoting_test(&record) != nullptr, "the test plugin does not load");
        Check(record.apiExport != nullptr && record.apiExport->functions != nullptr,
              "the test plugin exports no function");
        return record.apiExport->functions;
    }();
    return entry;
}

std::string_view NextLine(std::string_view& input) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return line;
}

std::uint32_t MethodCode(std::string_view name, std::string& named) {
    for (std::uint32_t code = 1; code <= 7; ++code) {
        if (name == MethodName(static_cast<HttpMethod>(code))) {
            return code;
        }
    }
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') {
        return static_cast<std::uint32_t>(name[0] - '0');
    }
    named = std::string(name);
    return static_cast<std::uint32_t>(HttpMethod::Named);
}

HostValue FromJson(std::string_view text) {
    HostValue value{};
    const BindingResult parsed = ParseJson(std::string(text));
    if (!parsed.IsOk() || !HostValueFromProperty(value, parsed.Value(), nullptr)) {
        SetString(value, text);  // what does not read as JSON goes as its text
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LogManager::SetMinimumLevel(LogLevel::Always);  // keeps the console quiet
    Entry();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ApiExportFunctionEntry* entry = Entry();
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string methodName;
    const std::uint32_t method = MethodCode(NextLine(input), methodName);
    const std::string target(NextLine(input));

    std::deque<std::string> texts;  // stable storage for the request's texts
    std::vector<HostHeaderPair> headers;
    std::vector<HostRequestArgument> arguments;
    std::string contentType = "application/json";
    bool nullContentType = false;
    while (!input.empty()) {
        const std::string_view line = NextLine(input);
        if (line.empty()) {
            break;
        }
        const std::string_view rest = line.substr(line.size() >= 2 ? 2 : line.size());
        switch (line.front()) {
            case 'H': {
                const std::size_t colon = rest.find(':');
                texts.emplace_back(rest.substr(0, colon));
                const char* name = texts.back().c_str();
                texts.emplace_back(colon == std::string_view::npos ? std::string_view()
                                                                   : rest.substr(colon + 1));
                headers.push_back({name, texts.back().c_str()});
                break;
            }
            case 'A': {
                const std::size_t equals = rest.find('=');
                texts.emplace_back(rest.substr(0, equals));
                arguments.push_back(
                    {texts.back().c_str(),
                     FromJson(equals == std::string_view::npos ? std::string_view()
                                                               : rest.substr(equals + 1))});
                break;
            }
            case 'P':
                arguments.push_back({nullptr, FromJson(rest)});
                break;
            case 'T':
                contentType = std::string(rest);
                break;
            case 'C':
                nullContentType = true;
                break;
            default:
                break;
        }
    }

    HostRequest request{};
    request.method = method;
    request.target = target.c_str();
    request.arguments = arguments.empty() ? nullptr : arguments.data();
    request.argumentCount = static_cast<std::uint32_t>(arguments.size());
    request.dispatchContext = entry->function.dispatchContext;
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<std::uint32_t>(headers.size());
    request.contentType = nullContentType ? nullptr : contentType.c_str();
    request.body = input.empty() ? nullptr : reinterpret_cast<const std::uint8_t*>(input.data());
    request.bodyLength = static_cast<std::uint32_t>(input.size());
    request.methodName = methodName.empty() ? nullptr : methodName.c_str();

    HostResponse response{};
    const RemotingDispatchFn dispatch = entry->dispatch;
    dispatch(&response, &request);
    const std::int32_t status = response.status;
    const char* error = response.error;
    Check(status >= 100 && status <= 599, "the response has no HTTP status");
    Check((response.hasError != 0) == (error != nullptr), "error flag and text disagree");
    Check(status < 400 || error != nullptr, "a failure status without an error text");
    const HostResponseReleaseFn release = response.release;
    Check(release != nullptr, "the response has no release function");
    release(&response);
    for (HostRequestArgument& argument : arguments) {
        ResetHostValue(argument.value);
    }
    return 0;
}
