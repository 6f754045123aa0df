#pragma once
// The module core: the class every plugin derives from.
//
// One module exists per loaded plugin; the host knows it only as the module
// handle (its address). The class chain, base first:
//
//   ResourceListenerBase  the resource-listener layer (slots 0 and 1)
//   ModuleServices        the services' tables and the host slots 4..12
//   AppModule             identity, registry, host connection, callback
//                         table, export block; slots 13 and 14
//
// Virtual operations in slot order (a plugin overrides 2, 13 and 14; the
// host-facing code relies on the order):
//    0 Subscribe             1 Unsubscribe           2 destructor
//    3 Stop                  4 hostSendRequest       5 host entry 1
//    6 host entry 2          7 hostSubscribe         8 hostUnsubscribe
//    9 hostScheduleCallback 10 hostYield            11 hostBeginWait
//   12 hostEndWait          13 RegisterApiTypes     14 Start
// Slots 4 to 12 forward to host entries 0 to 8 with their arguments
// unchanged and return the entry's result.
//
// Life cycle: constructed → loaded (LoadPlugin: names, types, export block) →
// running (Initialize: host connection, Start) → stopped and destroyed
// (Shutdown). The host slots are usable while running; before Initialize they
// call nothing, log an Error and return 0.
//
// Threading: the host calls into the module one call at a time (calls may
// nest inside hostYield); every table relies on that except the task and
// timer tables (task and timer mutexes: the host may run scheduled tasks on
// any thread) and the service-proxy tables (service-proxy mutex).

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingApiExport.h"
#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"
#include "framework/CallbackContext.h"
#include "framework/FrameworkTypes.h"
#include "framework/PluginEntry.h"
#include "framework/ServiceProxy.h"
#include "framework/Timers.h"
#include "logging/Failure.h"
#include "platform/Platform.h"
#include "remoting/HttpMethod.h"

namespace Tavo {
class LogTarget;
}

namespace Tavo::Testing {
// The tests' one way to the module's private tables and raw host slots
// (tests/framework/ModuleTestSeam.h); plugin code has none.
class ModuleTestSeam;
}  // namespace Tavo::Testing

namespace Tavo::Client {

class AppModule;
class TelemetrySender;

namespace detail {
class RequestArguments;
}  // namespace detail

// What a typed resource listener receives (AppModule::AddResourceListener).
template <class T>
struct ResourceUpdate {
    std::string uri;  // the path as the host sent it
    PluginResourceEventType eventType = PluginResourceEventType::Create;
    T data{};  // the converted value; default-constructed for Delete
};

class ModuleServices;

// The resource-listener layer: listeners by exact path and by pattern. Its two
// virtual operations do nothing here; the module gives them their behaviour.
class ResourceListenerBase {
public:
    // Called with every resource event for a path the listener was added for.
    using ResourceListener = std::function<void(const PluginResourceEvent& event)>;

    // Slot 0: counts one subscription to the host event of `uri`.
    // [host-thread]
    virtual void Subscribe(const std::string& uri);
    // Slot 1: undoes one Subscribe.
    // [host-thread]
    virtual void Unsubscribe(const std::string& uri);

protected:
    ResourceListenerBase() = default;
    // Not virtual: the chain is destroyed through ModuleServices (slot 2).
    ~ResourceListenerBase() = default;
    ResourceListenerBase(const ResourceListenerBase&) = delete;
    ResourceListenerBase& operator=(const ResourceListenerBase&) = delete;

private:
    friend class ModuleServices;
    friend class AppModule;
    friend class Testing::ModuleTestSeam;

    // Host thread only, like every table of the module but the timer, task
    // and service-proxy tables.
    // The registry the typed listeners convert with; set at Initialize, not owned.
    BindingRegistry* listenerRegistry_ = nullptr;
    // Path → listener, for paths without "*".
    std::unordered_map<std::string, ResourceListener> exactListeners_;
    // Pattern → listener, for paths containing "*".
    std::unordered_map<std::string, ResourceListener> patternListeners_;
    // The module itself; set at Initialize.
    AppModule* owner_ = nullptr;
};

// The shared owner of one host event handler, stored per event name. The
// subscription layer derives the typed handler (payload record → callable).
// Whoever calls a handler holds a copy of its shared owner for the call, so
// a handler may replace or erase its own entry while it runs.
class HostEventHandler {
public:
    HostEventHandler() = default;
    virtual ~HostEventHandler() = default;

