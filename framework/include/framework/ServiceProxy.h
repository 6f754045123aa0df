#pragma once
// The service proxy: replies the host relays for requests the plugin made
// through other services, matched by key ("service.method" or a uuid).
// AppModule::AddServiceProxyRequest, AddAsyncServiceProxyHandler and the
// three reply events are its face (framework/src/ServiceProxy.cpp).
//
// Uuid and method replies are stored until the request they answer is
// pending; async replies go straight to the handler of their key. The three
// tables live under one plain mutex, held while a handler runs; a handler
// therefore must not register a request or a handler, nor cause a nested
// reply event on its thread: both are refused (with an Error line) instead
// of deadlocking.

#include <functional>
#include <string>
#include <unordered_map>

#include "platform/Platform.h"

namespace Tavo::Client {

// The service proxy's tables. `Reply` is the module's reply record
// (AppModule::PluginServiceProxyResponse), which is declared with the
// module's other framework records.
template <class Reply>
struct ServiceProxyTables {
    using Handler = std::function<void(const Reply& reply)>;

    Platform::Mutex mutex;
    // Key → handler of a pending request / of async replies.
    std::unordered_map<std::string, Handler> pending TAVO_GUARDED_BY(mutex);
    std::unordered_map<std::string, Handler> async TAVO_GUARDED_BY(mutex);
    // Key → the latest uuid or method reply not yet handed to a request.
    std::unordered_map<std::string, Reply> received TAVO_GUARDED_BY(mutex);
};

}  // namespace Tavo::Client
