#include "ValidateHost.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "DevHost.h"
#include "binding/HostValueConvert.h"
#include "platform/MemoryAccounting.h"
#include "remoting/HttpMethod.h"

namespace Tavo::Host {

namespace {

// The part of a broken stream that arrives before the read fails.
constexpr char kStreamStart[] = "{\"items\": [1, 2, ";

// Responses filled and not yet released, over the whole process: the
// release function receives only the record.
std::atomic<std::size_t> unreleasedResponses{0};

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

ValidationHost::ValidationHost(std::uint32_t hostContext)
    : table_{{&SendRequestEntry, &Reserved1Entry, &Reserved2Entry, &SubscribeEntry,
              &UnsubscribeEntry, &ScheduleEntry, &YieldEntry, &BeginWaitEntry, &EndWaitEntry,
              &LogEntry},
             this},
      connection_{&table_.entries, hostContext} {}

ValidationHost& ValidationHost::From(HostInterface* self) {
    // The table is the first member of Table, so its address is the Table's.
    return *reinterpret_cast<Table*>(self)->owner;
}

bool ValidationHost::Admit(const char* entry) {
    if (!closed_) {
        return true;
    }
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        violations_.push_back(std::string(entry) + " after Shutdown");
    } catch (...) {
    }
    return false;
}

void ValidationHost::Record(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    longest_ = std::max(longest_, seconds);
    total_ += seconds;
}

void ValidationHost::Close() {
    closed_ = true;
}

// ---- Driving the plugin ------------------------------------------------------

void ValidationHost::SetResource(const std::string& path, const BindingProperty& value) {
    ResourceChange change;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change = resources_.Set(path, value);
    }
    BindingProperty payload;
    payload.Field("uri").SetString(path);
    payload.Field("eventType").SetString(ResourceChangeName(change));
    payload.Field("data") = value;
    HostValue hostPayload{};
    if (HostValueFromProperty(hostPayload, payload, nullptr)) {
        Raise(EventNameForPath(path), hostPayload);
    }
    ResetHostValue(hostPayload);
}

std::size_t ValidationHost::Raise(const std::string& eventName, const HostValue& payload) {
    std::vector<ValidationSubscription> receivers;
    for (const ValidationSubscription& subscription : Subscriptions()) {
        if (subscription.eventName == eventName) {
            receivers.push_back(subscription);
        }
    }
    for (const ValidationSubscription& receiver : receivers) {
        Deliver(receiver, payload);
    }
    return receivers.size();
}

void ValidationHost::Deliver(const ValidationSubscription& subscription, const HostValue& payload) {
    HostEvent event{};
    event.name = subscription.eventName.c_str();
    event.payload = payload;
    event.context = subscription.context;
    Timed([&] { subscription.callback(&event); });
}

std::size_t ValidationHost::Advance(double seconds, std::size_t limit) {
    double end;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        end = now_ + seconds;
    }
    std::size_t ran = 0;
    while (ran < limit) {
        ValidationCallback next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto earliest =
                std::min_element(queue_.begin(), queue_.end(), [](const auto& a, const auto& b) {
                    return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
                });
            if (earliest == queue_.end() || earliest->due > end) {
                break;
            }
            next = *earliest;
            queue_.erase(earliest);
            now_ = std::max(now_, next.due);
        }
        Run(next);
        ++ran;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = std::max(now_, end);
    return ran;
}

std::vector<ValidationCallback> ValidationHost::TakeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ValidationCallback> all;
    all.swap(queue_);
    return all;
}

void ValidationHost::Run(const ValidationCallback& pending) {
    Timed([&] { pending.callback(pending.context); });
}

std::size_t ValidationHost::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

// ---- What happened -----------------------------------------------------------

std::vector<ValidationSubscription> ValidationHost::Subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
}

std::vector<ValidationSubscription> ValidationHost::EverSubscribed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return everSubscribed_;
}

std::vector<std::string> ValidationHost::Violations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

std::vector<std::string> ValidationHost::Logs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

std::size_t ValidationHost::Unreleased() {
    return unreleasedResponses.load();
}

double ValidationHost::LongestCall() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return longest_;
}

double ValidationHost::TotalCallTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

// ---- The entries -------------------------------------------------------------

std::uint32_t ValidationHost::SendRequestEntry(HostInterface* self, HostResponse* response,
                                               const HostRequest* request) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostSendRequest") || response == nullptr || request == nullptr) {
        return 0;
    }
    ++host.requests_;
    try {
        host.Answer(*response, *request);
    } catch (...) {
        // Out of memory in the host: the response stays as the plugin left it.
    }
    return 0;
}