    // The StaticType id of the payload record the handler takes; 0 when it
    // takes none (an event the module subscribed without a typed handler).
    std::uint32_t PayloadTypeId() const { return payloadTypeId_; }

protected:
    explicit HostEventHandler(std::uint32_t payloadTypeId) : payloadTypeId_(payloadTypeId) {}

private:
    std::uint32_t payloadTypeId_ = 0;
};

// A handler taking the payload record P.
template <class P>
class TypedHostEventHandler final : public HostEventHandler {
public:
    explicit TypedHostEventHandler(std::function<void(const P& payload)> handler)
        : HostEventHandler(StaticType::Anonymous<P>().hashCode), handler_(std::move(handler)) {}

    // Calls the handler; an empty one throws std::bad_function_call.
    void Call(const P& payload) const { handler_(payload); }

private:
    std::function<void(const P& payload)> handler_;
};

// The module services: their tables and the host slots (4 to 12), which
// AppModule implements. Abstract.
class ModuleServices : public ResourceListenerBase {
public:
    // Framework records the module registers (reached as AppModule::X). They
    // are declared here because the service tables below hold them.

    // A message received over the LCDS connection ("OnLcdsEvent").
    struct PluginLcdsEvent {
        std::string clientId;
        std::string subtopic;
        std::string typeName;
        BindingProperty body;

        friend void DescribeBinding(BindingRegistry& registry, BindingTag<PluginLcdsEvent>) {
            registry.DeclareStruct<PluginLcdsEvent>("PluginLcdsEvent")
                .AddField("clientId", &PluginLcdsEvent::clientId)
                .AddField("subtopic", &PluginLcdsEvent::subtopic)
                .AddField("typeName", &PluginLcdsEvent::typeName)
                .AddField("body", &PluginLcdsEvent::body)
                .AddTag(kFrameworkTypeTag);
        }
    };

    // The answer of an LCDS call.
    struct PluginLcdsResponse {
        std::string typeName;
        BindingProperty body;

        friend void DescribeBinding(BindingRegistry& registry, BindingTag<PluginLcdsResponse>) {
            registry.DeclareStruct<PluginLcdsResponse>("PluginLcdsResponse")
                .AddField("typeName", &PluginLcdsResponse::typeName)
                .AddField("body", &PluginLcdsResponse::body)
                .AddTag(kFrameworkTypeTag);
        }
    };

    // A service-proxy message relayed by the host; the fields are passed on
    // untouched.
    struct PluginServiceProxyResponse {
        std::string uuid;
        std::string serviceName;
        std::string methodName;
        std::string payload;
        std::string status;
        std::string error;

        friend void DescribeBinding(BindingRegistry& registry,
                                    BindingTag<PluginServiceProxyResponse>) {
            registry.DeclareStruct<PluginServiceProxyResponse>("PluginServiceProxyResponse")
                .AddField("uuid", &PluginServiceProxyResponse::uuid)
                .AddField("serviceName", &PluginServiceProxyResponse::serviceName)
                .AddField("methodName", &PluginServiceProxyResponse::methodName)
                .AddField("payload", &PluginServiceProxyResponse::payload)
                .AddField("status", &PluginServiceProxyResponse::status)
                .AddField("error", &PluginServiceProxyResponse::error)
                .AddTag(kFrameworkTypeTag);
        }
    };

    using ServiceProxyHandler = ServiceProxyTables<PluginServiceProxyResponse>::Handler;

    // The timer and task records (framework/Timers.h).
    using TimerRecord = Client::TimerRecord;
    using ScheduledTask = Client::ScheduledTask;

    // Slot 2.
    virtual ~ModuleServices();

    // Slot 3: unsubscribes every host event (hostUnsubscribe, in the handler
    // table's order) and empties the handler, service-proxy, timer and
    // listener tables. Subscription counts, the task table and the next task
    // id stay. Makes no host call when nothing is subscribed.
    // [host-thread]
    virtual void Stop();

private:
    friend class AppModule;
    friend class Testing::ModuleTestSeam;

