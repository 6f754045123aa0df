#include "tests/framework/TestHost.h"

#include <algorithm>
#include <cstdio>

#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"

namespace Tavo::Testing {

namespace {

std::string Copy(const char* text) {
    return text != nullptr ? std::string(text) : "(null)";
}

std::string Quoted(const std::string& text) {
    return " '" + text + "'";
}

double SecondsOf(Host::VirtualTime time) {
    return static_cast<double>(time) / static_cast<double>(Host::kNanosecondsPerSecond);
}

}  // namespace

TestHost::TestHost(std::uint32_t hostContext)
    : table_{{}, this}, connection_{&table_.entries, hostContext} {
    HostInterface& entries = table_.entries;
    entries.hostSendRequest = [](HostInterface* self, HostResponse* response,
                                 const HostRequest* request) -> std::uint32_t {
        TestHost& host = From(self);
        const std::string target = Copy(request->target);
        std::vector<std::string> arguments;
        for (std::uint32_t i = 0; i < request->argumentCount; ++i) {
            const HostRequestArgument argument = request->arguments[i];
            const BindingResult value = PropertyFromHostValue(argument.value, "argument");
            arguments.push_back(
                (argument.name != nullptr ? std::string(argument.name) + "=" : "") +
                (value.IsOk() ? WriteJson(value.Value()) : std::string(value.ErrorMessage())));
        }
        host.Record({.entry = HostEntry::SendRequest,
                     .line = "hostSendRequest " + std::to_string(request->method) + Quoted(target) +
                             " args=" + std::to_string(arguments.size()),
                     .method = request->method,
                     .arguments = std::move(arguments)});
        if (const auto handler = host.Locked([&] { return host.requestHandler_; })) {
            (*handler)(*response, *request);
        }
        return 0;
    };
    entries.reserved1 = [](HostInterface* self, std::uintptr_t first,
                           std::uintptr_t second) -> std::uint32_t {
        From(self).Record(
            {.entry = HostEntry::Reserved1,
             .line = "reserved1 " + std::to_string(first) + " " + std::to_string(second)});
        return 0;
    };
    entries.reserved2 = [](HostInterface* self, std::uintptr_t word) -> std::uint32_t {
        From(self).Record(
            {.entry = HostEntry::Reserved2, .line = "reserved2 " + std::to_string(word)});
        return 0;
    };
    entries.hostSubscribe = [](HostInterface* self, const char* eventName, std::uint32_t context,
                               HostEventCallback callback, void* callbackContext,
                               std::int32_t flags) -> std::uint32_t {
        TestHost& host = From(self);
        const HostSubscription subscription{Copy(eventName), callback, callbackContext, flags};
        host.Record({.entry = HostEntry::Subscribe,
                     .line = "hostSubscribe" + Quoted(subscription.eventName) +
                             " flags=" + std::to_string(flags),
                     .hostContext = context,
                     .flags = flags,
                     .callbackContext = callbackContext,
                     .eventCallback = callback});
        host.Locked([&] {
            std::erase_if(host.subscriptions_, [&](const HostSubscription& existing) {
                return existing.eventName == subscription.eventName;
            });
            host.subscriptions_.push_back(subscription);
        });
        return 0;
    };
    entries.hostUnsubscribe = [](HostInterface* self, const char* eventName,
                                 std::uint32_t context) -> std::uint32_t {
        TestHost& host = From(self);
        const std::string name = Copy(eventName);
        host.Record({.entry = HostEntry::Unsubscribe,
                     .line = "hostUnsubscribe" + Quoted(name),
                     .hostContext = context});
        host.Locked([&] {
            std::erase_if(host.subscriptions_, [&](const HostSubscription& existing) {
                return existing.eventName == name;
            });
        });
        return 0;
    };
    entries.hostScheduleCallback = [](HostInterface* self, const char* description,
                                      HostScheduledCallback callback, void* context,
                                      double delaySeconds, std::int32_t flags) -> std::uint32_t {
        TestHost& host = From(self);
        char delay[32];
        std::snprintf(delay, sizeof delay, " %g", delaySeconds);  // " 60", " 1.5"
        host.Record({.entry = HostEntry::ScheduleCallback,
                     .line = "hostScheduleCallback" + Quoted(Copy(description)) + delay,
                     .flags = flags,
                     .delaySeconds = delaySeconds,
                     .callbackContext = context,
                     .taskCallback = callback});
        host.scheduler_.Schedule(Copy(description), callback, context, delaySeconds);
        return 0;
    };
    entries.hostYield = [](HostInterface* self) -> std::uint32_t {
        TestHost& host = From(self);
        host.Record({.entry = HostEntry::Yield, .line = "hostYield"});
        if (const auto hook = host.Locked([&] { return host.yieldHook_; })) {
            (*hook)();
        } else {
            host.RunNext();
        }
        return 0;
    };
    entries.hostBeginWait = [](HostInterface* self, const char* description,
                               std::int32_t flags) -> std::uint32_t {
        TestHost& host = From(self);
        host.Record({.entry = HostEntry::BeginWait,
                     .line = "hostBeginWait" + Quoted(Copy(description)),
                     .flags = flags});
        host.Locked([&] { ++host.waitDepth_; });
        return 0;
    };
    entries.hostEndWait = [](HostInterface* self) -> std::uint32_t {
        TestHost& host = From(self);
        host.Record({.entry = HostEntry::EndWait, .line = "hostEndWait"});
        host.Locked([&] { --host.waitDepth_; });
        return 0;
    };
    entries.hostLog = [](HostInterface* self, std::int32_t level, const char* message) {
        From(self).Record({.entry = HostEntry::Log,
                           .line = "hostLog " + std::to_string(level) + Quoted(Copy(message))});
    };
}

std::vector<HostCall> TestHost::CallsTo(HostEntry entry) const {
    std::vector<HostCall> selected = Calls();
    std::erase_if(selected, [entry](const HostCall& call) { return call.entry != entry; });
    return selected;
}

std::vector<std::string> TestHost::Trace(std::optional<HostEntry> entry) const {
    std::vector<std::string> lines;
    for (const HostCall& call : entry ? CallsTo(*entry) : Calls()) {
        lines.push_back(call.line);
    }
    return lines;
}

std::optional<HostSubscription> TestHost::FindSubscription(std::string_view eventName) const {
    Platform::MutexLock lock(mutex_);
    const auto found = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                                    [&](const auto& each) { return each.eventName == eventName; });
    return found != subscriptions_.end() ? std::optional(*found) : std::nullopt;
}

