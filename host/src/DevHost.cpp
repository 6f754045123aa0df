#include "DevHost.h"

#include <cstdio>
#include <exception>
#include <new>
#include <utility>

#include "binding/HostValueConvert.h"
#include "formats/JsonWriter.h"
#include "platform/MemoryAccounting.h"
#include "remoting/HttpMethod.h"

namespace Tavo::Host {

namespace {

constexpr std::string_view kTelemetryPrefix = "/telemetry/v1/events/";
// Yields nested deeper than this run nothing: a plugin that yields from
// inside every callback cannot exhaust the stack.
constexpr int kMaxYieldDepth = 32;

// The error text of a failed response when even its copy cannot be made.
constexpr char kNoMemoryText[] = "host out of memory";

// Responses handed out and not yet released, over the whole process.
std::atomic<std::size_t> unreleasedResponses{0};

std::string Json(const BindingProperty& value) {
    return value.IsEmpty() ? std::string("null") : WriteJson(value);
}

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

std::string MethodText(std::uint32_t method) {
    const char* name = MethodName(method);
    return *name != '\0' ? std::string(name) : "method " + std::to_string(method);
}

}  // namespace

std::string LogLevelName(std::int32_t level) {
    switch (level) {
        case 0:
            return "OKAY";
        case 1:
            return "WARN";
        case 2:
            return "ERROR";
        case 3:
            return "ALWAYS";
        default:
            return std::to_string(level);
    }
}

// What the host answers to one request.
struct DevHost::Answer {
    std::int32_t status = 200;
    BindingProperty body;  // on success
    std::string error;     // on failure; status is not 2xx then
    bool failed = false;