    // Slots 4 to 12: host entries 0 to 8, forwarded unchanged. The raw face
    // the host's side of the boundary calls through; not for plugin code,
    // which uses the services that wrap them (Request, Subscribe,
    // StartTimer, ScheduleTask, Await, Yield).
    // [host-thread & initialized] (9: [any-thread & initialized])
    virtual std::uint32_t hostSendRequest(HostResponse* response, const HostRequest* request) = 0;
    virtual std::uint32_t hostReserved1(std::uintptr_t first, std::uintptr_t second) = 0;
    virtual std::uint32_t hostReserved2(std::uintptr_t word) = 0;
    virtual std::uint32_t hostSubscribe(const char* eventName, std::uint32_t hostContext,
                                        HostEventCallback callback, void* context,
                                        std::int32_t flags) = 0;
    virtual std::uint32_t hostUnsubscribe(const char* eventName, std::uint32_t hostContext) = 0;
    virtual std::uint32_t hostScheduleCallback(const char* description,
                                               HostScheduledCallback callback, void* context,
                                               double delaySeconds, std::int32_t flags) = 0;
    virtual std::uint32_t hostYield() = 0;
    virtual std::uint32_t hostBeginWait(const std::string& description, std::int32_t word) = 0;
    virtual std::uint32_t hostEndWait() = 0;

public:
    // The host's handle for this plugin; 0 until Initialize.
    std::uint32_t HostContext() const { return hostContext_; }
    // The id the next ScheduleTask will use (1 for a new module).
    // [any-thread]
    std::uint64_t NextTaskId() const;
    // Tasks handed to the host whose callback has not run yet.
    // [any-thread]
    std::size_t PendingTaskCount() const;

protected:
    ModuleServices() = default;

private:
    // The module's registry, set by RegisterFrameworkTypes; not owned.
    BindingRegistry* servicesRegistry_ = nullptr;
    std::uint32_t hostContext_ = 0;
    std::unique_ptr<TelemetrySender> telemetrySender_;  // created at Initialize
    // Registered type name → LCDS class name.
    std::unordered_map<std::string, std::string> lcdsClassNames_;
    // StaticType id → expected LCDS response type name.
    std::unordered_map<std::uint32_t, std::string> lcdsResponseTypeNames_;
    // Event name → handler; one entry per host subscription.
    std::unordered_map<std::string, std::shared_ptr<HostEventHandler>> hostEventHandlers_;
    // Event name → Subscribe calls not yet matched by Unsubscribe.
    std::unordered_map<std::string, std::int32_t> subscriptionCounts_;
    // Service-proxy handlers and replies (framework/ServiceProxy.h).
    ServiceProxyTables<PluginServiceProxyResponse> serviceProxy_;
    // Timers and scheduled tasks (framework/Timers.h).
    ModuleTimers timing_;
};

class AppModule : public ModuleServices {
public:
    // An unloaded module: takes a reference on the log manager, creates the
    // registry (with the built-in types) and fills the callback table.
    AppModule();
    // Revokes the module's callback contexts (late host callbacks become
    // no-ops), destroys the registry, names and log target, and releases the
    // log manager reference (the last one in the process stops logging).
    ~AppModule() override;

    // Slot 13: registers the plugin's own types (use DeclareStruct and
    // DeclareEnum below). Runs once during the load step, after the framework
    // types and before the export block is built. Does nothing here.
    // [host-thread & loaded]
    virtual void RegisterApiTypes();
    // Slot 14: starts the plugin's work at the end of Initialize; the result
    // goes to the host unchanged. Returns true here.
    // [host-thread & initialized]
    virtual bool Start();

    // ---- Load and initialisation (driven by PluginEntry) -----------------

    // The load step: checks the host's version in `record` (an incompatible
    // one ends the process through the fatal report "ALE-EECF0606"), names
    // the module, sets its type tags, registers the framework types, then
    // RegisterApiTypes, builds the export block and writes the record
    // (18, 0, 0, callbacks, this, short name, export block).
    // [host-thread]
    void Load(PluginLoadRecord& record, std::string_view shortName,
              const PluginType& type = kBackendPluginType);

    // Connects the module: keeps `connection` (the host's; it must stay valid
    // until Shutdown), installs the plugin log target, stores hostContext,
    // connects the listener layer, then calls Start and returns its result.
    // Returns false without starting when `connection` or its table is null.
    // [host-thread & loaded]
    bool Initialize(HostConnection* connection);

    // Registers the framework's types and events into `registry`, each tagged
    // "tclient", and makes it the services' registry. A type `registry`
    // already holds is left as it is.
    // [host-thread]
    void RegisterFrameworkTypes(BindingRegistry& registry);

