// Service-proxy replies: storing uuid- and method-based replies until the
// request they answer is pending, and routing async replies to their handler.
//
// The three tables live under one plain mutex, held while a handler runs.
// A handler therefore must not register a request or a handler, nor cause a
// nested reply event on its thread; both are refused (with an Error line)
// instead of deadlocking.

#include <utility>

#include "framework/AppModule.h"
#include "logging/Format.h"
#include "logging/Log.h"

namespace Tavo::Client {

namespace {

// Marks the calling thread as running a service-proxy handler until the
// handler returns or throws.
class HandlerThreadMark {
public:
    explicit HandlerThreadMark(std::atomic<std::thread::id>& mark) : mark_(mark) {
        mark_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~HandlerThreadMark() { mark_.store(std::thread::id(), std::memory_order_relaxed); }
    HandlerThreadMark(const HandlerThreadMark&) = delete;
    HandlerThreadMark& operator=(const HandlerThreadMark&) = delete;

private:
    std::atomic<std::thread::id>& mark_;
};

}  // namespace

std::string AppModule::ServiceProxyKey(std::string_view serviceName, std::string_view methodName) {
    return Format("%1.%2", serviceName, methodName);
}

bool AppModule::InsideServiceProxyHandler() const {
    // Only this thread can store its own id, so a stale read cannot match.
    return serviceProxyHandlerThread_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void AppModule::CallServiceProxyHandler(const ServiceProxyHandler& handler,
                                        const PluginServiceProxyResponse& reply) {
    const HandlerThreadMark mark(serviceProxyHandlerThread_);
    handler(reply);  // an empty handler throws std::bad_function_call
}

void AppModule::OnServiceProxyUuidReply(const PluginServiceProxyResponse& reply) {
    StoreServiceProxyReply(reply.uuid, reply);
}

void AppModule::OnServiceProxyMethodReply(const PluginServiceProxyResponse& reply) {
    StoreServiceProxyReply(ServiceProxyKey(reply.serviceName, reply.methodName), reply);
}

bool AppModule::RefuseReplyInsideHandler(const std::string& key) const {
    if (!InsideServiceProxyHandler()) {
        return false;
    }
    Log(LogLevel::Error, LogGroup::DBG,
        "Service proxy reply %s dropped: it arrived inside a service proxy handler", key.c_str());
    return true;
}

void AppModule::StoreServiceProxyReply(const std::string& key,
                                       const PluginServiceProxyResponse& reply) {
    if (RefuseReplyInsideHandler(key)) {
        return;
    }
    {
        std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
        receivedServiceProxyReplies_.insert_or_assign(key, reply);
    }
    FulfilServiceProxyRequests();
}

void AppModule::OnServiceProxyAsyncReply(const PluginServiceProxyResponse& reply) {
    const std::string key = ServiceProxyKey(reply.serviceName, reply.methodName);
    if (RefuseReplyInsideHandler(key)) {
        return;
    }
    std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
    const auto handler = asyncServiceProxyHandlers_.find(key);
    if (handler == asyncServiceProxyHandlers_.end()) {
        Log(LogLevel::Error, LogGroup::DBG,
            "Could not find registered handler for async service proxy event %s", key.c_str());
        return;
    }
    CallServiceProxyHandler(handler->second, reply);
}

void AppModule::FulfilServiceProxyRequests() {
    if (InsideServiceProxyHandler()) {
        Log(LogLevel::Error, LogGroup::DBG,
            "FulfilServiceProxyRequests called inside a service proxy handler; nothing fulfilled");
        return;
    }
    std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
    for (auto reply = receivedServiceProxyReplies_.begin();
         reply != receivedServiceProxyReplies_.end(); ++reply) {
        const auto pending = pendingServiceProxyRequests_.find(reply->first);
        if (pending == pendingServiceProxyRequests_.end()) {
            continue;
        }
        // Taken out before the call, so a handler that throws is not left
        // pending to fail again on every later reply.
        const std::string key = reply->first;
        const PluginServiceProxyResponse copy = std::move(reply->second);
        const ServiceProxyHandler handler = std::move(pending->second);
        pendingServiceProxyRequests_.erase(pending);
        receivedServiceProxyReplies_.erase(reply);
        CallServiceProxyHandler(handler, copy);
        Log(LogLevel::Always, LogGroup::DBG, "Fulfilled service proxy request: %s", key.c_str());
        return;  // at most one per call
    }
}

bool AppModule::AddServiceProxyRequest(const std::string& key, ServiceProxyHandler handler) {
    if (InsideServiceProxyHandler()) {
        Log(LogLevel::Error, LogGroup::DBG,
            "Service proxy request %s not registered: called inside a service proxy handler",
            key.c_str());
        return false;
    }
    std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
    pendingServiceProxyRequests_.insert_or_assign(key, std::move(handler));
    return true;
}

bool AppModule::AddAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler) {
    if (InsideServiceProxyHandler()) {
        Log(LogLevel::Error, LogGroup::DBG,
            "Async service proxy handler %s not registered: called inside a service proxy "
            "handler",
            key.c_str());
        return false;
    }
    std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
    asyncServiceProxyHandlers_.insert_or_assign(key, std::move(handler));
    return true;
}

}  // namespace Tavo::Client