void ValidationHost::Answer(HostResponse& response, const HostRequest& request) {
    switch (requestFault) {
        case RequestFault::Nothing:
            return;
        case RequestFault::Error: {
            response.status = 503;
            response.error = Memory::DuplicateText("validation host: request refused");
            response.hasError = 1;
            response.release = &Release;
            ++unreleasedResponses;
            return;
        }
        case RequestFault::BrokenStream: {
            response.status = 200;
            response.contentType = "application/json";
            response.streamRead = &StreamRead;
            response.streamClose = &StreamClose;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                streams_.push_back(std::make_unique<StreamState>(StreamState{this, 0}));
                response.streamContext = streams_.back().get();
            }
            response.expectedSize = 4096;
            response.release = &Release;
            ++openStreams_;
            ++unreleasedResponses;
            return;
        }
        case RequestFault::None:
            break;
    }
    const std::string path = ResourcePathOfTarget(OrEmpty(request.target));
    BindingProperty body;
    std::int32_t status = 200;
    std::string error;
    if (request.method == static_cast<std::uint32_t>(HttpMethod::Get)) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const BindingProperty* value = resources_.Find(path)) {
            body = *value;
        } else {
            status = 404;
            error = "Not found: " + path;
        }
    } else if (request.method == static_cast<std::uint32_t>(HttpMethod::Post)) {
        body.MakeStructure();
    } else {
        status = 405;
        error = "Method not allowed: " + path;
    }
    HostValue value{};
    if (error.empty() && !HostValueFromProperty(value, body, nullptr)) {
        status = 500;
        error = "validation host: the body does not fit a host value";
    }
    response.status = status;
    response.body = value;
    if (!error.empty()) {
        response.error = Memory::DuplicateText(error.c_str());
        response.hasError = 1;
    }
    response.release = &Release;
    ++unreleasedResponses;
}

void ValidationHost::Release(HostResponse* response) {
    if (response == nullptr) {
        return;
    }
    HostValue body = response->body;
    ResetHostValue(body);
    response->body = body;
    Memory::Free(const_cast<char*>(response->error));
    response->error = nullptr;
    response->hasError = 0;
    response->release = nullptr;
    --unreleasedResponses;
}

std::uint8_t ValidationHost::StreamRead(void* context, void* buffer, std::uint32_t* length,
                                        std::uint8_t* more) {
    auto* state = static_cast<StreamState*>(context);
    if (state == nullptr || buffer == nullptr || length == nullptr) {
        return 0;
    }
    if (state->reads++ > 0) {
        *length = 0;
        return 0;  // the connection broke
    }
    const std::uint32_t size = static_cast<std::uint32_t>(sizeof kStreamStart - 1);
    const std::uint32_t give = std::min(*length, size);
    std::memcpy(buffer, kStreamStart, give);
    *length = give;
    if (more != nullptr) {
        *more = 1;
    }
    return 1;
}

void ValidationHost::StreamClose(void* context) {
    auto* state = static_cast<StreamState*>(context);
    if (state != nullptr) {
        --state->host->openStreams_;
        state->reads = -1000000;  // closed; a later read still fails
    }
}

std::uint32_t ValidationHost::Reserved1Entry(HostInterface* self, std::uintptr_t, std::uintptr_t) {
    From(self).Admit("host entry 1");
    return 0;
}

std::uint32_t ValidationHost::Reserved2Entry(HostInterface* self, std::uintptr_t) {
    From(self).Admit("host entry 2");
    return 0;
}

std::uint32_t ValidationHost::SubscribeEntry(HostInterface* self, const char* eventName,
                                             std::uint32_t, HostEventCallback callback,
                                             void* context, std::int32_t) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostSubscribe") || eventName == nullptr || callback == nullptr) {
        return 0;
    }
    try {
        const ValidationSubscription subscription{eventName, callback, context};
        {
            std::lock_guard<std::mutex> lock(host.mutex_);
            auto same = std::find_if(host.subscriptions_.begin(), host.subscriptions_.end(),
                                     [&](const auto& s) { return s.eventName == eventName; });
            if (same != host.subscriptions_.end()) {
                *same = subscription;
            } else {
                host.subscriptions_.push_back(subscription);
            }
            host.everSubscribed_.push_back(subscription);
        }
        if (host.onSubscribe != nullptr) {
            host.onSubscribe(host, subscription);
        }
    } catch (...) {
    }
    return 0;
}

std::uint32_t ValidationHost::UnsubscribeEntry(HostInterface* self, const char* eventName,
                                               std::uint32_t) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostUnsubscribe") || eventName == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(host.mutex_);
    std::erase_if(host.subscriptions_, [&](const auto& s) { return s.eventName == eventName; });
    return 0;
}

std::uint32_t ValidationHost::ScheduleEntry(HostInterface* self, const char* description,
                                            HostScheduledCallback callback, void* context,
                                            double delaySeconds, std::int32_t) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostScheduleCallback") || callback == nullptr) {
        return 0;
    }
    try {
        std::lock_guard<std::mutex> lock(host.mutex_);
        // Negative and not-a-number delays count as none.
        const double delay = delaySeconds > 0 ? delaySeconds : 0;
        host.queue_.push_back(ValidationCallback{host.now_ + delay, host.nextSequence_++,
                                                 OrEmpty(description), callback, context});
    } catch (...) {
    }
    return 0;
}

std::uint32_t ValidationHost::YieldEntry(HostInterface* self) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostYield")) {
        return 0;
    }
    ++host.yields_;
    return host.yieldFails ? 1 : 0;
}

std::uint32_t ValidationHost::BeginWaitEntry(HostInterface* self, const char*, std::int32_t) {
    From(self).Admit("hostBeginWait");
    return 0;
}

std::uint32_t ValidationHost::EndWaitEntry(HostInterface* self) {
    From(self).Admit("hostEndWait");
    return 0;
}

void ValidationHost::LogEntry(HostInterface* self, std::int32_t level, const char* message) {
    ValidationHost& host = From(self);
    if (!host.Admit("hostLog")) {
        return;
    }
    try {
        std::lock_guard<std::mutex> lock(host.mutex_);
        host.logs_.push_back(LogLevelName(level) + " " + OrEmpty(message));
    } catch (...) {
    }
}

}  // namespace Tavo::Host