    // ---- Type declaration helpers for RegisterApiTypes -------------------

    // Declares a struct or enum in the module's registry and appends the
    // module's type tags ("Plugins", "Plugin <short name>"); add fields or
    // values through the returned builder.
    template <class T>
    BindingStructBuilder<T> DeclareStruct(std::string_view name) {
        BindingStructBuilder<T> builder = registry_->DeclareStruct<T>(name);
        builder.AddTags(typeTags_);
        return builder;
    }
    template <class E>
    BindingEnumBuilder DeclareEnum(std::string_view name) {
        BindingEnumBuilder builder = registry_->DeclareEnum<E>(name);
        builder.AddTags(typeTags_);
        return builder;
    }

    // ---- Timers and tasks ------------------------------------------------

    // Starts (or restarts, replacing period and handler) the repeating timer
    // `name`: `handler` runs every `periodSeconds`, the first time one period
    // from now; each firing re-arms one period after the handler started. A
    // restart makes every callback of the old chain a no-op. A period that is
    // negative or not a number is refused (Error line), leaving the timer as
    // it was. A handler may restart or replace its own timer.
    // [host-thread & initialized]
    void StartTimer(const std::string& name, double periodSeconds, std::function<void()> handler);

    // Runs `function` once, at `dueNanoseconds` on the monotonic clock (at
    // once when that is not in the future), through a host scheduled
    // callback described as `description`. Returns the task id (1, 2, ...).
    // An exception thrown by `function` is caught and logged.
    // [any-thread & initialized]
    std::uint64_t ScheduleTask(const std::string& description, std::function<void()> function,
                               std::int64_t dueNanoseconds);

    // Runs the task `id` and removes it; does nothing for an unknown id.
    // Called by the scheduled-task callback with the task's id.
    // [any-thread & initialized]
    void RunScheduledTask(std::uint64_t id);

    // ---- Cooperative waiting ---------------------------------------------

    // Returns the future's value, handing control to the host (hostYield)
    // until it is ready; the wait is announced as "Wait: future<T>" with T's
    // static type name. A ready future makes no host call. A stored exception
    // is rethrown after the wait ends; a future error (no state, broken
    // promise) is fatal: "ALE-6D828C10". Defined in framework/Await.h.
    // [host-thread & initialized]
    template <class T>
    T Await(std::future<T>& future);
    template <class T>
    T Await(std::future<T>&& future) {
        return Await(future);
    }

    // One courtesy yield to the host, announced as "Wait: yield".
    // [host-thread & initialized]
    void Yield();

    // ---- Resource subscriptions and events (framework/Subscriptions.h) ----

    // The host event a resource path is announced under: "OnJsonApiEvent"
    // and the path's non-empty segments joined by "_", cut to the first three
    // segments (five under "vex-platform-config"). "/vex-login/v1/session/x"
    // gives "OnJsonApiEvent_vex-login_v1_session"; "" gives "OnJsonApiEvent".
    // [any-thread]
    static std::string EventNameForUri(std::string_view uri);

    // Whether `path` matches `pattern`, in one pass without backtracking: a
    // "*" stands for a run of characters without "/" and always runs to the
    // end of its segment (so "/a/*x" matches nothing); it may be empty only
    // when a "/" follows it ("/a/*" does not match "/a/").
    // [any-thread]
    static bool MatchResourcePattern(std::string_view pattern, std::string_view path);

    // Slot 0: counts one subscription to EventNameForUri(uri); the first one
    // subscribes at the host (flags 0) with the resource dispatcher as handler.
    // [host-thread & initialized]
    void Subscribe(const std::string& uri) override;
    // Slot 1: undoes one Subscribe; when the count comes back to exactly 0 the
    // host subscription and its handler go. Listener entries stay. The count
    // is not clamped: an unmatched Unsubscribe drives it below 0, and the next
    // Subscribe then does not reach the host.
    // [host-thread & initialized]
    void Unsubscribe(const std::string& uri) override;

    // Stores `handler` under `eventName` (replacing an earlier one, which is
    // released once no call to it is running) and subscribes at the host with
    // the event callback for P and `flags` (0 resource events, 1 service
    // proxy). Each event's payload is converted from the host value into a P
    // with the module's registry; an event that does not convert is dropped.
    // `eventName` is copied; null counts as "".
    // [host-thread & initialized]
    template <class P>
    void RegisterEventHandler(const char* eventName, std::function<void(const P& payload)> handler,
                              std::int32_t flags);

