// ulm-host call: loads a plugin, initializes it against a quiet development
// host and performs one request against its exported functions through the
// dispatch callback of its export entries, as the plugin manager does. Prints
// the status, the headers and the result.
//
//   ulm-host call [--plugin PATH] [--api-version X.Y.Z] [--json]
//                 [--header NAME=VALUE]... [--body FILE --content-type TYPE]
//                 [--arg VALUE]... METHOD TARGET
//
// METHOD is "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST" or "PUT" (any
// case); any other word is sent as a method named by text. TARGET is the
// path, optionally followed by "?" and a query. Each --arg is one positional
// host argument: its VALUE is read as JSON when it is JSON ("5", "[1,2]",
// "\"text\""), otherwise it is the text itself, passed exactly as typed
// ("[1,2]" is one list, "[]" an empty one). Each --header's NAME is
// lower-cased, as the real host hands header names. --body "-" reads
// standard input.
//
// The entry called is the one whose path template matches the target (the
// first entry otherwise): any entry's dispatch context reaches every exported
// function, so the choice only matters for a plugin that routes by entry.
//
// Exit 0 when the response has no error and a status below 400; 1 when it
// has, or when the plugin cannot be loaded or has no function; 2 for a wrong
// command line. The plugin is shut down before the command returns.

#include <CLI/CLI.hpp>
#include <cctype>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DevHost.h"
#include "HostCommand.h"
#include "PluginLoader.h"
#include "Timeline.h"
#include "binding/BindingProperty.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "remoting/HttpMethod.h"
#include "remoting/RemotingRoute.h"

namespace Tavo::Host {

namespace {

// A streamed body longer than this is cut (and said so): a runaway stream
// must not fill the host's memory.
constexpr std::size_t kMaxStreamBytes = 64u << 20;
constexpr std::uint32_t kMaxEntries = 1u << 20;

// The method code for a name: 1..7 for the fixed names (any case), else 8.
std::uint32_t MethodCode(std::string_view name) {
    for (std::uint32_t code = 1; code <= 7; ++code) {
        const std::string_view fixed = MethodName(code);
        if (fixed.size() == name.size() && StartsWithIgnoringCase(name, fixed)) {
            return code;
        }
    }
    return static_cast<std::uint32_t>(HttpMethod::Named);
}

// "5" → 5, "[1,2]" → a collection, "abc" → the text.
BindingProperty ArgumentValue(const std::string& text) {
    BindingResult parsed = ParseJson(text);
    if (parsed.IsOk() && !text.empty()) {
        return std::move(parsed.Value());
    }
    BindingProperty value;
    value.SetString(text);
    return value;
}

bool ReadBody(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return !in.bad();
}

// The entry whose path template matches `path`, else the first.
const ApiExportFunctionEntry* ChooseEntry(const PluginApiExport& block, std::string_view path) {
    std::uint32_t walked = 0;
    std::vector<std::string_view> captures;
    for (const ApiExportFunctionRecord* record = &block.functions->function;
         record != nullptr && walked < kMaxEntries; record = record->next, ++walked) {
        const auto* entry = reinterpret_cast<const ApiExportFunctionEntry*>(record);
        const char* pathTemplate = entry->pathTemplate;
        if (pathTemplate != nullptr && UrlTemplate(pathTemplate).Match(path, captures)) {
            return entry;
        }
    }
    return block.functions;
}

// Reads a streamed body to its end (or kMaxStreamBytes) and closes it.
std::string ReadStream(const HostResponse& response, bool& complete) {
    const HostStreamReadFn read = response.streamRead;
    const HostStreamCloseFn close = response.streamClose;
    void* const context = response.streamContext;
    std::string body;
    complete = false;
    char buffer[4096];
    while (body.size() < kMaxStreamBytes) {
        std::uint32_t length = sizeof buffer;
        std::uint8_t more = 1;
        if (read(context, buffer, &length, &more) == 0) {
            break;
        }
        body.append(buffer, length < sizeof buffer ? length : sizeof buffer);
        if (more == 0) {
            complete = true;
            break;
        }
    }
    if (close != nullptr) {
        close(context);
    }
    return body;
}

class CallCommand final : public HostCommand {
public:
    void AddTo(CLI::App& subcommand) override {
        subcommand.add_option("method", method_, "HTTP method (GET, POST, ... or any word)")
            ->required();
        subcommand.add_option("target", target_, "Path of the request, with its query")->required();
        pluginOptions_.AddTo(subcommand, "Plugin API version the host offers (default 18.0.0)");
        // Each vector option takes one value per use, exactly as typed: the
        // library would otherwise split "[1,2]" into a list and refuse "[]".
        subcommand
            .add_option("--header", headers_,
                        "A request header; its name is lower-cased, as the real host hands them")
            ->type_name("NAME=VALUE")
            ->allow_extra_args(false)
            ->check(CLI::Validator(
                [](std::string& text) {
                    return text.find('=') == std::string::npos ? "'" + text + "' is not NAME=VALUE"
                                                               : std::string();
                },
                "", "header"));
        subcommand
            .add_option("--body", bodyPath_, "File holding the request body ('-': standard input)")
            ->type_name("FILE");
        subcommand.add_option("--content-type", contentType_, "Content type of the body")
            ->type_name("TYPE");
        subcommand
            .add_option("--arg", arguments_, "A positional argument: JSON, or else the text itself")
            ->type_name("VALUE")
            ->allow_extra_args(false);
        subcommand.add_flag("--json", json_, "Write the response as one JSON document");
    }

