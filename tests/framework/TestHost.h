#pragma once
// An in-process host for tests: a HostInterface whose ten entries record
// every call and let the test script the answers, the plugin's event
// subscriptions, and scheduled callbacks kept in virtual time until the test
// runs them.
//
//   Tavo::Testing::TestHost host;
//   record.callbacks->Initialize(module, host.Connection());
//   host.RunUntil(60);  // every callback due in the first minute
//   EXPECT_THAT(host.Trace(), Contains("hostScheduleCallback 'Timer: my.T' 60"));
//
// Plugin code runs only inside RunNext, RunUntil, RunAll, Deliver and the
// default yield. One mutex guards the state (the plugin may schedule from any
// thread); it is never held while plugin code or a test's hook runs.
// Not copyable or movable: the table's address is what the plugin keeps.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"

namespace Tavo::Testing {

// Host interface entries in table order.
enum class HostEntry {
    SendRequest,
    Reserved1,
    Reserved2,
    Subscribe,
    Unsubscribe,
    ScheduleCallback,
    Yield,
    BeginWait,
    EndWait,
    Log,
};

// One recorded call; fields the entry does not take keep their defaults.
struct HostCall {
    HostEntry entry = HostEntry::Yield;
    // As Trace shows it: "hostSendRequest 2 '/path' args=1", "hostSubscribe 'E' flags=0",
    // "hostScheduleCallback 'Timer: x' 1.5", "hostLog 1 'message'", "reserved1 1 2", ...
    std::string line{};
    std::uint32_t hostContext = 0;
    std::int32_t flags = 0;  // subscribe and schedule flags, begin-wait word
    std::uint32_t method = 0;
    std::vector<std::string> arguments{};  // as JSON, after "name=" when named
    double delaySeconds = 0;
    void* callbackContext = nullptr;
    HostEventCallback eventCallback = nullptr;     // hostSubscribe
    HostScheduledCallback taskCallback = nullptr;  // hostScheduleCallback
};

struct HostSubscription {
    std::string eventName;
    HostEventCallback callback = nullptr;
    void* context = nullptr;
    std::int32_t flags = 0;
};

struct HostScheduledTask {
    HostScheduledCallback callback = nullptr;
    void* context = nullptr;
    double dueTime = 0;  // virtual seconds

    void Fire() const { callback(context); }
};

class TestHost {
public:
    explicit TestHost(std::uint32_t hostContext = 0x1234);
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    HostConnection* Connection() { return &connection_; }
    HostInterface* Interface() { return &table_.entries; }
    std::uint32_t HostContext() const { return connection_.hostContext; }

    // ---- Recorded calls; ClearCalls keeps subscriptions and the queue.
    std::vector<HostCall> Calls() const {
        return Locked([&] { return calls_; });
    }
    std::vector<HostCall> CallsTo(HostEntry entry) const;
    std::size_t CountOf(HostEntry entry) const { return CallsTo(entry).size(); }
    // The lines of the calls (to one entry).
    std::vector<std::string> Trace(std::optional<HostEntry> entry = std::nullopt) const;
    void ClearCalls() {
        Locked([&] { calls_.clear(); });
    }

    // ---- Requests: the handler fills the response; without one it stays as
    // the plugin zero-filled it (success, null body).
    using RequestHandler = std::function<void(HostResponse& response, const HostRequest& request)>;
    void SetRequestHandler(RequestHandler handler) {
        Locked([&] { requestHandler_ = Share(std::move(handler)); });
    }

    // ---- Subscriptions, one per event name (a repeat replaces it).
    std::optional<HostSubscription> FindSubscription(std::string_view eventName) const;
    bool IsSubscribed(std::string_view eventName) const {
        return FindSubscription(eventName).has_value();
    }
    // Calls the subscriber with a HostEvent borrowing `payload`; false, calling
    // nothing, when nobody is subscribed.
    bool Deliver(std::string_view eventName, const HostValue& payload);
    // Through a subscription the test kept, e.g. one since withdrawn.
    static void DeliverTo(const HostSubscription& subscription, const HostValue& payload);

    // ---- Scheduled callbacks, due at the virtual time of their scheduling
    // plus their delay (negative counts as 0); ties run in scheduling order.
    std::vector<HostScheduledTask> Pending() const;  // earliest first
    std::size_t PendingCount() const {
        return Locked([&] { return queue_.size(); });
    }
    // Runs the earliest callback, first moving the virtual time to its due
    // time; false when none is pending.
    bool RunNext();
    // Runs every callback due by `time`, those they schedule included; then
    // the virtual time is `time`, unless it was later. Returns how many ran.
    std::size_t RunUntil(double time);
    std::size_t RunAll(std::size_t limit = 10000);  // a timer chain never ends

    // ---- Waits. hostYield runs the hook, or by default the earliest callback.
    void SetYieldHook(std::function<void()> hook) {
        Locked([&] { yieldHook_ = Share(std::move(hook)); });
    }
    // hostBeginWait calls minus hostEndWait calls.
    int WaitDepth() const {
        return Locked([&] { return waitDepth_; });
    }

private:
    // The owner beside the table, found from the address every entry gets.
    struct Table {
        HostInterface entries;
        TestHost* owner;
    };
    static TestHost& From(HostInterface* self) { return *reinterpret_cast<Table*>(self)->owner; }
    template <class F>
    auto Locked(F&& action) const -> decltype(action()) {
        std::lock_guard<std::mutex> lock(mutex_);
        return action();
    }
    // Hooks are shared, so a call runs the one that was set when it began.
    template <class F>
    static std::shared_ptr<F> Share(F hook) {
        return hook ? std::make_shared<F>(std::move(hook)) : nullptr;
    }
    void Record(HostCall call) {
        Locked([&] { calls_.push_back(std::move(call)); });
    }

    Table table_;
    HostConnection connection_;

    mutable std::mutex mutex_;  // guards everything below
    std::vector<HostCall> calls_;
    std::vector<HostSubscription> subscriptions_;
    std::multimap<double, HostScheduledTask> queue_;  // by due time, ties in insertion order
    double now_ = 0;
    int waitDepth_ = 0;
    std::shared_ptr<RequestHandler> requestHandler_;
    std::shared_ptr<std::function<void()>> yieldHook_;
};

}  // namespace Tavo::Testing
