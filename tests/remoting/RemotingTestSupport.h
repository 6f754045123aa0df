#pragma once
// Sends requests to the functions of a RemotingApi through the export block
// and its dispatch callback, exactly as a host does, and reads the answers
// back into plain values.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binding/BindingApiExport.h"
#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"
#include "framework/HostAbi.h"
#include "remoting/RemotingApi.h"

namespace Tavo::Testing {

struct TestRequest {
    HttpMethod method = HttpMethod::Get;
    std::string target;
    std::string methodName;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    std::string contentType;
    // Host argument entries: a name, or none for a positional entry.
    std::vector<std::pair<std::optional<std::string>, BindingProperty>> arguments;
};

struct Reply {
    std::int32_t status = 0;
    bool hasError = false;
    std::string error;
    std::string json;  // the result value as compact JSON
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint8_t flags = 0;
    std::uint32_t format = 0;
};

// Reads and releases a response a dispatch callback filled. `registry` (may
// be null) names enum values in the JSON.
inline Reply ReadReply(HostResponse& response, const BindingRegistry* registry) {
    Reply reply;
    reply.status = response.status;
    reply.hasError = response.hasError != 0;
    reply.error = response.error != nullptr ? response.error : "";
    BindingResult body = PropertyFromHostValue(response.body, "<result>");
    EXPECT_TRUE(body.IsOk()) << body.ErrorMessage();
    reply.json = WriteJson(body.Value(), registry);
    reply.contentType = response.contentType != nullptr ? response.contentType : "";
    const HostHeaderPair* headers = response.headers;
    for (std::uint32_t i = 0; i < response.headerCount; ++i) {
        reply.headers.emplace_back(headers[i].name, headers[i].value);
    }
    reply.flags = response.responseFlags;
    reply.format = response.bodyFormat;
    const HostResponseReleaseFn release = response.release;  // packed: read by value
    EXPECT_NE(release, nullptr);
    if (release != nullptr) {
        release(&response);
    }
    return reply;
}

// Sends `request` through the first function entry of `block`, as a host
// does: any entry's dispatch context reaches every function.
inline Reply SendRequest(const PluginApiExport& block, const TestRequest& request,
                         const BindingRegistry* registry = nullptr) {
    std::vector<HostHeaderPair> headers;
    for (const auto& [name, value] : request.headers) {
        headers.push_back({name.c_str(), value.c_str()});
    }
    std::vector<HostRequestArgument> arguments(request.arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& [name, value] = request.arguments[i];
        arguments[i].name = name ? name->c_str() : nullptr;
        EXPECT_TRUE(HostValueFromProperty(arguments[i].value, value, nullptr));
    }
    HostRequest host{};
    host.method = static_cast<std::uint32_t>(request.method);
    host.target = request.target.c_str();
    host.arguments = arguments.empty() ? nullptr : arguments.data();
    host.argumentCount = static_cast<std::uint32_t>(arguments.size());
    host.headers = headers.empty() ? nullptr : headers.data();
    host.headerCount = static_cast<std::uint32_t>(headers.size());
    host.contentType = request.contentType.c_str();
    if (request.body) {
        host.body = reinterpret_cast<const std::uint8_t*>(request.body->data());
        host.bodyLength = static_cast<std::uint32_t>(request.body->size());
    }
    host.context = 77;
    host.methodName = request.methodName.c_str();
    EXPECT_GT(block.functionCount, 0u);
    if (block.functionCount == 0) {
        return {};
    }
    host.dispatchContext = block.functions[0].function.dispatchContext;

    HostResponse response{};
    block.functions[0].dispatch(&response, &host);
    for (HostRequestArgument& argument : arguments) {
        ResetHostValue(argument.value);
    }
    return ReadReply(response, registry);
}

// The export block of an API built in this process.
class ExportedApi {
public:
    explicit ExportedApi(const RemotingApi& api) : api_(api), exported_(BuildApiExport(api)) {}

    const PluginApiExport& Block() const { return exported_.Block(); }

    Reply Send(const TestRequest& request) const { return SendRequest(Block(), request, &api_); }
    Reply Send(HttpMethod method, std::string target) const {
        TestRequest request;
        request.method = method;
        request.target = std::move(target);
        return Send(request);
    }
    Reply Read(HostResponse& response) const { return ReadReply(response, &api_); }

private:
    const RemotingApi& api_;
    BindingApiExport exported_;
};

}  // namespace Tavo::Testing