bool TestHost::Deliver(std::string_view eventName, const HostValue& payload) {
    const std::optional<HostSubscription> subscription = FindSubscription(eventName);
    if (subscription) {
        DeliverTo(*subscription, payload);
    }
    return subscription.has_value();
}

void TestHost::DeliverTo(const HostSubscription& subscription, const HostValue& payload) {
    HostEvent event{subscription.eventName.c_str(), payload, 0, subscription.context};
    subscription.callback(&event);
}

std::vector<HostScheduledTask> TestHost::Pending() const {
    std::vector<HostScheduledTask> pending;
    for (const Host::PendingCallback& queued : scheduler_.Queued()) {
        pending.push_back({queued.callback, queued.context, SecondsOf(queued.due)});
    }
    return pending;
}

bool TestHost::RunNext() {
    const std::optional<Host::PendingCallback> next = scheduler_.TakeNext();
    if (next) {
        next->callback(next->context);
    }
    return next.has_value();
}

std::size_t TestHost::RunUntil(double time) {
    const Host::VirtualTime until = Host::DelayToVirtualTime(time);
    std::size_t ran = 0;
    for (std::optional<Host::VirtualTime> due = scheduler_.NextDue(); due && *due <= until;
         due = scheduler_.NextDue()) {
        RunNext();
        ++ran;
    }
    scheduler_.AdvanceTo(until);
    return ran;
}

std::size_t TestHost::RunAll(std::size_t limit) {
    std::size_t ran = 0;
    while (ran < limit && RunNext()) {
        ++ran;
    }
    return ran;
}

}  // namespace Tavo::Testing