    // Registers a typed listener for `path`: an exact path, or a pattern when
    // it contains "*" (see MatchResourcePattern). A listener already on the
    // same key is replaced. Each event's data is converted into a T with the
    // registry; an event whose data does not convert is dropped, and a Delete
    // arrives with a default T, unconverted. Then Subscribe(path); for an
    // exact path the current value is read at once (GetResource) and, if that
    // succeeds, delivered as a "Create" before this returns.
    // Handlers may add listeners, unsubscribe or re-register while they run.
    // [host-thread & initialized]
    template <class T>
    void AddResourceListener(const std::string& path,
                             std::function<void(const ResourceUpdate<T>& update)> handler);

    // Delivers a resource event to the exact listener of its path (a leading
    // "/" added when missing), then to every matching pattern listener. The
    // listeners called are fixed before the first is called.
    // [host-thread]
    void DispatchResourceEvent(const PluginResourceEvent& event);

    // Delivers one host event to the handler stored under its name when that
    // handler takes P (the event callback of RegisterEventHandler).
    // [host-thread & initialized]
    template <class P>
    void DeliverHostEvent(const HostEvent& event);

    // The debug trace hook: takes printf arguments and discards them.
    // [any-thread]
    void Trace(const char* /*format*/, ...) const __attribute__((format(printf, 2, 3))) {}

    // ---- Requests to the host (framework/Requests.h) ---------------------

    // Converts `args` in order (native → dynamic → host value, positional),
    // sends `method` `path` through hostSendRequest and classifies the
    // response the host wrote into `response` (which the caller zero-filled
    // and releases). Failures: 400 "Request not sent: Error converting
    // parameters for %1 %2: %3" (the host is not called), or the host's status
    // with "Error response for %1 %2: %3". The argument host values are
    // destroyed before this returns.
    // [host-thread & initialized]
    template <class... Args>
    Maybe<void> SendRequest(HostResponse& response, HttpMethod method, const std::string& path,
                            const Args&... args);

    // SendRequest, then the body decoded into R (void: the body is not read;
    // BindingProperty; any bindable type, a registered record included). A
    // streamed body is read in 4096-byte chunks, yielding to the host after a
    // short chunk while more is to come, and parsed as JSON. The response's
    // release function is called however the request ends.
    // [host-thread & initialized]
    template <class R, class... Args>
    Maybe<R> Request(HttpMethod method, const std::string& path, const Args&... args);

    // GET `path`, the body as a dynamic value.
    // [host-thread & initialized]
    Maybe<BindingProperty> GetResource(const std::string& path);

    // ---- LCDS calls (framework/Lcds.h) -------------------------------------

    // Calls the LCDS method destination.method with `args` through the host
    // (POST "/vex-login/v1/session/invoke" with destination, method and the
    // arguments as a list) and converts the answer's body into an R. The
    // future is always ready when this returns. Failures, code 0 unless the
    // request's own: "Couldn't convert LCDS call parameters: %1"; the
    // request's failure unchanged; an empty body (the method returned
    // nothing): no message; "Expected '%1' as LCDS response for %2.%3, but
    // got '%4'" (only for an R registered with RegisterLcdsResponseTypeName);
    // "Couldn't convert LCDS DTO <R as written, std::string say> to C++ from
    // <body as JSON>". Nothing is logged.
    // [host-thread & initialized]
    template <class R, class... Args>
    std::future<Maybe<R>> InvokeLcds(const std::string& destination, const std::string& method,
                                     const Args&... args);
    // InvokeLcds, then Await on its (ready) future: no host wait or yield.
    // [host-thread & initialized]
    template <class R, class... Args>
    Maybe<R> CallLcds(const std::string& destination, const std::string& method,
                      const Args&... args);
    // The arguments as dynamic values, in order, each converted with the
    // registry; a value of a type registered with RegisterLcdsClassName (or
    // a vector or map of such) gets the member "__class", and so do its
    // fields of such types. The first conversion failure (code 0, the
    // converter's message) stops the rest.
    // [host-thread]
    template <class... Args>
    Maybe<std::vector<BindingProperty>> ToLcdsArguments(const Args&... args) const;