    int Run() override {
        const PluginApiVersion hostVersion = pluginOptions_.HostVersion();
        std::string body;
        if (!bodyPath_.empty() && !ReadBody(bodyPath_, body)) {
            std::fprintf(stderr, "ulm-host call: cannot read the body from %s\n",
                         bodyPath_.c_str());
            return kExitFailure;
        }

        const std::string path = pluginOptions_.Path();
        std::string error;
        std::unique_ptr<PluginLibrary> plugin = PluginLibrary::Load(path, hostVersion, error);
        if (!plugin) {
            std::fprintf(stderr, "ulm-host call: %s\n", error.c_str());
            return kExitFailure;
        }
        Timeline timeline(stderr, TimelineFormat::Text, true);
        DevHost host(timeline);
        if (!plugin->Initialize(host.Connection())) {
            std::fputs("ulm-host call: the plugin did not start (Initialize returned false)\n",
                       stderr);
            return Finish(*plugin, host, kExitFailure);
        }
        const PluginApiExport* block = plugin->ApiExport();
        if (block == nullptr || block->functions == nullptr || block->functionCount == 0) {
            std::fprintf(stderr, "ulm-host call: %s exports no function\n",
                         plugin->ShortName().c_str());
            return Finish(*plugin, host, kExitFailure);
        }
        return Finish(*plugin, host, Call(*block, body));
    }

private:
    int Call(const PluginApiExport& block, const std::string& body) {
        std::vector<HostHeaderPair> headers;
        std::vector<std::pair<std::string, std::string>> headerTexts;
        for (const std::string& header : headers_) {
            const std::size_t equals = header.find('=');
            std::string name = header.substr(0, equals);
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            headerTexts.emplace_back(std::move(name), header.substr(equals + 1));
        }
        for (const auto& [name, value] : headerTexts) {
            headers.push_back({name.c_str(), value.c_str()});
        }
        std::vector<HostRequestArgument> arguments(arguments_.size());
        bool converted = true;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            converted =
                HostValueFromProperty(arguments[i].value, ArgumentValue(arguments_[i]), nullptr) &&
                converted;
        }

        const std::uint32_t method = MethodCode(method_);
        const ApiExportFunctionEntry& entry =
            *ChooseEntry(block, std::string_view(target_).substr(0, target_.find('?')));
        HostRequest request{};
        request.method = method;
        request.target = target_.c_str();
        request.arguments = arguments.empty() ? nullptr : arguments.data();
        request.argumentCount = static_cast<std::uint32_t>(arguments.size());
        request.dispatchContext = entry.function.dispatchContext;
        request.headers = headers.empty() ? nullptr : headers.data();
        request.headerCount = static_cast<std::uint32_t>(headers.size());
        request.contentType = contentType_.c_str();
        if (!bodyPath_.empty()) {
            request.body = reinterpret_cast<const std::uint8_t*>(body.data());
            request.bodyLength = static_cast<std::uint32_t>(body.size());
        }
        request.methodName =
            method == static_cast<std::uint32_t>(HttpMethod::Named) ? method_.c_str() : nullptr;

