#include "tests/framework/TestHost.h"

#include <algorithm>
#include <cstdio>

namespace Tavo::Testing {

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string Copy(const char* text) {
    return text != nullptr ? std::string(text) : "(null)";
}

// Delays print as integers when they are whole: "60", "0", "1.5".
std::string DelayText(double seconds) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", seconds);
    return buffer;
}

}  // namespace

const char* HostEntryName(HostEntry entry) {
    switch (entry) {
        case HostEntry::SendRequest:
            return "hostSendRequest";
        case HostEntry::Reserved1:
            return "reserved1";
        case HostEntry::Reserved2:
            return "reserved2";
        case HostEntry::Subscribe:
            return "hostSubscribe";
        case HostEntry::Unsubscribe:
            return "hostUnsubscribe";
        case HostEntry::ScheduleCallback:
            return "hostScheduleCallback";
        case HostEntry::Yield:
            return "hostYield";
        case HostEntry::BeginWait:
            return "hostBeginWait";
        case HostEntry::EndWait:
            return "hostEndWait";
        case HostEntry::Log:
            return "hostLog";
    }
    return "?";
}

std::string HostCall::ToText() const {
    std::string line = HostEntryName(entry);
    switch (entry) {
        case HostEntry::SendRequest:
            line += " " + std::to_string(method) + " " + Quoted(text) +
                    " args=" + std::to_string(argumentCount);
            break;
        case HostEntry::Reserved1:
            line += " " + std::to_string(words[0]) + " " + std::to_string(words[1]);
            break;
        case HostEntry::Reserved2:
            line += " " + std::to_string(words[0]);
            break;
        case HostEntry::Subscribe:
            line += " " + Quoted(text) + " flags=" + std::to_string(flags);
            break;
        case HostEntry::Unsubscribe:
        case HostEntry::BeginWait:
            line += " " + Quoted(text);
            break;
        case HostEntry::ScheduleCallback:
            line += " " + Quoted(text) + " " + DelayText(delaySeconds);
            break;
        case HostEntry::Log:
            line += " " + std::to_string(level) + " " + Quoted(text);
            break;
        case HostEntry::Yield:
        case HostEntry::EndWait:
            break;
    }
    return line;
}

TestHost::TestHost(std::uint32_t hostContext) {
    table_.entries =
        HostInterface{&SendRequest,      &Reserved1, &Reserved2, &Subscribe, &Unsubscribe,
                      &ScheduleCallback, &Yield,     &BeginWait, &EndWait,   &Log};
    table_.owner = this;
    connection_.host = &table_.entries;
    connection_.hostContext = hostContext;
}

TestHost& TestHost::From(HostInterface* self) {
    // `entries` is the first member of the standard-layout Table.
    return *reinterpret_cast<Table*>(self)->owner;
}

void TestHost::Record(HostCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<HostCall> TestHost::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<HostCall> TestHost::CallsTo(HostEntry entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HostCall> selected;
    for (const HostCall& call : calls_) {
        if (call.entry == entry) {
            selected.push_back(call);
        }
    }
    return selected;
}

std::size_t TestHost::CountOf(HostEntry entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(),
                      [entry](const HostCall& call) { return call.entry == entry; }));
}

std::vector<std::string> TestHost::Trace() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    lines.reserve(calls_.size());
    for (const HostCall& call : calls_) {
        lines.push_back(call.ToText());
    }
    return lines;
}

void TestHost::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    logs_.clear();
}

void TestHost::SetRequestHandler(RequestHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestHandler_ = handler ? std::make_shared<RequestHandler>(std::move(handler)) : nullptr;
}

bool TestHost::IsSubscribed(std::string_view eventName) const {
    return FindSubscription(eventName).has_value();
}

std::optional<HostSubscription> TestHost::FindSubscription(std::string_view eventName) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const HostSubscription& subscription : subscriptions_) {
        if (subscription.eventName == eventName) {
            return subscription;
        }
    }
    return std::nullopt;
}

std::vector<HostSubscription> TestHost::Subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
}

bool TestHost::Deliver(std::string_view eventName, const HostValue& payload) {
    std::optional<HostSubscription> subscription = FindSubscription(eventName);
    if (!subscription) {
        return false;
    }
    DeliverTo(*subscription, payload);
    return true;
}

void TestHost::SetSubscribeHook(SubscribeHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscribeHook_ = hook ? std::make_shared<SubscribeHook>(std::move(hook)) : nullptr;
}

void TestHost::DeliverTo(const HostSubscription& subscription, const HostValue& payload) {
    HostEvent event{};
    event.name = subscription.eventName.c_str();
    event.payload = payload;
    event.context = subscription.context;
    subscription.callback(&event);
}

double TestHost::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

std::size_t TestHost::EarliestLocked() const {
    std::size_t best = 0;
    for (std::size_t i = 1; i < queue_.size(); ++i) {
        const HostScheduledTask& a = queue_[i];
        const HostScheduledTask& b = queue_[best];
        if (a.dueTime < b.dueTime || (a.dueTime == b.dueTime && a.sequence < b.sequence)) {
            best = i;
        }
    }
    return best;
}

std::vector<HostScheduledTask> TestHost::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HostScheduledTask> pending = queue_;
    std::sort(
        pending.begin(), pending.end(), [](const HostScheduledTask& a, const HostScheduledTask& b) {
            return a.dueTime < b.dueTime || (a.dueTime == b.dueTime && a.sequence < b.sequence);
        });
    return pending;
}

std::size_t TestHost::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::optional<HostScheduledTask> TestHost::TakeNext() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    std::size_t index = EarliestLocked();
    HostScheduledTask task = std::move(queue_[index]);
    queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(index));
    return task;
}

