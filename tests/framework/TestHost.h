#pragma once
// An in-process host for tests: a HostInterface whose ten entries record
// every call and let the test script the answers, a queue of scheduled
// callbacks that runs in virtual time when the test says so, and the event
// subscriptions the plugin made, so a test can deliver events through them.
//
//   Tavo::Testing::TestHost host;
//   PluginLoadRecord record{18, 0, 0};
//   void* module = LoadPlugin<MyModule>(&record, "my-plugin");
//   record.callbacks->Initialize(module, host.Connection());
//   host.AdvanceBy(60);                       // runs every callback due in the next minute
//   EXPECT_THAT(host.Trace(), Contains("hostScheduleCallback 'Timer: my.T' 60"));
//   record.callbacks->Shutdown(module);
//
// Nothing here runs on its own: callbacks run only inside RunNext, RunUntil,
// AdvanceBy, RunAll, Deliver and the default yield. The recorded calls and
// the queue are guarded by a mutex (the plugin may schedule from any thread);
// the mutex is never held while plugin code runs.
// Not copyable or movable: the table's address is what the plugin keeps.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/HostAbi.h"

namespace Tavo::Testing {

// Host interface entries by index (HostInterface order).
enum class HostEntry : int {
    SendRequest = 0,
    Reserved1 = 1,
    Reserved2 = 2,
    Subscribe = 3,
    Unsubscribe = 4,
    ScheduleCallback = 5,
    Yield = 6,
    BeginWait = 7,
    EndWait = 8,
    Log = 9,
};

// The entry's name as the plugin's table calls it ("hostSubscribe", ...).
const char* HostEntryName(HostEntry entry);

// One recorded call. Texts are copies; fields an entry does not take stay at
// their defaults.
struct HostCall {
    HostEntry entry = HostEntry::Yield;
    std::string text;                   // event name, description, request target or log message
    std::uint32_t hostContext = 0;      // hostSubscribe, hostUnsubscribe
    std::int32_t flags = 0;             // subscribe/schedule flags, begin-wait word
    std::int32_t level = 0;             // hostLog
    std::uint32_t method = 0;           // hostSendRequest
    std::uint32_t argumentCount = 0;    // hostSendRequest
    std::uintptr_t requestContext = 0;  // hostSendRequest: HostRequest::context
    double delaySeconds = 0;            // hostScheduleCallback
    std::uintptr_t words[2] = {0, 0};   // reserved entries 1 and 2
    void* callbackContext = nullptr;    // hostSubscribe, hostScheduleCallback

    // A compact one-line form, used by TestHost::Trace:
    //   hostSendRequest 2 '/path' args=1
    //   hostSubscribe 'OnJsonApiEvent_a' flags=0
    //   hostUnsubscribe 'OnJsonApiEvent_a'
    //   hostScheduleCallback 'Timer: x' 60
    //   hostYield / hostEndWait
    //   hostBeginWait 'Wait: yield'
    //   hostLog 1 'message'
    //   reserved1 1 2 / reserved2 7
    std::string ToText() const;
};

// A subscription the plugin holds (hostSubscribe, not yet hostUnsubscribe).
struct HostSubscription {
    std::string eventName;
    std::uint32_t hostContext = 0;
    HostEventCallback callback = nullptr;
    void* context = nullptr;
    std::int32_t flags = 0;
};

// A callback handed to hostScheduleCallback that has not run yet.
struct HostScheduledTask {
    std::uint64_t sequence = 0;  // 1, 2, ... in scheduling order
    std::string description;
    HostScheduledCallback callback = nullptr;
    void* context = nullptr;
    double delaySeconds = 0;  // as the plugin asked
    double dueTime = 0;       // virtual seconds: the time of scheduling plus the delay

    // Calls the plugin's callback with its context.
    void Fire() const { callback(context); }
};

class TestHost {
public:
    // `hostContext` is the handle the connection carries to the plugin.
    explicit TestHost(std::uint32_t hostContext = 0x1234);
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // What Initialize gets. Valid while the host lives.
    HostConnection* Connection() { return &connection_; }
    HostInterface* Interface() { return &table_.entries; }
    std::uint32_t HostContext() const { return connection_.hostContext; }

    // ---- Recorded calls -------------------------------------------------
    std::vector<HostCall> Calls() const;
    // The calls of one entry, in order.
    std::vector<HostCall> CallsTo(HostEntry entry) const;
    std::size_t CountOf(HostEntry entry) const;
    // Every call as HostCall::ToText.
    std::vector<std::string> Trace() const;
    // Forgets the recorded calls and log lines (not the subscriptions or the
    // queue).
    void ClearCalls();

    // ---- Requests -------------------------------------------------------
    // Fills the response of hostSendRequest. The records are the plugin's and
    // valid for the call only. Without a handler the response stays as the
    // plugin zero-filled it: success with a null body.
    using RequestHandler = std::function<void(HostResponse& response, const HostRequest& request)>;
    void SetRequestHandler(RequestHandler handler);

