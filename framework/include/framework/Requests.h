#pragma once
// Requests to the host: the templates of AppModule::SendRequest and
// AppModule::Request, and the response helpers.
//
// A request is a method, a path and positional arguments. Each argument is
// converted native → dynamic value (the module's registry) → host value; the
// module zero-fills the HostRequest and sets only the method code, the path,
// the arguments and the context word (hostContext). The host performs the
// request synchronously and fills the HostResponse; the module reads the
// error text, the status, the body or the stream, and calls the response's
// release function once it is done, however the request ends.
//
// Failures (code, message; %1 method name, %2 path, %3 the inner message):
//   400  "Request not sent: Error converting parameters for %1 %2: %3"
//   status  "Error response for %1 %2: %3"
//   0    "Error converting response for %1 %2: %3"
//   0    "Error reading streamed response for %1 %2: %3"
// Nothing is logged here; the caller decides.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/Converters.h"
#include "framework/AppModule.h"
#include "logging/Format.h"

namespace Tavo::Client {

// Streamed bodies are read in chunks of this many bytes.
inline constexpr std::uint32_t kStreamChunkSize = 4096;
// The most a host's size hint may pre-reserve; the text still grows past it
// as data arrives. Why: the hint comes from the host and a reservation that
// cannot be met would end the plugin.
inline constexpr std::uint32_t kMaxStreamReservation = 64u * 1024u * 1024u;

// The method code handed to the host: 1 to 8 unchanged, 0 for any other.
// [any-thread]
std::uint32_t HostMethodCode(HttpMethod method);

// Marks a response the plugin fills for the host (an exported function's
// answer) as failed: releases its body value, stores a copy of `message` made
// with the duplicate-text hook as its error text (releasing an earlier error
// text, which on this path is the plugin's own copy too) and sets its error
// flag to 1. Returns false, leaving the error text null, when the copy cannot
// be made.
// [any-thread]
bool HostResultFail(HostResponse& response, const std::string& message);

namespace detail {

// The positional arguments of one outgoing request, as host values. Owns the
// values it converted and releases them when destroyed.
class RequestArguments {
public:
    explicit RequestArguments(std::size_t capacity) { entries_.reserve(capacity); }
    ~RequestArguments();
    RequestArguments(const RequestArguments&) = delete;
    RequestArguments& operator=(const RequestArguments&) = delete;

    // Appends `converted` as a host value. False with `error` set when the
    // conversion before failed or the value cannot become a host value.
    bool Append(const BindingResult& converted, const BindingRegistry& registry,
                std::string& error);

    const HostRequestArgument* Data() const { return entries_.empty() ? nullptr : entries_.data(); }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(entries_.size()); }

private:
    std::vector<HostRequestArgument> entries_;
};

// Calls the response's release function (when set) on scope exit.
class ResponseRelease {
public:
    explicit ResponseRelease(HostResponse& response) : response_(response) {}
    ~ResponseRelease();
    ResponseRelease(const ResponseRelease&) = delete;
    ResponseRelease& operator=(const ResponseRelease&) = delete;

private:
    HostResponse& response_;
};

}  // namespace detail

template <class... Args>
Maybe<void> AppModule::SendRequest(HostResponse& response, HttpMethod method,
                                   const std::string& path, const Args&... args) {
    const BindingRegistry& registry = Registry();
    detail::RequestArguments arguments(sizeof...(Args));
    std::string error;
    bool converted = true;
    // In order; the first failure stops the rest.
    ((converted = converted && arguments.Append(ToProperty(args, registry), registry, error)), ...);
    if (!converted) {
        return ArgumentFailure(method, path, error);
    }
    return SendArguments(response, method, path, arguments);
}

template <class R, class... Args>
Maybe<R> AppModule::Request(HttpMethod method, const std::string& path, const Args&... args) {
    HostResponse response{};
    const detail::ResponseRelease release(response);
    Maybe<void> sent = SendRequest(response, method, path, args...);
    if (!sent) {
        return sent.Error();
    }
    if constexpr (std::is_void_v<R>) {
        return Maybe<void>::Success();
    } else {
        Maybe<BindingProperty> body = ReadResponseBody(response, method, path);
        if (!body) {
            return body.Error();
        }
        if constexpr (std::is_same_v<R, BindingProperty>) {
            return std::move(body).Value();
        } else {
            R value{};
            BindingResult context;
            FromProperty(context, value, body.Value(), "<result>", Registry());
            if (!context.IsOk()) {
                return Failure(0, Format("Error converting response for %1 %2: %3",
                                         MethodName(method), path, context.ErrorMessage()));
            }
            return value;
        }
    }
}

}  // namespace Tavo::Client
