#pragma once
// The host that `ulm-host validate` offers a plugin: the ten HostInterface
// entries with a plain resource table, a queue of scheduled callbacks on a
// virtual clock, and switches that make the host misbehave in the ways a
// real one can (failed requests, responses left empty, streams that break
// half-way, a yield that reports an error). It records what the plugin did
// so that a check can judge it: subscriptions, calls that reached the host
// after Shutdown, responses the plugin never released, and how long each
// call into the plugin took.
//
// Requests: GET of a stored resource answers 200 with its value, any other
// GET 404; POST answers 200 with an empty structure; anything else 405.
// Resource changes raise "OnJsonApiEvent_..." with {"uri", "eventType",
// "data"}, as the development host does.
//
// Threading: every entry may be called from any thread (the records are
// locked); calls into the plugin are never made under the lock. Not
// copyable or movable: the plugin keeps the table's address.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ResourceStore.h"
#include "abi/HostAbi.h"
#include "binding/BindingProperty.h"

namespace Tavo::Host {

enum class RequestFault {
    None,
    Error,         // every request answered 503 with an error text
    Nothing,       // the response record left as the plugin zero-filled it
    BrokenStream,  // 200 with a streamed body whose second read fails
};

struct ValidationSubscription {
    std::string eventName;
    HostEventCallback callback = nullptr;
    void* context = nullptr;
};

struct ValidationCallback {
    double due = 0;  // virtual seconds
    std::uint64_t sequence = 0;
    std::string description;
    HostScheduledCallback callback = nullptr;
    void* context = nullptr;
};

class ValidationHost {
public:
    explicit ValidationHost(std::uint32_t hostContext = 1);
    ValidationHost(const ValidationHost&) = delete;
    ValidationHost& operator=(const ValidationHost&) = delete;

    HostConnection* Connection() { return &connection_; }

    RequestFault requestFault = RequestFault::None;
    bool yieldFails = false;
    // Called inside hostSubscribe with the new subscription, before the
    // entry returns (an event that arrives while the plugin initializes).
    void (*onSubscribe)(ValidationHost& host, const ValidationSubscription& subscription) = nullptr;

    // ---- Driving the plugin [host-thread] ---------------------------------

    // Stores `value` and raises its change to the subscribers of the path's
    // event.
    void SetResource(const std::string& path, const BindingProperty& value);
    // Calls every current subscriber of `eventName` with `payload` (the
    // caller's). Returns how many were called.
    std::size_t Raise(const std::string& eventName, const HostValue& payload);
    // Calls one subscription's callback, whether or not it is still current.
    void Deliver(const ValidationSubscription& subscription, const HostValue& payload);
    // Moves the clock `seconds` on, running each callback as it falls due,
    // at most `limit` of them. Returns how many ran.
    std::size_t Advance(double seconds, std::size_t limit);
    // Removes and returns every queued callback, due or not.
    std::vector<ValidationCallback> TakeAll();
    // Runs one callback taken from the queue, timed.
    void Run(const ValidationCallback& pending);
    std::size_t Pending() const;

    // From now on every call from the plugin is a violation (it was shut
    // down). Events and callbacks may still be delivered.
    void Close();

    // ---- What happened [any-thread] --------------------------------------

    std::vector<ValidationSubscription> Subscriptions() const;
    // Every subscription ever made, withdrawn ones included.
    std::vector<ValidationSubscription> EverSubscribed() const;
    // "hostLog after Shutdown", one per entry reached after Close.
    std::vector<std::string> Violations() const;
    std::vector<std::string> Logs() const;  // "LEVEL message"
    std::size_t Requests() const { return requests_; }
    // Responses filled by any ValidationHost of the process whose release
    // function the plugin has not called.
    static std::size_t Unreleased();
    std::size_t OpenStreams() const { return openStreams_; }
    std::size_t Yields() const { return yields_; }
    std::size_t CallsIntoPlugin() const { return calls_; }
    // The longest single call into the plugin, in seconds.
    double LongestCall() const;
    double TotalCallTime() const;

    // Times one call into the plugin.
    template <class Call>
    void Timed(Call call);

private:
    struct Table {
        HostInterface entries;
        ValidationHost* owner;
    };
    static ValidationHost& From(HostInterface* self);
    // Notes a violation when closed; true when the call may proceed.
    bool Admit(const char* entry);
    void Record(double seconds);

    static std::uint32_t SendRequestEntry(HostInterface* self, HostResponse* response,
                                          const HostRequest* request);
    static std::uint32_t Reserved1Entry(HostInterface* self, std::uintptr_t, std::uintptr_t);
    static std::uint32_t Reserved2Entry(HostInterface* self, std::uintptr_t);
    static std::uint32_t SubscribeEntry(HostInterface* self, const char* eventName,
                                        std::uint32_t hostContext, HostEventCallback callback,
                                        void* context, std::int32_t flags);
    static std::uint32_t UnsubscribeEntry(HostInterface* self, const char* eventName,
                                          std::uint32_t hostContext);
    static std::uint32_t ScheduleEntry(HostInterface* self, const char* description,
                                       HostScheduledCallback callback, void* context,
                                       double delaySeconds, std::int32_t flags);
    static std::uint32_t YieldEntry(HostInterface* self);
    static std::uint32_t BeginWaitEntry(HostInterface* self, const char*, std::int32_t);
    static std::uint32_t EndWaitEntry(HostInterface* self);
    static void LogEntry(HostInterface* self, std::int32_t level, const char* message);
    static void Release(HostResponse* response);
    static std::uint8_t StreamRead(void* context, void* buffer, std::uint32_t* length,
                                   std::uint8_t* more);
    static void StreamClose(void* context);

    void Answer(HostResponse& response, const HostRequest& request);

    // A broken stream; owned by the host, so that a late read or close by
    // the plugin finds it still there.
    struct StreamState {
        ValidationHost* host;
        int reads;
    };

    Table table_;
    HostConnection connection_;

    mutable std::mutex mutex_;  // guards everything below but the atomics
    ResourceStore resources_;
    std::vector<ValidationSubscription> subscriptions_;
    std::vector<ValidationSubscription> everSubscribed_;
    std::vector<ValidationCallback> queue_;
    std::uint64_t nextSequence_ = 1;
    double now_ = 0;
    std::vector<std::string> violations_;
    std::vector<std::string> logs_;
    std::vector<std::unique_ptr<StreamState>> streams_;
    double longest_ = 0;
    double total_ = 0;

    std::atomic<bool> closed_{false};
    std::atomic<std::size_t> requests_{0};
    std::atomic<std::size_t> openStreams_{0};
    std::atomic<std::size_t> yields_{0};
    std::atomic<std::size_t> calls_{0};
};

template <class Call>
void ValidationHost::Timed(Call call) {
    const auto start = std::chrono::steady_clock::now();
    ++calls_;
    call();
    Record(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace Tavo::Host
