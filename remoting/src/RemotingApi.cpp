#include "remoting/RemotingApi.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <string>
#include <utility>

#include "RemotingCall.h"
#include "binding/Builtins.h"
#include "binding/HostValueConvert.h"
#include "logging/Format.h"
#include "platform/MemoryAccounting.h"

namespace Tavo {

namespace {

constexpr const char* kInvalidFunction = "Invalid function";
constexpr const char* kResultNotConvertible = "Couldn't convert the result of '%1' for the host.";
constexpr const char* kUnhandledException = "Unhandled exception: %1";
constexpr const char* kUnknownException = "Unhandled exception";

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusBadRequest = 400;
constexpr std::int32_t kStatusNotFound = 404;
constexpr std::int32_t kStatusInternalError = 500;

// The entries, argument locations and route texts of one export; the texts
// themselves belong to the BindingApiExport.
class RemotingFunctionTable final : public BindingApiExport::FunctionTable {
public:
    std::vector<ApiExportFunctionEntry> entries;
    std::vector<ApiExportArgumentLocationEntry> locations;
    std::vector<ApiExportTextListEntry> textLists;
    std::vector<const char*> names;
};

std::uint32_t LocationCode(BindingArgumentLocation location) {
    switch (location) {
        case BindingArgumentLocation::Query:
        case BindingArgumentLocation::Path:
        case BindingArgumentLocation::Header:
        case BindingArgumentLocation::Body:
            return static_cast<std::uint32_t>(location);
        default:
            return 0;
    }
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// Sets the error text (a copy for the host) and the status.
void SetError(HostResponse& response, const char* message, std::int32_t status) noexcept {
    Memory::Free(const_cast<char*>(response.error));
    response.error = Memory::DuplicateText(message);
    response.hasError = 1;
    response.status = status;
}

// Copies the function's answer description into the response.
void WriteDescription(HostResponse& response, const BindingFunctionResponse& description) {
    response.responseFlags = description.flags;
    response.bodyFormat = description.format;
    if (!description.contentType.empty()) {
        response.contentType = Memory::DuplicateText(description.contentType.c_str());
    }
    if (!description.headers.empty()) {
        const std::size_t count = description.headers.size();
        auto* pairs =
            static_cast<HostHeaderPair*>(Memory::Allocate(count * sizeof(HostHeaderPair)));
        if (pairs != nullptr) {
            for (std::size_t i = 0; i < count; ++i) {
                pairs[i].name = Memory::DuplicateText(description.headers[i].first.c_str());
                pairs[i].value = Memory::DuplicateText(description.headers[i].second.c_str());
            }
            response.headers = pairs;
            response.headerCount = static_cast<std::uint32_t>(count);
        }
    }
    if (description.streamRead != nullptr) {
        response.streamRead = description.streamRead;
        response.streamClose = description.streamClose;
        response.expectedSize = description.expectedSize;
        response.streamContext = description.streamContext;
    }
}

// Ends a stream the function opened but the host never received.
void CloseUndelivered(const BindingFunctionResponse& description) noexcept {
    if (description.streamRead != nullptr && description.streamClose != nullptr) {
        description.streamClose(description.streamContext);
    }
}

bool IsRequestRecordType(const StaticType* type, const StaticType& record) {
    return type != nullptr && type->hashCode == record.hashCode;
}

// Releases the call handle however the call ends.
class PreparedCall {
public:
    PreparedCall(const BindingFunctionInvoker& invoker, void* handle)
        : invoker_(invoker), handle_(handle) {}
    ~PreparedCall() { invoker_.Release(handle_); }
    PreparedCall(const PreparedCall&) = delete;
    PreparedCall& operator=(const PreparedCall&) = delete;
    void* Handle() const { return handle_; }

private:
    const BindingFunctionInvoker& invoker_;
    void* handle_;
};

}  // namespace

RemotingApi::RemotingApi() {
    RegisterBuiltins(*this);
}

RemotingApi::~RemotingApi() = default;

void RemotingApi::ExportFunctions(BindingApiExport& exported) const {
    const std::vector<const BindingFunctionDescriptor*> functions = Functions();
    std::lock_guard lock(exportMutex_);
    nameMap_.reserve(functions.size());

    auto table = std::make_unique<RemotingFunctionTable>();
    std::vector<const RemotingDispatchContext*> contexts;
    contexts.reserve(functions.size());
    std::size_t argumentCount = 0;
    std::size_t nameCount = 0;
    for (const BindingFunctionDescriptor* function : functions) {
        const RemotingDispatchContext* context = nullptr;
        if (auto found = nameMap_.find(function->name); found != nameMap_.end()) {
            context = found->second;
        } else {
            routes_.push_back(std::make_unique<RemotingRoute>(*function));
            routeOrder_.push_back(routes_.back().get());
            contexts_.push_back(std::make_unique<RemotingDispatchContext>(
                RemotingDispatchContext{this, routes_.back().get()}));
            context = contexts_.back().get();
            nameMap_.emplace(function->name, context);
        }
        contexts.push_back(context);
        argumentCount += function->arguments.size();
        nameCount += context->route->path.Names().size();
    }

    const std::size_t count = functions.size();
    // Entries point at each other and into the other arrays: size them all
    // before taking any address.
    table->entries.resize(count);
    table->locations.reserve(argumentCount);
    table->textLists.reserve(count);
    table->names.reserve(nameCount);
    for (std::size_t i = 0; i < count; ++i) {
        const BindingFunctionDescriptor& function = *functions[i];
        const RemotingRoute& route = *contexts[i]->route;
        ApiExportFunctionEntry& entry = table->entries[i];
        if (const ApiExportFunctionRecord* record = exported.FindFunctionRecord(function.name)) {
            entry.function = *record;
        }
        entry.function.next = i + 1 < count ? &table->entries[i + 1].function : nullptr;
        entry.function.dispatchContext = const_cast<RemotingDispatchContext*>(contexts[i]);
        entry.dispatch = &RemotingDispatch;

        if (!function.arguments.empty()) {
            const std::size_t first = table->locations.size();
            for (const BindingFunctionArgument& argument : function.arguments) {
                table->locations.push_back({nullptr, LocationCode(argument.location)});
            }
            for (std::size_t a = first; a + 1 < table->locations.size(); ++a) {
                table->locations[a].next = &table->locations[a + 1];
            }
            entry.locations = &table->locations[first];
        }
        entry.pathTemplate = exported.KeepText(route.path.Text());
        entry.method = route.method;
        entry.routeFlags = function.routeFlags;
        const std::vector<std::string>& names = route.path.Names();
        if (!names.empty()) {
            const std::size_t first = table->names.size();
            for (const std::string& name : names) {
                table->names.push_back(exported.KeepText(name));
            }
            table->textLists.push_back(
                {nullptr, &table->names[first], static_cast<std::uint32_t>(names.size())});
            entry.textLists = &table->textLists.back();
            entry.textListCount = 1;
        }
        entry.methodName = exported.KeepText(route.methodName);
    }
    const ApiExportFunctionEntry* first = count == 0 ? nullptr : table->entries.data();
    exported.SetFunctions(first, static_cast<std::uint32_t>(count), std::move(table));
}

const RemotingDispatchContext* RemotingApi::FindDispatchContext(std::string_view name) const {
    std::lock_guard lock(exportMutex_);
    auto found = nameMap_.find(std::string(name));
    return found == nameMap_.end() ? nullptr : found->second;
}

void RemotingApi::Dispatch(HostResponse& response, const HostRequest& request) const {
    const auto method = static_cast<std::uint32_t>(MethodFromHost(request.method));
    const std::string_view methodName =
        method == static_cast<std::uint32_t>(HttpMethod::Named) && request.methodName != nullptr
            ? request.methodName
            : "";
    const std::string_view target = request.target != nullptr ? request.target : "";
    // Why the query is cut off: a route matched against it would never match
    // literally, and a trailing placeholder would capture it.
    const std::string_view path = target.substr(0, target.find('?'));
    const RouteMatch match = SelectRoute(routeOrder_, method, methodName, path);
    if (match.route == nullptr || match.route->function->invoker == nullptr) {
        SetError(response, kInvalidFunction, kStatusNotFound);
        return;
    }
    Call(response, request, match);
}

void RemotingApi::Call(HostResponse& response, const HostRequest& request,
                       const RouteMatch& match) const {
    const std::int64_t receivedTicks = std::chrono::system_clock::now().time_since_epoch().count();
    const BindingFunctionDescriptor& function = *match.route->function;
    const std::string_view target = request.target != nullptr ? request.target : "";
    RemotingCallArguments arguments(function);

    std::map<std::string, std::string> headers;
    for (std::uint32_t i = 0; request.headers != nullptr && i < request.headerCount; ++i) {
        const HostHeaderPair& header = request.headers[i];
        if (header.name != nullptr) {
            headers.insert_or_assign(header.name, header.value != nullptr ? header.value : "");
        }
    }
    for (const BindingFunctionArgument& argument : function.arguments) {
        if (argument.location != BindingArgumentLocation::Any &&
            argument.location != BindingArgumentLocation::Header) {
            continue;
        }
        if (auto found = headers.find(AsciiLower(argument.name)); found != headers.end()) {
            arguments.ApplyText(argument.name, found->second, BindingArgumentLocation::Header);
        }
    }
    for (const auto& [name, value] : match.parameters) {
        arguments.ApplyText(name, value, BindingArgumentLocation::Path);
    }
    for (const auto& [name, value] : ParseQuery(target)) {
        arguments.ApplyText(name, value, BindingArgumentLocation::Query);
    }
    for (std::uint32_t i = 0; request.arguments != nullptr && i < request.argumentCount; ++i) {
        arguments.ApplyHostArgument(request.arguments[i].name, request.arguments[i].value, i,
                                    match.captureCount);
    }
    if (request.body != nullptr) {
        arguments.ApplyBody(request.body, request.bodyLength,
                            request.contentType != nullptr ? request.contentType : "");
    }

    BindingResult& slot = arguments.Slot();
    BindingFunctionResponse description;
    bool called = false;
    try {
        if (slot.IsOk()) {
            const BindingFunctionInvoker& invoker = *function.invoker;
            PreparedCall prepared(invoker,
                                  invoker.Prepare(slot, arguments.Values(), request.context));
            if (slot.IsOk()) {
                const StaticType* requestType = invoker.RequestType();
                const bool wantsRecord =
                    IsRequestRecordType(requestType, StaticType::Anonymous<RemotingRequest>()) ||
                    IsRequestRecordType(requestType,
                                        StaticType::Anonymous<HttpBaseTransport::Request>());
                RemotingRequest record;
                const void* recordPointer = nullptr;
                if (wantsRecord) {
                    record.context = request.context;
                    record.functionWord = Fnv1a32(function.name);
                    record.receivedTicks = receivedTicks;
                    record.method = MethodFromHost(request.method);
                    if (record.method == HttpMethod::Named && request.methodName != nullptr) {
                        record.methodName = request.methodName;
                    }
                    record.path = std::string(target);
                    record.headers = headers;
                    recordPointer =
                        IsRequestRecordType(requestType, StaticType::Anonymous<RemotingRequest>())
                            ? static_cast<const void*>(&record)
                            : static_cast<const void*>(
                                  static_cast<const HttpBaseTransport::Request*>(&record));
                }
                called = true;
                invoker.Call(slot, recordPointer, prepared.Handle(), request.context, description);
            }
        }

        std::int32_t status = 0;
        if (!slot.IsOk()) {
            const std::string message(slot.ErrorMessage());
            SetError(response, message.c_str(), 0);
            status = description.status != 0 ? description.status
                     : called                ? kStatusInternalError
                                             : kStatusBadRequest;
        } else {
            HostValue body{};
            if (HostValueFromProperty(body, slot.Value(), this)) {
                response.body = body;
                status = description.status != 0 ? description.status : kStatusOk;
            } else {
                // Reported, never passed on as a success without a body.
                SetError(response, Format(kResultNotConvertible, function.name).c_str(),
                         kStatusBadRequest);
                status = kStatusBadRequest;
                description.status = 0;
            }
        }
        response.status = status;
        WriteDescription(response, description);
    } catch (...) {
        if (response.streamRead == nullptr) {
            CloseUndelivered(description);
        }
        throw;
    }
}

extern "C" {

void RemotingReleaseResponse(HostResponse* response) {
    if (response == nullptr) {
        return;
    }
    Memory::Free(const_cast<char*>(response->error));
    response->error = nullptr;
    response->hasError = 0;
    Memory::Free(const_cast<char*>(response->contentType));
    response->contentType = nullptr;
    const HostHeaderPair* headers = response->headers;
    const std::uint32_t headerCount = response->headerCount;
    for (std::uint32_t i = 0; headers != nullptr && i < headerCount; ++i) {
        Memory::Free(const_cast<char*>(headers[i].name));
        Memory::Free(const_cast<char*>(headers[i].value));
    }
    Memory::Free(const_cast<HostHeaderPair*>(headers));
    response->headers = nullptr;
    response->headerCount = 0;
    ResetHostValue(response->body);
}

void RemotingDispatch(HostResponse* response, const HostRequest* request) {
    if (response == nullptr) {
        return;
    }
    *response = HostResponse{};
    response->release = &RemotingReleaseResponse;
    try {
        const auto* context =
            request != nullptr
                ? static_cast<const RemotingDispatchContext*>(request->dispatchContext)
                : nullptr;
        if (context == nullptr || context->api == nullptr) {
            SetError(*response, kInvalidFunction, kStatusNotFound);
            return;
        }
        context->api->Dispatch(*response, *request);
        return;
    } catch (const std::exception& error) {
        RemotingReleaseResponse(response);
        *response = HostResponse{};
        response->release = &RemotingReleaseResponse;
        try {
            SetError(*response, Format(kUnhandledException, error.what()).c_str(),
                     kStatusInternalError);
            return;
        } catch (...) {
            // Formatting needs memory too; fall through to the fixed text.
        }
    } catch (...) {
        RemotingReleaseResponse(response);
        *response = HostResponse{};
        response->release = &RemotingReleaseResponse;
    }
    SetError(*response, kUnknownException, kStatusInternalError);
}

}  // extern "C"

}  // namespace Tavo