    // ---- Subscriptions --------------------------------------------------
    bool IsSubscribed(std::string_view eventName) const;
    std::optional<HostSubscription> FindSubscription(std::string_view eventName) const;
    std::vector<HostSubscription> Subscriptions() const;
    // Calls the subscriber of `eventName` with a HostEvent carrying `payload`
    // (borrowed for the call) and the subscriber's context. Returns false,
    // calling nothing, when nobody is subscribed.
    bool Deliver(std::string_view eventName, const HostValue& payload);
    // Runs after every hostSubscribe has been recorded and stored, inside the
    // plugin's call (e.g. to deliver an event at once). Null: nothing.
    using SubscribeHook = std::function<void(const HostSubscription& subscription)>;
    void SetSubscribeHook(SubscribeHook hook);
    // The same through a subscription kept by the test, e.g. one that has
    // since been withdrawn (a late delivery).
    static void DeliverTo(const HostSubscription& subscription, const HostValue& payload);

    // ---- Scheduled callbacks in virtual time ----------------------------
    // Virtual seconds since the host was made; moves only forward, and only
    // when the test runs callbacks or advances time.
    double Now() const;
    // The pending callbacks, earliest due first (ties in scheduling order).
    std::vector<HostScheduledTask> Pending() const;
    std::size_t PendingCount() const;
    // Removes the earliest pending callback without running it.
    std::optional<HostScheduledTask> TakeNext();
    // Runs the earliest pending callback, first moving Now() to its due time
    // (never backwards). Returns false when nothing is pending.
    bool RunNext();
    // Runs, in due order, every callback due at or before `time`, including
    // those scheduled by the callbacks themselves; then Now() = max(Now(), time).
    // Returns how many ran.
    std::size_t RunUntil(double time);
    std::size_t AdvanceBy(double seconds) { return RunUntil(Now() + seconds); }
    // Runs callbacks until none is pending or `limit` have run (a timer chain
    // never ends by itself). Returns how many ran.
    std::size_t RunAll(std::size_t limit = 10000);

    // ---- Yield and waits ------------------------------------------------
    // What hostYield does. Default (no hook): run the earliest pending
    // callback, if any. The hook runs inside the plugin's yield.
    void SetYieldHook(std::function<void()> hook);
    // hostBeginWait calls minus hostEndWait calls so far.
    int WaitDepth() const;

    // ---- Log ------------------------------------------------------------
    struct LogLine {
        std::int32_t level;
        std::string message;
    };
    std::vector<LogLine> Logs() const;

private:
    // The table first, the owner beside it: every entry gets the table's
    // address and finds the TestHost from there.
    struct Table {
        HostInterface entries;
        TestHost* owner;
    };
    static TestHost& From(HostInterface* self);
    void Record(HostCall call);

    static std::uint32_t SendRequest(HostInterface* self, HostResponse* response,
                                     const HostRequest* request);
    static std::uint32_t Reserved1(HostInterface* self, std::uintptr_t first,
                                   std::uintptr_t second);
    static std::uint32_t Reserved2(HostInterface* self, std::uintptr_t word);
    static std::uint32_t Subscribe(HostInterface* self, const char* eventName,
                                   std::uint32_t hostContext, HostEventCallback callback,
                                   void* context, std::int32_t flags);
    static std::uint32_t Unsubscribe(HostInterface* self, const char* eventName,
                                     std::uint32_t hostContext);
    static std::uint32_t ScheduleCallback(HostInterface* self, const char* description,
                                          HostScheduledCallback callback, void* context,
                                          double delaySeconds, std::int32_t flags);
    static std::uint32_t Yield(HostInterface* self);
    static std::uint32_t BeginWait(HostInterface* self, const char* description,
                                   std::int32_t flags);
    static std::uint32_t EndWait(HostInterface* self);
    static void Log(HostInterface* self, std::int32_t level, const char* message);

    // Index of the earliest pending task; queue_ must not be empty.
    std::size_t EarliestLocked() const;

    Table table_;
    HostConnection connection_;

    mutable std::mutex mutex_;  // guards everything below
    std::vector<HostCall> calls_;
    std::vector<HostSubscription> subscriptions_;
    std::vector<HostScheduledTask> queue_;
    std::vector<LogLine> logs_;
    std::uint64_t nextSequence_ = 1;
    double now_ = 0;
    int waitDepth_ = 0;
    // Shared, so a call runs the very object the test set (its state
    // included) even if the test replaces it meanwhile.
    std::shared_ptr<RequestHandler> requestHandler_;
    std::shared_ptr<std::function<void()>> yieldHook_;
    std::shared_ptr<SubscribeHook> subscribeHook_;
};

}  // namespace Tavo::Testing