    // Outgoing LCDS arguments of the registered type `typeName` carry the
    // member "__class" with `className`. Call while loading
    // (RegisterApiTypes); the table is read without a lock afterwards.
    // [host-thread & loaded]
    void RegisterLcdsClassName(std::string_view typeName, std::string_view className);
    // An LCDS result converted into T must carry `lcdsTypeName` as its
    // typeName. Call while loading, as above.
    // [host-thread & loaded]
    template <class T>
    void RegisterLcdsResponseTypeName(std::string_view lcdsTypeName) {
        lcdsResponseTypeNames_[StaticType::HashCode<T>()] = std::string(lcdsTypeName);
    }

    // ---- Service proxy (framework/src/ServiceProxy.cpp) --------------------

    // The key of method-based and async replies: "service.method".
    // [any-thread]
    static std::string ServiceProxyKey(std::string_view serviceName, std::string_view methodName);

    // The handlers of "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent"
    // and "OnServiceProxyAsyncEvent", registered by Initialize. A uuid or
    // method reply is stored under its key (replacing an earlier one), then
    // FulfilServiceProxyRequests runs. An async reply goes to the async
    // handler of its key, or is dropped with an Error line.
    // [host-thread]
    void OnServiceProxyUuidReply(const PluginServiceProxyResponse& reply);
    void OnServiceProxyMethodReply(const PluginServiceProxyResponse& reply);
    void OnServiceProxyAsyncReply(const PluginServiceProxyResponse& reply);

    // Hands at most one stored reply to the pending request of its key (the
    // first such pair in the tables' order), logs "Fulfilled service proxy
    // request: <key>" and forgets both. The request and reply are taken out
    // of the tables before the handler runs, so a handler that throws does
    // not stay pending. Handlers run under the service-proxy mutex.
    // [any-thread]
    void FulfilServiceProxyRequests();

    // Registers the handler of a pending request (`key`: a uuid or
    // "service.method") or of async replies (`key`: "service.method"),
    // replacing an earlier one. It inserts under the service-proxy mutex, so
    // it must not be called from inside a service-proxy handler: such a call
    // is refused with an Error line and returns false instead of deadlocking.
    // A pending request is not matched against replies already stored until
    // the next reply event.
    // [any-thread]
    bool AddServiceProxyRequest(const std::string& key, ServiceProxyHandler handler);
    bool AddAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler);

    // ---- Telemetry ---------------------------------------------------------

    // The module's telemetry sender; null before Initialize.
    TelemetrySender* Telemetry() const { return telemetrySender_.get(); }

    // ---- Callback contexts -------------------------------------------------

    // The context the module passes to hostSubscribe with its event callback
    // (RegisterEventHandler, framework/Subscriptions.h). Resolve it in the callback with
    // ResolveEventContext: after the module is destroyed (or from Shutdown on) it resolves to
    // nothing, so an event the host delivers late is dropped:
    //
    //   hostSubscribe(name, HostContext(), &OnHostEvent<P>, EventContext(), flags);
    //
    //   template <class P> void OnHostEvent(HostEvent* event) {   // C linkage
    //       GuardHostCall("OnHostEvent", [&] {
    //           CallbackLease lease = AppModule::ResolveEventContext(event->context);
    //           if (!lease) return;
    //           AppModule& module = *lease.Module();   // valid until `lease` goes
    //           ...
    //       });
    //   }
    // The token stays the same for the module's life.
    void* EventContext() const { return eventContext_; }
    // The module an event context belongs to, leased for the callback's
    // duration; empty when the module is gone or `context` is not one.
    // [any-thread]
    static CallbackLease ResolveEventContext(void* context);

    // Makes every callback context of this module dead at once (late
    // callbacks do nothing) and waits for callbacks running on other threads.
    // Called by Shutdown before Stop, and by the destructor.
    // [host-thread]
    void RevokeCallbackContexts();

    // ---- Identity ----------------------------------------------------------

    const PluginName& Name() const { return name_; }
    const std::vector<std::string>& TypeTags() const { return typeTags_; }
    BindingRegistry& Registry() { return *registry_; }
    const BindingRegistry& Registry() const { return *registry_; }
    const PluginCallbacks& Callbacks() const { return callbacks_; }
    // Zero until the load step.
    const PluginApiExport& ApiExport() const { return apiExport_.Block(); }
    // Null until Initialize.
    HostConnection* Connection() const { return hostConnection_; }

protected:
    // The host table, or null (with an Error line naming `operation`) before
    // Initialize.
    HostInterface* Host(const char* operation) const;

private:
    friend class Testing::ModuleTestSeam;