    static Answer Failure(std::int32_t status, std::string error) {
        Answer answer;
        answer.status = status;
        answer.error = std::move(error);
        answer.failed = true;
        return answer;
    }
};

DevHost::DevHost(Timeline& timeline, std::uint32_t hostContext)
    : table_{{&SendRequestEntry, &Reserved1Entry, &Reserved2Entry, &SubscribeEntry,
              &UnsubscribeEntry, &ScheduleCallbackEntry, &YieldEntry, &BeginWaitEntry,
              &EndWaitEntry, &LogEntry},
             this},
      connection_{&table_.entries, hostContext},
      timeline_(timeline) {}

DevHost& DevHost::From(HostInterface* self) {
    // The table is the first member of Table, so its address is the Table's.
    return *reinterpret_cast<Table*>(self)->owner;
}

void DevHost::Note(std::string_view kind, std::string_view text, const BindingProperty& details) {
    timeline_.Add(scheduler_.Now(), kind, text, details);
}

std::vector<HostLogLine> DevHost::Logs() const {
    std::lock_guard<std::mutex> lock(logMutex_);
    return logs_;
}

std::size_t DevHost::UnreleasedResponses() {
    return unreleasedResponses.load();
}

// ---- Driving the plugin ------------------------------------------------------

void DevHost::SetResource(const std::string& path, const BindingProperty& value) {
    const ResourceChange change = resources_.Set(path, value);
    BindingProperty details;
    details.Field("path").SetString(path);
    details.Field("value") = value;
    details.Field("eventType").SetString(ResourceChangeName(change));
    Note("set", path + " = " + Json(value) + " (" + ResourceChangeName(change) + ")", details);
    Raise(path, change, value);
}

void DevHost::DeleteResource(const std::string& path) {
    BindingProperty details;
    details.Field("path").SetString(path);
    if (!resources_.Delete(path)) {
        Note("delete", path + " (absent: no event)", details);
        return;
    }
    Note("delete", path, details);
    Raise(path, ResourceChange::Delete, BindingProperty::EmptyValue());
}

void DevHost::Raise(const std::string& path, ResourceChange change, const BindingProperty& value) {
    const std::string eventName = EventNameForPath(path);
    BindingProperty details;
    details.Field("event").SetString(eventName);
    details.Field("uri").SetString(path);
    details.Field("eventType").SetString(ResourceChangeName(change));
    if (detached_) {
        return;
    }
    // Subscriptions may change while the plugin handles the event.
    std::vector<Subscription> receivers;
    for (const Subscription& subscription : subscriptions_) {
        if (subscription.eventName == eventName) {
            receivers.push_back(subscription);
        }
    }
    if (receivers.empty()) {
        Note("event",
             eventName + " " + ResourceChangeName(change) + " " + path + " (nobody subscribed)",
             details);
        return;
    }

    BindingProperty payload;
    payload.Field("uri").SetString(path);
    payload.Field("eventType").SetString(ResourceChangeName(change));
    payload.Field("data") = change == ResourceChange::Delete ? BindingProperty() : value;
    HostValue hostPayload{};
    if (!HostValueFromProperty(hostPayload, payload, nullptr)) {
        Note("event", eventName + ": the payload does not fit a host value; not raised", details);
        return;
    }
    for (const Subscription& receiver : receivers) {
        if (detached_) {
            break;
        }
        Note("event", eventName + " " + ResourceChangeName(change) + " " + path, details);
        HostEvent event{};
        event.name = receiver.eventName.c_str();
        event.payload = hostPayload;
        event.reserved = 0;
        event.context = receiver.context;
        ++eventsDelivered_;
        receiver.callback(&event);
    }
    ResetHostValue(hostPayload);
}

bool DevHost::RunNextDue(VirtualTime until) {
    if (detached_) {
        return false;
    }
    std::optional<PendingCallback> pending = scheduler_.TakeDue(until);
    if (!pending) {
        return false;
    }
    scheduler_.AdvanceTo(pending->due);
    Run(*pending);
    return true;
}

void DevHost::Run(const PendingCallback& pending) {
    BindingProperty details;
    details.Field("description").SetString(pending.description);
    details.Field("sequence").SetUnsigned(pending.sequence);
    Note("callback", pending.description, details);
    ++callbacksRun_;
    const std::size_t requestsBefore = requestsMade_;
    pending.callback(pending.context);
    // Tells an idle tick apart from one whose request follows its line.
    if (requestsMade_ == requestsBefore && !detached_) {
        Note("idle", pending.description + " made no request", details);
    }
}

std::size_t DevHost::Detach() {
    detached_ = true;
    return scheduler_.Clear();
}

// ---- Entry 0: requests -------------------------------------------------------

std::uint32_t DevHost::SendRequestEntry(HostInterface* self, HostResponse* response,
                                        const HostRequest* request) {
    DevHost& host = From(self);
    if (response == nullptr || request == nullptr) {
        host.Note("request", "hostSendRequest without a request or response record: ignored");
        return 0;
    }
    // Nothing may unwind into the plugin.
    try {
        host.SendRequest(*response, *request);
    } catch (const std::exception& error) {
        host.Fill(*response, Answer::Failure(500, std::string("host error: ") + error.what()));
    } catch (...) {
        host.Fill(*response, Answer::Failure(500, "host error"));
    }
    return 0;
}

void DevHost::SendRequest(HostResponse& response, const HostRequest& request) {
    const std::string target = OrEmpty(request.target);
    const std::string methodText = MethodText(request.method);
    BindingProperty details;
    details.Field("method").SetString(methodText);
    details.Field("target").SetString(target);
    ++requestsMade_;
    if (detached_) {
        Fill(response, Answer::Failure(503, "The plugin was shut down"));
        return;
    }

    std::vector<BindingProperty> arguments;
    if (request.argumentCount != 0 && request.arguments == nullptr) {
        Answer answer =
            Answer::Failure(400, "Bad request: " + std::to_string(request.argumentCount) +
                                     " arguments announced, none given");
        Note("request", methodText + " " + target + " -> 400 " + answer.error, details);
        Fill(response, answer);
        return;
    }
    for (std::uint32_t i = 0; i < request.argumentCount; ++i) {
        const HostValue value = request.arguments[i].value;
        std::string error;
        BindingProperty argument;
        if (!PropertyFromHostValue(argument, value, "<argument>", error)) {
            Answer answer = Answer::Failure(
                400, "Bad request: argument " + std::to_string(i + 1) + ": " + error);
            Note("request", methodText + " " + target + " -> 400 " + answer.error, details);
            Fill(response, answer);
            return;
        }
        arguments.push_back(std::move(argument));
    }

    const Answer answer = Route(request.method, target, arguments);
    Fill(response, answer);
}

DevHost::Answer DevHost::Route(std::uint32_t method, const std::string& target,
                               const std::vector<BindingProperty>& arguments) {
    const std::string path = ResourcePathOfTarget(target);
    const std::string methodText = MethodText(method);
    BindingProperty details;
    details.Field("method").SetString(methodText);
    details.Field("path").SetString(path);

    if (method == static_cast<std::uint32_t>(HttpMethod::Post) && path == kLcdsInvokePath) {
        return InvokeLcds(arguments);
    }

    Answer answer;
    if (method == static_cast<std::uint32_t>(HttpMethod::Post) &&
        path.compare(0, kTelemetryPrefix.size(), kTelemetryPrefix) == 0) {
        TelemetryRecord record;
        record.time = scheduler_.Now();
        record.name = path.substr(kTelemetryPrefix.size());
        if (!arguments.empty()) {
            record.body = arguments.front();
        }
        details.Field("name").SetString(record.name);
        details.Field("body") = record.body;
        Note("telemetry", "'" + record.name + "' " + Json(record.body), details);
        telemetry_.push_back(std::move(record));
        answer.status = 204;
        return answer;
    }

    if (method == static_cast<std::uint32_t>(HttpMethod::Get)) {
        if (const BindingProperty* value = resources_.Find(path)) {
            answer.body = *value;
        } else {
            answer = Answer::Failure(404, "Not found: " + path);
        }
    } else if (resources_.Find(path) != nullptr) {
        answer = Answer::Failure(405, "Method not allowed: " + methodText + " " + path);
    } else {
        answer = Answer::Failure(404, "No such endpoint: " + methodText + " " + path);
    }
    details.Field("status").SetSigned(answer.status);
    if (answer.failed) {
        details.Field("error").SetString(answer.error);
    } else {
        details.Field("body") = answer.body;
    }
    Note("request",
         methodText + " " + path + " -> " + std::to_string(answer.status) + " " +
             (answer.failed ? answer.error : Json(answer.body)),
         details);
    return answer;
}

DevHost::Answer DevHost::InvokeLcds(const std::vector<BindingProperty>& arguments) {
    BindingProperty details;
    details.Field("path").SetString(kLcdsInvokePath);
    const bool wellFormed =
        arguments.size() == 3 && arguments[0].GetKind() == BindingProperty::Kind::String &&
        arguments[1].GetKind() == BindingProperty::Kind::String &&
        (arguments[2].GetKind() == BindingProperty::Kind::Collection || arguments[2].IsEmpty());
    if (!wellFormed) {
        Answer answer = Answer::Failure(
            400, "Bad LCDS invocation: expected a destination, a method and an argument list");
        BindingProperty& given = details.Field("arguments");
        given.MakeCollection();
        for (const BindingProperty& argument : arguments) {
            given.Append() = argument;
        }
        Note("lcds", "POST " + std::string(kLcdsInvokePath) + " -> 400 " + answer.error, details);
        return answer;
    }

    LcdsCallRecord record;
    record.time = scheduler_.Now();
    record.destination = std::string(arguments[0].GetString());
    record.method = std::string(arguments[1].GetString());
    record.arguments = arguments[2];
    record.arguments.MakeCollection();

    std::string call = record.destination + "." + record.method + "(";
    bool first = true;
    for (const BindingProperty& argument : record.arguments.Elements()) {
        call += first ? "" : ", ";
        call += Json(argument);
        first = false;
    }
    call += ")";

    const LcdsAnswer lcds = lcds_.Invoke(record.destination, record.method);
    Answer answer;
    std::string outcome;
    if (lcds.ok) {
        answer.body = lcds.response;
        const BindingProperty& body = lcds.response.Find("body");
        record.outcome =
            body.IsEmpty() ? LcdsCallRecord::Outcome::Nothing : LcdsCallRecord::Outcome::Value;
        record.value = body;
        outcome = body.IsEmpty() ? "nothing" : Json(body);
    } else {
        answer = Answer::Failure(lcds.status, lcds.error);
        record.outcome = LcdsCallRecord::Outcome::Error;
        outcome = std::to_string(lcds.status) + " " + lcds.error;
    }
    details.Field("destination").SetString(record.destination);
    details.Field("lcdsMethod").SetString(record.method);
    details.Field("arguments") = record.arguments;
    details.Field("status").SetSigned(answer.status);
    if (answer.failed) {
        details.Field("error").SetString(answer.error);
    } else {
        details.Field("response") = answer.body;
    }
    Note("lcds", call + " -> " + outcome, details);
    lcdsCalls_.push_back(std::move(record));
    return answer;
}

void DevHost::Fill(HostResponse& response, const Answer& answer) {
    // The plugin zero-filled the record; write only what this host uses.
    HostValue body{};
    if (!answer.failed && !HostValueFromProperty(body, answer.body, nullptr)) {
        Fill(response, Answer::Failure(500, "host error: the body does not fit a host value"));
        return;
    }
    response.body = body;
    response.status = answer.status;
    if (answer.failed) {
        response.error = Memory::DuplicateText(answer.error.c_str());
        response.hasError = 1;
        if (response.error == nullptr) {
            response.error = kNoMemoryText;
        }
    }
    response.release = &ReleaseResponse;
    ++unreleasedResponses;
}

void DevHost::ReleaseResponse(HostResponse* response) {
    if (response == nullptr) {
        return;
    }
    HostValue body = response->body;
    ResetHostValue(body);
    response->body = body;
    const char* error = response->error;
    if (error != nullptr && error != kNoMemoryText) {
        Memory::Free(const_cast<char*>(error));
    }
    response->error = nullptr;
    response->hasError = 0;
    response->release = nullptr;
    --unreleasedResponses;
}

// ---- Entries 1 to 9 ----------------------------------------------------------

std::uint32_t DevHost::Reserved1Entry(HostInterface* self, std::uintptr_t first,
                                      std::uintptr_t second) {
    From(self).Note("reserved",
                    "host entry 1 (" + std::to_string(first) + ", " + std::to_string(second) + ")");
    return 0;
}

std::uint32_t DevHost::Reserved2Entry(HostInterface* self, std::uintptr_t word) {
    From(self).Note("reserved", "host entry 2 (" + std::to_string(word) + ")");
    return 0;
}

std::uint32_t DevHost::SubscribeEntry(HostInterface* self, const char* eventName,
                                      std::uint32_t hostContext, HostEventCallback callback,
                                      void* context, std::int32_t flags) {
    DevHost& host = From(self);
    try {
        const std::string name = OrEmpty(eventName);
        BindingProperty details;
        details.Field("event").SetString(name);
        details.Field("flags").SetSigned(flags);
        if (host.detached_) {
            return 0;
        }
        if (eventName == nullptr || callback == nullptr) {
            host.Note("subscribe", "'" + name + "' without a name or callback: ignored", details);
            return 0;
        }
        std::string note;
        if (hostContext != host.connection_.hostContext) {
            note = " (hostContext " + std::to_string(hostContext) + " is not this plugin's " +
                   std::to_string(host.connection_.hostContext) + ")";
        }
        for (Subscription& subscription : host.subscriptions_) {
            if (subscription.eventName == name && subscription.hostContext == hostContext) {
                subscription = Subscription{name, hostContext, callback, context, flags};
                host.Note(
                    "subscribe",
                    name + " flags=" + std::to_string(flags) + " (replaces the earlier one)" + note,
                    details);
                return 0;
            }
        }
        host.subscriptions_.push_back(Subscription{name, hostContext, callback, context, flags});
        host.Note("subscribe", name + " flags=" + std::to_string(flags) + note, details);
    } catch (...) {
        // Out of memory in the host's bookkeeping: the subscription is lost.
    }
    return 0;
}

std::uint32_t DevHost::UnsubscribeEntry(HostInterface* self, const char* eventName,
                                        std::uint32_t hostContext) {
    DevHost& host = From(self);
    try {
        const std::string name = OrEmpty(eventName);
        BindingProperty details;
        details.Field("event").SetString(name);
        for (auto it = host.subscriptions_.begin(); it != host.subscriptions_.end(); ++it) {
            if (it->eventName == name && it->hostContext == hostContext) {
                host.subscriptions_.erase(it);
                host.Note("unsubscribe", name, details);
                return 0;
            }
        }
        host.Note("unsubscribe", name + " (was not subscribed)", details);
    } catch (...) {
    }
    return 0;
}

std::uint32_t DevHost::ScheduleCallbackEntry(HostInterface* self, const char* description,
                                             HostScheduledCallback callback, void* context,
                                             double delaySeconds, std::int32_t flags) {
    DevHost& host = From(self);
    try {
        const std::string text = OrEmpty(description);
        if (host.detached_) {
            return 0;
        }
        if (callback == nullptr) {
            host.Note("schedule", "'" + text + "' without a callback: ignored");
            return 0;
        }
        const PendingCallback pending =
            host.scheduler_.Schedule(text, callback, context, delaySeconds);
        BindingProperty details;
        details.Field("description").SetString(text);
        details.Field("delaySeconds").SetFloat(delaySeconds);
        details.Field("due").SetString(FormatVirtualTime(pending.due));
        details.Field("sequence").SetUnsigned(pending.sequence);
        details.Field("flags").SetSigned(flags);
        char delay[64];
        std::snprintf(delay, sizeof delay, "%.3f", delaySeconds);
        host.Note("schedule",
                  "'" + text + "' in " + delay + " s, due " + FormatVirtualTime(pending.due),
                  details);
    } catch (...) {
    }
    return 0;
}

std::uint32_t DevHost::YieldEntry(HostInterface* self) {
    DevHost& host = From(self);
    try {
        if (host.detached_) {
            return 0;
        }
        if (host.yieldDepth_ >= kMaxYieldDepth) {
            host.Note("yield", "nested " + std::to_string(kMaxYieldDepth) + " deep: nothing run");
            return 0;
        }
        host.Note("yield", "runs what is due now");
        // Only what was queued before the yield: a callback that schedules
        // itself with no delay cannot keep the yield going.
        const std::uint64_t before = host.scheduler_.NextSequence();
        ++host.yieldDepth_;
        while (!host.detached_) {
            std::optional<PendingCallback> pending =
                host.scheduler_.TakeDue(host.scheduler_.Now(), before);
            if (!pending) {
                break;
            }
            host.Run(*pending);
        }
        --host.yieldDepth_;
    } catch (...) {
    }
    return 0;
}

std::uint32_t DevHost::BeginWaitEntry(HostInterface* self, const char* description,
                                      std::int32_t flags) {
    DevHost& host = From(self);
    try {
        ++host.waitDepth_;
        BindingProperty details;
        details.Field("description").SetString(OrEmpty(description));
        details.Field("flags").SetSigned(flags);
        host.Note("wait", std::string("begin '") + OrEmpty(description) + "'", details);
    } catch (...) {
    }
    return 0;
}

std::uint32_t DevHost::EndWaitEntry(HostInterface* self) {
    DevHost& host = From(self);
    try {
        --host.waitDepth_;
        host.Note("wait", host.waitDepth_ < 0 ? "end (no wait had begun)" : "end");
    } catch (...) {
    }
    return 0;
}

void DevHost::LogEntry(HostInterface* self, std::int32_t level, const char* message) {
    DevHost& host = From(self);
    try {
        HostLogLine line;
        line.time = host.scheduler_.Now();
        line.level = level;
        line.message = OrEmpty(message);
        BindingProperty details;
        details.Field("level").SetSigned(level);
        details.Field("levelName").SetString(LogLevelName(level));
        details.Field("message").SetString(line.message);
        host.Note("log", LogLevelName(level) + " " + line.message, details);
        std::lock_guard<std::mutex> lock(host.logMutex_);
        host.logs_.push_back(std::move(line));
    } catch (...) {
    }
}

}  // namespace Tavo::Host
