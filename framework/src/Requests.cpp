// Requests to the host: building the request record, classifying the
// response, reading a streamed body. The templates are in framework/Requests.h.

#include "framework/Requests.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "logging/Format.h"
#include "platform/MemoryAccounting.h"

namespace Tavo::Client {

namespace {

// Closes a stream once, when the read is over however it ended.
class StreamCloser {
public:
    StreamCloser(HostStreamCloseFn close, void* context) : close_(close), context_(context) {}
    ~StreamCloser() {
        if (close_ != nullptr) {
            close_(context_);
        }
    }
    StreamCloser(const StreamCloser&) = delete;
    StreamCloser& operator=(const StreamCloser&) = delete;

private:
    HostStreamCloseFn close_;
    void* context_;
};

}  // namespace

std::uint32_t HostMethodCode(HttpMethod method) {
    const auto code = static_cast<std::uint32_t>(method);
    return code >= 1 && code <= 8 ? code : 0;
}

bool HostResultFail(HostResponse& response, const std::string& message) {
    HostValue body = response.body;
    ResetHostValue(body);
    response.body = body;
    Memory::Free(const_cast<char*>(response.error));
    char* copy = Memory::DuplicateText(message.c_str());
    response.error = copy;
    response.hasError = 1;
    return copy != nullptr;
}

namespace detail {

RequestArguments::~RequestArguments() {
    for (HostRequestArgument& entry : entries_) {
        ResetHostValue(entry.value);
    }
}

bool RequestArguments::Append(const BindingResult& converted, const BindingRegistry& registry,
                              std::string& error) {
    if (!converted.IsOk()) {
        error = converted.ErrorMessage();
        return false;
    }
    HostRequestArgument& entry = entries_.emplace_back();
    entry.name = nullptr;
    entry.value = HostValue{};
    if (!HostValueFromProperty(entry.value, converted.Value(), &registry)) {
        entries_.pop_back();  // null, owns nothing
        error = "The value is too large or too deeply nested for a host value.";
        return false;
    }
    return true;
}

ResponseRelease::~ResponseRelease() {
    const HostResponseReleaseFn release = response_.release;
    if (release != nullptr) {
        release(&response_);
    }
}

}  // namespace detail

Failure AppModule::ArgumentFailure(HttpMethod method, const std::string& path,
                                   std::string_view message) {
    return Failure(400, Format("Request not sent: Error converting parameters for %1 %2: %3",
                               MethodName(method), path, message));
}

Maybe<void> AppModule::SendArguments(HostResponse& response, HttpMethod method,
                                     const std::string& path,
                                     const detail::RequestArguments& arguments) {
    // Why: without a host nothing would fill the response, and the zeroed
    // record would read as a success with an empty body.
    const HostConnection* connection = Connection();
    if (connection == nullptr || connection->host == nullptr ||
        connection->host->hostSendRequest == nullptr) {
        return Failure(
            0, Format("Request not sent: no host to send %1 %2 to", MethodName(method), path));
    }
    HostRequest request{};
    request.method = HostMethodCode(method);
    request.target = path.c_str();
    request.arguments = arguments.Data();
    request.argumentCount = arguments.Count();
    request.context = hostContext_;
    hostSendRequest(&response, &request);
    const char* error = response.error;
    if (error != nullptr) {
        return Failure(response.status,
                       Format("Error response for %1 %2: %3", MethodName(method), path, error));
    }
    return Maybe<void>::Success();
}

Maybe<BindingProperty> AppModule::ReadResponseBody(const HostResponse& response, HttpMethod method,
                                                   const std::string& path) {
    if (response.streamRead == nullptr) {
        const HostValue body = response.body;
        BindingResult value = PropertyFromHostValue(body, "<result>");
        if (!value.IsOk()) {
            return Failure(0, Format("Error converting response for %1 %2: %3", MethodName(method),
                                     path, value.ErrorMessage()));
        }
        return std::move(value.Value());
    }
    Maybe<BindingProperty> streamed = ReadStreamedBody(response);
    if (!streamed) {
        return Failure(0, Format("Error reading streamed response for %1 %2: %3",
                                 MethodName(method), path, streamed.Error().Message()));
    }
    return streamed;
}

Maybe<BindingProperty> AppModule::ReadStreamedBody(const HostResponse& response) {
    const HostStreamReadFn read = response.streamRead;
    void* const context = response.streamContext;
    const StreamCloser closer(response.streamClose, context);

    std::string text;
    try {
        // The hint's low 32 bits; a hint of 15 or less is not worth reserving.
        const auto hint = static_cast<std::uint32_t>(response.expectedSize);
        if (hint > 15) {
            text.reserve(std::min(hint, kMaxStreamReservation));
        }
        char buffer[kStreamChunkSize];
        for (;;) {
            std::uint32_t length = kStreamChunkSize;
            std::uint8_t more = 1;
            // A reader claiming more than the buffer holds has broken its
            // contract; its bytes cannot be trusted.
            if (read(context, buffer, &length, &more) == 0 || length > kStreamChunkSize) {
                return Failure(0, "Stream read error");
            }
            text.append(buffer, length);
            if (more == 0) {
                break;
            }
            if (length < kStreamChunkSize) {
                Yield();
            }
        }
    } catch (const std::bad_alloc&) {
        return Failure(0, "Out of memory.");
    } catch (const std::length_error&) {
        return Failure(0, "Out of memory.");
    }
    BindingResult parsed = ParseJson(text);
    if (!parsed.IsOk()) {
        return Failure(0, std::string(parsed.ErrorMessage()));
    }
    return std::move(parsed.Value());
}

Maybe<BindingProperty> AppModule::GetResource(const std::string& path) {
    return Request<BindingProperty>(HttpMethod::Get, path);
}

}  // namespace Tavo::Client