bool TestHost::RunNext() {
    std::optional<HostScheduledTask> task;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        std::size_t index = EarliestLocked();
        task = std::move(queue_[index]);
        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(index));
        now_ = std::max(now_, task->dueTime);
    }
    task->Fire();
    return true;
}

std::size_t TestHost::RunUntil(double time) {
    std::size_t ran = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty() || queue_[EarliestLocked()].dueTime > time) {
                now_ = std::max(now_, time);
                return ran;
            }
        }
        RunNext();
        ++ran;
    }
}

std::size_t TestHost::RunAll(std::size_t limit) {
    std::size_t ran = 0;
    while (ran < limit && RunNext()) {
        ++ran;
    }
    return ran;
}

void TestHost::SetYieldHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    yieldHook_ = hook ? std::make_shared<std::function<void()>>(std::move(hook)) : nullptr;
}

int TestHost::WaitDepth() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitDepth_;
}

std::vector<TestHost::LogLine> TestHost::Logs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

// ---- The entries ---------------------------------------------------------

std::uint32_t TestHost::SendRequest(HostInterface* self, HostResponse* response,
                                    const HostRequest* request) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::SendRequest;
    call.text = Copy(request->target);
    call.method = request->method;
    call.argumentCount = request->argumentCount;
    call.requestContext = request->context;
    host.Record(std::move(call));
    std::shared_ptr<RequestHandler> handler;
    {
        std::lock_guard<std::mutex> lock(host.mutex_);
        handler = host.requestHandler_;
    }
    if (handler) {
        (*handler)(*response, *request);
    }
    return 0;
}

std::uint32_t TestHost::Reserved1(HostInterface* self, std::uintptr_t first,
                                  std::uintptr_t second) {
    HostCall call;
    call.entry = HostEntry::Reserved1;
    call.words[0] = first;
    call.words[1] = second;
    From(self).Record(std::move(call));
    return 0;
}

std::uint32_t TestHost::Reserved2(HostInterface* self, std::uintptr_t word) {
    HostCall call;
    call.entry = HostEntry::Reserved2;
    call.words[0] = word;
    From(self).Record(std::move(call));
    return 0;
}

std::uint32_t TestHost::Subscribe(HostInterface* self, const char* eventName,
                                  std::uint32_t hostContext, HostEventCallback callback,
                                  void* context, std::int32_t flags) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::Subscribe;
    call.text = Copy(eventName);
    call.hostContext = hostContext;
    call.flags = flags;
    call.callbackContext = context;
    HostSubscription subscription{call.text, hostContext, callback, context, flags};
    host.Record(std::move(call));
    std::shared_ptr<SubscribeHook> hook;
    {
        std::lock_guard<std::mutex> lock(host.mutex_);
        // One subscription per event name: a repeat replaces the earlier one.
        auto& subscriptions = host.subscriptions_;
        std::erase_if(subscriptions, [&](const HostSubscription& existing) {
            return existing.eventName == subscription.eventName;
        });
        subscriptions.push_back(subscription);
        hook = host.subscribeHook_;
    }
    if (hook) {
        (*hook)(subscription);
    }
    return 0;
}

std::uint32_t TestHost::Unsubscribe(HostInterface* self, const char* eventName,
                                    std::uint32_t hostContext) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::Unsubscribe;
    call.text = Copy(eventName);
    call.hostContext = hostContext;
    std::string name = call.text;
    host.Record(std::move(call));
    std::lock_guard<std::mutex> lock(host.mutex_);
    std::erase_if(host.subscriptions_,
                  [&](const HostSubscription& existing) { return existing.eventName == name; });
    return 0;
}

std::uint32_t TestHost::ScheduleCallback(HostInterface* self, const char* description,
                                         HostScheduledCallback callback, void* context,
                                         double delaySeconds, std::int32_t flags) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::ScheduleCallback;
    call.text = Copy(description);
    call.delaySeconds = delaySeconds;
    call.flags = flags;
    call.callbackContext = context;
    std::string text = call.text;
    host.Record(std::move(call));
    std::lock_guard<std::mutex> lock(host.mutex_);
    HostScheduledTask task;
    task.sequence = host.nextSequence_++;
    task.description = std::move(text);
    task.callback = callback;
    task.context = context;
    task.delaySeconds = delaySeconds;
    task.dueTime = host.now_ + (delaySeconds > 0 ? delaySeconds : 0);
    host.queue_.push_back(std::move(task));
    return 0;
}

std::uint32_t TestHost::Yield(HostInterface* self) {
    TestHost& host = From(self);
    host.Record(HostCall{});  // the default entry is Yield
    std::shared_ptr<std::function<void()>> hook;
    {
        std::lock_guard<std::mutex> lock(host.mutex_);
        hook = host.yieldHook_;
    }
    if (hook) {
        (*hook)();
    } else {
        host.RunNext();
    }
    return 0;
}

std::uint32_t TestHost::BeginWait(HostInterface* self, const char* description,
                                  std::int32_t flags) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::BeginWait;
    call.text = Copy(description);
    call.flags = flags;
    host.Record(std::move(call));
    std::lock_guard<std::mutex> lock(host.mutex_);
    ++host.waitDepth_;
    return 0;
}

std::uint32_t TestHost::EndWait(HostInterface* self) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::EndWait;
    host.Record(std::move(call));
    std::lock_guard<std::mutex> lock(host.mutex_);
    --host.waitDepth_;
    return 0;
}

void TestHost::Log(HostInterface* self, std::int32_t level, const char* message) {
    TestHost& host = From(self);
    HostCall call;
    call.entry = HostEntry::Log;
    call.level = level;
    call.text = Copy(message);
    std::string text = call.text;
    host.Record(std::move(call));
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.logs_.push_back(LogLine{level, std::move(text)});
}

}  // namespace Tavo::Testing
