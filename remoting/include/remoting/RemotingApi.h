#pragma once
// The remoting API object: the module's type registry, extended with the
// dispatcher of exported functions. It registers the built-in types when it
// is constructed, before any plugin type.
//
// Functions are declared through the registry (DeclareFunction). Building
// the export block (BuildApiExport) calls ExportFunctions, which compiles a
// route per function, gives every function a dispatch context (this object
// and the function's route) and publishes one export entry per function,
// whose dispatch callback, RemotingDispatch, the host calls for a request.
// The callback routes among all exported functions, whichever entry's
// context it is given.
//
// Ownership: the module owns this object; routes and dispatch contexts live
// as long as it does, so they outlive every export block built from it.
// Threading: declarations and exports run on the registration thread, before
// requests arrive; afterwards routes are read-only and requests may arrive on
// any thread, each call working on its own values.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingApiExport.h"
#include "binding/BindingRegistry.h"
#include "platform/Platform.h"
#include "remoting/HttpMethod.h"
#include "remoting/RemotingRoute.h"

namespace Tavo {

class RemotingApi;

// What an export entry carries at offset 8 and the host hands back in
// HostRequest::dispatchContext.
struct RemotingDispatchContext {
    const RemotingApi* api;
    const RemotingRoute* route;  // the function of the entry
};

// The response description a function may take (`RemotingResponse&`).
using RemotingResponse = BindingFunctionResponse;

class RemotingApi : public BindingRegistry {
public:
    // A registry holding the built-in types and the event "OnCallback".
    RemotingApi();
    ~RemotingApi() override;

    // Publishes one 90-byte entry per declared function, in declaration
    // order, and enters each name in the name map. Texts for the host are
    // copies owned by `exported`.
    // [registration-thread]
    void ExportFunctions(BindingApiExport& exported) const override;

    // The dispatch context of the exported function `name`, or null.
    // [any-thread]
    const RemotingDispatchContext* FindDispatchContext(std::string_view name) const;

    // Routes `request` among the exported functions and fills `response`,
    // which must be zero-filled. A request no route serves gets "Invalid
    // function" and status 404. May throw (memory exhaustion); the dispatch
    // callback catches everything.
    // [any-thread]
    void Dispatch(HostResponse& response, const HostRequest& request) const;

    // Calls the function of `match.route` with the arguments gathered from
    // `request` and writes its answer into `response` (zero-filled). May throw
    // as Dispatch.
    // [any-thread]
    void Call(HostResponse& response, const HostRequest& request, const RouteMatch& match) const;

private:
    mutable Platform::Mutex exportMutex_;                         // guards the three tables below
    mutable std::vector<std::unique_ptr<RemotingRoute>> routes_;  // declaration order
    mutable std::vector<const RemotingRoute*> routeOrder_;
    mutable std::vector<std::unique_ptr<RemotingDispatchContext>> contexts_;
    mutable std::unordered_map<std::string, const RemotingDispatchContext*> nameMap_;
};

extern "C" {

// The dispatch callback of every export entry (RemotingDispatchFn). Resets
// `response`, routes `request` through the API object named by its dispatch
// context and fills `response`; always sets `response->release`. Nothing is
// thrown: a failure inside becomes an error text with status 500.
// [any-thread & initialized]
void RemotingDispatch(HostResponse* response, const HostRequest* request);

// Releases what the dispatcher put into `response` (error text, content
// type, headers, the result value) and zeroes those fields. The host calls
// it through `response->release` once it is done with the record.
// [any-thread]
void RemotingReleaseResponse(HostResponse* response);

}  // extern "C"

}  // namespace Tavo
