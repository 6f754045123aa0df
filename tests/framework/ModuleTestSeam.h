#pragma once
// The tests' one way into a module's private parts: its service tables and
// its raw host slots (which plugin code cannot call). Test code only; the
// module names this class as a friend for that purpose.

#include <cstdint>
#include <string>
#include <utility>

#include "framework/AppModule.h"
#include "platform/ThreadAnnotations.h"

namespace Tavo::Testing {

class ModuleTestSeam {
public:
    // The tables. Why no lock: tests read and change them while the module
    // is idle (no host callback or task running), so the locks that guard
    // them in production are not needed here.
    static auto& HostEventHandlers(Client::AppModule& module) { return module.hostEventHandlers_; }
    static auto& SubscriptionCounts(Client::AppModule& module) {
        return module.subscriptionCounts_;
    }
    static auto& Timers(Client::AppModule& module) TAVO_NO_THREAD_SAFETY_ANALYSIS {
        return module.timing_.timers;
    }
    static auto& ExactListeners(Client::AppModule& module) { return module.exactListeners_; }
    static auto& PatternListeners(Client::AppModule& module) { return module.patternListeners_; }
    static auto& PendingServiceProxyRequests(Client::AppModule& module)
        TAVO_NO_THREAD_SAFETY_ANALYSIS {
        return module.serviceProxy_.pending;
    }
    static auto& AsyncServiceProxyHandlers(Client::AppModule& module)
        TAVO_NO_THREAD_SAFETY_ANALYSIS {
        return module.serviceProxy_.async;
    }
    static auto& ReceivedServiceProxyReplies(Client::AppModule& module)
        TAVO_NO_THREAD_SAFETY_ANALYSIS {
        return module.serviceProxy_.received;
    }

    // The raw host slots 4 to 12, called as the host-facing code calls them.
    static std::uint32_t SendRequest(Client::AppModule& module, HostResponse* response,
                                     const HostRequest* request) {
        return module.hostSendRequest(response, request);
    }
    static std::uint32_t Reserved1(Client::AppModule& module, std::uintptr_t first,
                                   std::uintptr_t second) {
        return module.hostReserved1(first, second);
    }
    static std::uint32_t Reserved2(Client::AppModule& module, std::uintptr_t word) {
        return module.hostReserved2(word);
    }
    static std::uint32_t Subscribe(Client::AppModule& module, const char* eventName,
                                   std::uint32_t hostContext, HostEventCallback callback,
                                   void* context, std::int32_t flags) {
        return module.hostSubscribe(eventName, hostContext, callback, context, flags);
    }
    static std::uint32_t Unsubscribe(Client::AppModule& module, const char* eventName,
                                     std::uint32_t hostContext) {
        return module.hostUnsubscribe(eventName, hostContext);
    }
    static std::uint32_t ScheduleCallback(Client::AppModule& module, const char* description,
                                          HostScheduledCallback callback, void* context,
                                          double delaySeconds, std::int32_t flags) {
        return module.hostScheduleCallback(description, callback, context, delaySeconds, flags);
    }
    static std::uint32_t Yield(Client::AppModule& module) { return module.hostYield(); }
    static std::uint32_t BeginWait(Client::AppModule& module, const std::string& description,
                                   std::int32_t word) {
        return module.hostBeginWait(description, word);
    }
    static std::uint32_t EndWait(Client::AppModule& module) { return module.hostEndWait(); }
};

}  // namespace Tavo::Testing