        HostResponse response{};
        int status = kExitFailure;
        if (!converted) {
            std::fputs("ulm-host call: an argument is too large for a host value\n", stderr);
        } else {
            const RemotingDispatchFn dispatch = entry.dispatch;
            dispatch(&response, &request);
            status = Print(response);
            const HostResponseReleaseFn release = response.release;
            if (release != nullptr) {
                release(&response);
            }
        }
        for (HostRequestArgument& argument : arguments) {
            ResetHostValue(argument.value);
        }
        return status;
    }

    // Writes the response; returns the exit status it stands for.
    int Print(const HostResponse& response) {
        BindingProperty out;
        const std::int32_t status = response.status;
        const char* errorText = response.error;
        const bool failed = response.hasError != 0 || errorText != nullptr || status >= 400;
        out.Field("status").SetSigned(status);
        if (response.hasError != 0 || errorText != nullptr) {
            out.Field("error").SetString(errorText != nullptr ? errorText : "");
        }
        const char* contentType = response.contentType;
        if (contentType != nullptr) {
            out.Field("contentType").SetString(contentType);
        }
        BindingProperty& headers = out.Field("headers");
        headers.MakeCollection();
        const HostHeaderPair* pairs = response.headers;
        const std::uint32_t headerCount = response.headerCount;
        for (std::uint32_t i = 0; pairs != nullptr && i < headerCount; ++i) {
            BindingProperty& pair = headers.Append();
            pair.Field("name").SetString(pairs[i].name);
            pair.Field("value").SetString(pairs[i].value);
        }
        const HostStreamReadFn read = response.streamRead;
        if (read != nullptr) {
            bool complete = false;
            out.Field("stream").SetString(ReadStream(response, complete));
            if (!complete) {
                out.Field("streamIncomplete").SetBool(true);
            }
        } else {
            BindingResult result = PropertyFromHostValue(response.body, "<result>");
            if (!result.IsOk()) {
                std::fprintf(stderr, "ulm-host call: the result is not a valid host value: %s\n",
                             std::string(result.ErrorMessage()).c_str());
                return kExitFailure;
            }
            out.Field("result") = std::move(result.Value());
        }

        std::string text;
        if (json_) {
            text = WriteJson(out, nullptr, "\n") + "\n";
        } else {
            text = "status: " + std::to_string(status) + "\n";
            if (!out.Find("error").IsEmpty()) {
                text += "error: " + std::string(out.Find("error").GetString()) + "\n";
            }
            if (contentType != nullptr) {
                text += "content-type: " + std::string(contentType) + "\n";
            }
            for (const BindingProperty& pair : headers.Elements()) {
                text += "header: " + std::string(pair.Find("name").GetString()) + ": " +
                        std::string(pair.Find("value").GetString()) + "\n";
            }
            if (read != nullptr) {
                text += std::string(out.Find("stream").GetString()) + "\n";
            } else if (!out.Find("result").IsEmpty()) {
                text += WriteJson(out.Find("result"), nullptr, "\n") + "\n";
            }
        }
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            std::fputs("ulm-host call: cannot write standard output\n", stderr);
            return kExitFailure;
        }
        return failed ? kExitFailure : kExitOk;
    }

    static int Finish(PluginLibrary& plugin, DevHost& host, int status) {
        plugin.Shutdown();
        host.Detach();
        return status;
    }

    std::string method_;
    std::string target_;
    PluginOptions pluginOptions_;
    std::vector<std::string> headers_;
    std::string bodyPath_;
    std::string contentType_;
    std::vector<std::string> arguments_;
    bool json_ = false;
};

}  // namespace

RegisteredCommand AddCallCommand(CLI::App& app) {
    return AddCommand(app, std::make_unique<CallCommand>(), "call",
                      "Load a plugin and send one request to the functions it exports");
}

}  // namespace Tavo::Host
