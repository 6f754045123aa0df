#pragma once
// The development host's side of the boundary for one plugin: the ten
// HostInterface entries, backed by a resource store, the virtual-time
// scheduler and the LCDS simulator, with every call written to the timeline.
//
// What each entry does:
//   0 hostSendRequest   GET of a stored resource (200 with the value, 404
//                       with an error text when absent); POST of
//                       "/vex-login/v1/session/invoke" answered by the LCDS
//                       simulator as {"typeName", "body"}; POST of
//                       "/telemetry/v1/events/<name>" recorded; anything
//                       else 404 or 405. The response's memory is the host's
//                       until the plugin calls its release function.
//   1, 2                exist, do nothing, return 0.
//   3, 4                subscribe and unsubscribe by event name.
//   5                   queues the callback in virtual time; when it runs, a
//                       "callback" line comes first and an "idle" line
//                       follows if it made no request.
//   6 hostYield         runs the callbacks already due at the current
//                       virtual time (not those scheduled during the yield).
//   7, 8                bracket a wait (recorded, depth counted).
//   9 hostLog           records the line with its level.
// Resource changes raise "OnJsonApiEvent_..." (EventNameForPath) with the
// payload {"uri", "eventType", "data"} and the subscriber's context.
//
// One DevHost serves one plugin: the plugin finds it through the table's
// address. Calls into the plugin (events, callbacks) are made one at a time
// on the thread that drives the DevHost; after Detach nothing reaches the
// plugin any more.
//
// Threading: the driving operations and entries 0, 3, 4, 6, 7, 8 run on the
// host thread; entries 5 and 9 may come from any thread (the records they
// touch are locked). Not copyable or movable: the plugin keeps the table's
// address.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "LcdsSimulator.h"
#include "ResourceStore.h"
#include "Scheduler.h"
#include "Timeline.h"
#include "abi/HostAbi.h"
#include "binding/BindingProperty.h"

namespace Tavo::Host {

// "OKAY", "WARN", "ERROR", "ALWAYS" for levels 0 to 3; the number otherwise.
std::string LogLevelName(std::int32_t level);

struct HostLogLine {
    VirtualTime time = 0;
    std::int32_t level = 0;
    std::string message;
};

// One POST of the LCDS endpoint that reached the simulator.
struct LcdsCallRecord {
    VirtualTime time = 0;
    std::string destination;
    std::string method;
    BindingProperty arguments;  // the collection, as converted from the host value
    enum class Outcome { Value, Nothing, Error };
    Outcome outcome = Outcome::Value;
    BindingProperty value;  // Value: the answer's body
};

struct TelemetryRecord {
    VirtualTime time = 0;
    std::string name;
    BindingProperty body;
};

struct Subscription {
    std::string eventName;
    std::uint32_t hostContext = 0;
    HostEventCallback callback = nullptr;
    void* context = nullptr;
    std::int32_t flags = 0;
};

class DevHost {
public:
    // `timeline` must outlive the host. `hostContext` is the handle the
    // connection carries to the plugin.
    explicit DevHost(Timeline& timeline, std::uint32_t hostContext = 1);
    DevHost(const DevHost&) = delete;
    DevHost& operator=(const DevHost&) = delete;

    // What Initialize gets; valid while the host lives.
    HostConnection* Connection() { return &connection_; }
    ResourceStore& Resources() { return resources_; }
    Scheduler& Clock() { return scheduler_; }
    LcdsSimulator& Lcds() { return lcds_; }
    Timeline& Log() { return timeline_; }

    // ---- Driving the plugin [host-thread] --------------------------------

    // Stores `value` under `path` and raises the change (Create or Update).
    void SetResource(const std::string& path, const BindingProperty& value);
    // Removes `path` and raises Delete; an absent path is only noted.
    void DeleteResource(const std::string& path);
    // Runs the earliest callback due at or before `until`, first moving the
    // clock to its due time. False when none is due.
    bool RunNextDue(VirtualTime until);
    // The plugin is gone: drops its pending callbacks and ignores every later
    // call from it. Returns how many callbacks were dropped.
    std::size_t Detach();

    // ---- What happened ---------------------------------------------------

    std::vector<HostLogLine> Logs() const;  // [any-thread]
    const std::vector<LcdsCallRecord>& LcdsCalls() const { return lcdsCalls_; }
    const std::vector<TelemetryRecord>& Telemetry() const { return telemetry_; }
    const std::vector<Subscription>& Subscriptions() const { return subscriptions_; }
    std::size_t CallbacksRun() const { return callbacksRun_; }
    std::size_t EventsDelivered() const { return eventsDelivered_; }
    // Responses filled by hostSendRequest (of any DevHost in the process)
    // whose release function the plugin has not called. [any-thread]
    static std::size_t UnreleasedResponses();
    int WaitDepth() const { return waitDepth_; }

private:
    // The table first, the owner beside it: every entry receives the table's
    // address and finds its DevHost from there.
    struct Table {
        HostInterface entries;
        DevHost* owner;
    };
    static DevHost& From(HostInterface* self);

    static std::uint32_t SendRequestEntry(HostInterface* self, HostResponse* response,
                                          const HostRequest* request);
    static std::uint32_t Reserved1Entry(HostInterface* self, std::uintptr_t first,
                                        std::uintptr_t second);
    static std::uint32_t Reserved2Entry(HostInterface* self, std::uintptr_t word);
    static std::uint32_t SubscribeEntry(HostInterface* self, const char* eventName,
                                        std::uint32_t hostContext, HostEventCallback callback,
                                        void* context, std::int32_t flags);
    static std::uint32_t UnsubscribeEntry(HostInterface* self, const char* eventName,
                                          std::uint32_t hostContext);
    static std::uint32_t ScheduleCallbackEntry(HostInterface* self, const char* description,
                                               HostScheduledCallback callback, void* context,
                                               double delaySeconds, std::int32_t flags);
    static std::uint32_t YieldEntry(HostInterface* self);
    static std::uint32_t BeginWaitEntry(HostInterface* self, const char* description,
                                        std::int32_t flags);
    static std::uint32_t EndWaitEntry(HostInterface* self);
    static void LogEntry(HostInterface* self, std::int32_t level, const char* message);
    static void ReleaseResponse(HostResponse* response);

    struct Answer;
    void SendRequest(HostResponse& response, const HostRequest& request);
    Answer Route(std::uint32_t method, const std::string& target,
                 const std::vector<BindingProperty>& arguments);
    Answer InvokeLcds(const std::vector<BindingProperty>& arguments);
    void Fill(HostResponse& response, const Answer& answer);
    void Raise(const std::string& path, ResourceChange change, const BindingProperty& value);
    void Run(const PendingCallback& pending);
    void Note(std::string_view kind, std::string_view text,
              const BindingProperty& details = BindingProperty::EmptyValue());

    Table table_;
    HostConnection connection_;
    Timeline& timeline_;
    ResourceStore resources_;
    Scheduler scheduler_;
    LcdsSimulator lcds_;

    std::vector<Subscription> subscriptions_;
    std::vector<LcdsCallRecord> lcdsCalls_;
    std::vector<TelemetryRecord> telemetry_;
    std::size_t callbacksRun_ = 0;
    std::size_t requestsMade_ = 0;  // hostSendRequest calls, on the host thread
    std::size_t eventsDelivered_ = 0;
    int waitDepth_ = 0;
    int yieldDepth_ = 0;
    std::atomic<bool> detached_{false};

    mutable std::mutex logMutex_;  // guards logs_
    std::vector<HostLogLine> logs_;
};

}  // namespace Tavo::Host