    // Slots 4 to 12: each calls its host entry, or (before Initialize)
    // nothing, with an Error line, returning 0.
    std::uint32_t hostSendRequest(HostResponse* response, const HostRequest* request) override;
    std::uint32_t hostReserved1(std::uintptr_t first, std::uintptr_t second) override;
    std::uint32_t hostReserved2(std::uintptr_t word) override;
    std::uint32_t hostSubscribe(const char* eventName, std::uint32_t hostContext,
                                HostEventCallback callback, void* context,
                                std::int32_t flags) override;
    std::uint32_t hostUnsubscribe(const char* eventName, std::uint32_t hostContext) override;
    std::uint32_t hostScheduleCallback(const char* description, HostScheduledCallback callback,
                                       void* context, double delaySeconds,
                                       std::int32_t flags) override;
    std::uint32_t hostYield() override;
    std::uint32_t hostBeginWait(const std::string& description, std::int32_t word) override;
    std::uint32_t hostEndWait() override;

    // Takes the log manager reference first and releases it last.
    struct LogReference {
        LogReference();
        ~LogReference();
        LogReference(const LogReference&) = delete;
        LogReference& operator=(const LogReference&) = delete;
    };

    void InstallPluginLogTarget();
    void ConnectServices();

    // The registry typed listeners convert with: the listener layer's once
    // connected, the module's before.
    const BindingRegistry& ListenerRegistry() const {
        return listenerRegistry_ != nullptr ? *listenerRegistry_ : *registry_;
    }

    // Request helpers (framework/src/Requests.cpp).
    static Failure ArgumentFailure(HttpMethod method, const std::string& path,
                                   std::string_view message);
    Maybe<void> SendArguments(HostResponse& response, HttpMethod method, const std::string& path,
                              const detail::RequestArguments& arguments);
    Maybe<BindingProperty> ReadResponseBody(const HostResponse& response, HttpMethod method,
                                            const std::string& path);
    // The streamed body parsed as JSON; a failure carries the reader's
    // message. Closes the stream however it ends.
    Maybe<BindingProperty> ReadStreamedBody(const HostResponse& response);

    // LCDS helpers (framework/src/Lcds.cpp, framework/Lcds.h): the result of one
    // call, and the "__class" rule applied to one converted value of a type
    // described by `info`.
    template <class R, class... Args>
    Maybe<R> LcdsResult(const std::string& destination, const std::string& method,
                        const Args&... args);
    void AddLcdsClassNames(BindingProperty& value, const BindingTypeInfo& info) const;

    // Whether the calling thread is inside a service-proxy handler (and so
    // holds the service-proxy mutex).
    bool InsideServiceProxyHandler() const;
    // Stores a uuid or method reply under `key`, then fulfils what it can.
    void StoreServiceProxyReply(const std::string& key, const PluginServiceProxyResponse& reply);
    // A reply arriving inside a service-proxy handler is dropped with an
    // Error line (the handler holds the mutex); true when it was.
    bool RefuseReplyInsideHandler(const std::string& key) const;
    // Runs `handler` with `reply`, marking the thread as inside a handler.
    // Called with the service-proxy mutex held.
    void CallServiceProxyHandler(const ServiceProxyHandler& handler,
                                 const PluginServiceProxyResponse& reply);
    // One firing of the timer `name` (see StartTimer): runs `handler` when the
    // timer still has `generation`, then re-arms it.
    void FireTimer(const std::string& name, std::uint64_t generation,
                   const std::function<void()>& handler);

    LogReference logReference_;
    std::unique_ptr<LogTarget> logTarget_;  // the plugin log target; null until Initialize
    PluginName name_;
    std::vector<std::string> typeTags_;
    std::unique_ptr<BindingRegistry> registry_;  // the remoting API object
    HostConnection* hostConnection_ = nullptr;   // the host's
    PluginCallbacks callbacks_{};
    BindingApiExport apiExport_;  // points into registry_'s descriptors
    void* eventContext_ = nullptr;
    // The thread running a service-proxy handler, if any (default id: none).
    std::atomic<std::thread::id> serviceProxyHandlerThread_{};
};

}  // namespace Tavo::Client

// The module's inline parts: the template members of its services, each
// beside the service it belongs to.
#include "framework/Await.h"
#include "framework/Lcds.h"
#include "framework/Requests.h"
#include "framework/Subscriptions.h"
