#include "framework/AppModule.h"

#include "PluginLogTarget.h"
#include "TelemetrySender.h"
#include "logging/Diagnostics.h"
#include "logging/Format.h"
#include "logging/Log.h"
#include "logging/LogManager.h"
#include "logging/LogTarget.h"
#include "remoting/RemotingApi.h"

namespace Tavo::Client {

// ---- ResourceListenerBase ------------------------------------------------

void ResourceListenerBase::Subscribe(const std::string&) {}

void ResourceListenerBase::Unsubscribe(const std::string&) {}

// ---- ModuleServices --------------------------------------------------------

ModuleServices::~ModuleServices() = default;

void ModuleServices::Stop() {
    for (const auto& entry : hostEventHandlers_) {
        hostUnsubscribe(entry.first.c_str(), hostContext_);
    }
    hostEventHandlers_.clear();
    {
        std::lock_guard<Platform::Mutex> lock(serviceProxyMutex_);
        pendingServiceProxyRequests_.clear();
        asyncServiceProxyHandlers_.clear();
        receivedServiceProxyReplies_.clear();
    }
    std::unordered_map<std::string, TimerRecord> timers;
    {
        std::lock_guard<Platform::Mutex> lock(timerMutex_);
        timers.swap(timers_);
    }
    timers.clear();  // outside the lock: the handlers' destructors may do anything
    exactListeners_.clear();
    patternListeners_.clear();
}

std::uint64_t ModuleServices::NextTaskId() const {
    std::lock_guard<Platform::Mutex> lock(taskMutex_);
    return nextTaskId_;
}

std::size_t ModuleServices::PendingTaskCount() const {
    std::lock_guard<Platform::Mutex> lock(taskMutex_);
    return tasks_.size();
}

// ---- AppModule -------------------------------------------------------------

AppModule::LogReference::LogReference() {
    LogManager::AddReference();
}

AppModule::LogReference::~LogReference() {
    LogManager::Release();
}

AppModule::AppModule()
    : registry_(std::make_unique<RemotingApi>()),
      callbacks_(PluginCallbackTable()),
      eventContext_(IssueCallbackContext(*this, 0)) {}

AppModule::~AppModule() {
    RevokeCallbackContexts();
}

void AppModule::RevokeCallbackContexts() {
    Tavo::Client::RevokeCallbackContexts(*this);
}

CallbackLease AppModule::ResolveEventContext(void* context) {
    CallbackLease lease = ResolveCallbackContext(context);
    // Task tokens carry their task id (never 0); only the event token has 0.
    if (lease && lease.Payload() != 0) {
        return CallbackLease();
    }
    return lease;
}

HostInterface* AppModule::Host(const char* operation) const {
    if (hostConnection_ == nullptr || hostConnection_->host == nullptr) {
        Log(LogLevel::Error, LogGroup::DBG, "%s called before the module was initialized",
            operation);
        return nullptr;
    }
    return hostConnection_->host;
}

// Slots 4 to 12 forward to host entries 0 to 8. A host that leaves an entry
// empty gets no call; the slot returns 0.

std::uint32_t AppModule::hostSendRequest(HostResponse* response, const HostRequest* request) {
    HostInterface* host = Host("hostSendRequest");
    return host != nullptr && host->hostSendRequest != nullptr
               ? host->hostSendRequest(host, response, request)
               : 0;
}

std::uint32_t AppModule::hostReserved1(std::uintptr_t first, std::uintptr_t second) {
    HostInterface* host = Host("host entry 1");
    return host != nullptr && host->reserved1 != nullptr ? host->reserved1(host, first, second) : 0;
}

std::uint32_t AppModule::hostReserved2(std::uintptr_t word) {
    HostInterface* host = Host("host entry 2");
    return host != nullptr && host->reserved2 != nullptr ? host->reserved2(host, word) : 0;
}

std::uint32_t AppModule::hostSubscribe(const char* eventName, std::uint32_t hostContext,
                                       HostEventCallback callback, void* context,
                                       std::int32_t flags) {
    HostInterface* host = Host("hostSubscribe");
    return host != nullptr && host->hostSubscribe != nullptr
               ? host->hostSubscribe(host, eventName, hostContext, callback, context, flags)
               : 0;
}

std::uint32_t AppModule::hostUnsubscribe(const char* eventName, std::uint32_t hostContext) {
    HostInterface* host = Host("hostUnsubscribe");
    return host != nullptr && host->hostUnsubscribe != nullptr
               ? host->hostUnsubscribe(host, eventName, hostContext)
               : 0;
}

std::uint32_t AppModule::hostScheduleCallback(const char* description,
                                              HostScheduledCallback callback, void* context,
                                              double delaySeconds, std::int32_t flags) {
    HostInterface* host = Host("hostScheduleCallback");
    return host != nullptr && host->hostScheduleCallback != nullptr
               ? host->hostScheduleCallback(host, description, callback, context, delaySeconds,
                                            flags)
               : 0;
}

std::uint32_t AppModule::hostYield() {
    HostInterface* host = Host("hostYield");
    return host != nullptr && host->hostYield != nullptr ? host->hostYield(host) : 0;
}

std::uint32_t AppModule::hostBeginWait(const std::string& description, std::int32_t word) {
    HostInterface* host = Host("hostBeginWait");
    return host != nullptr && host->hostBeginWait != nullptr
               ? host->hostBeginWait(host, description.c_str(), word)
               : 0;
}

std::uint32_t AppModule::hostEndWait() {
    HostInterface* host = Host("hostEndWait");
    return host != nullptr && host->hostEndWait != nullptr ? host->hostEndWait(host) : 0;
}

void AppModule::RegisterApiTypes() {}

bool AppModule::Start() {
    return true;
}

void AppModule::Load(PluginLoadRecord& record, std::string_view shortName, const PluginType& type) {
    const PluginApiVersion hostVersion{record.apiMajor, record.apiMinor, record.apiPatch, "", ""};
    if (!IsHostApiCompatible(hostVersion, kPluginApiVersion)) {
        const std::string message =
            Format("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                   shortName, kPluginApiVersion, hostVersion);
        TAVO_FATAL(Diagnostics::kIncompatibleHostApi, "%s", message.c_str());
    }

    name_.fullName = GetFullNameFromShortNameAndType(shortName, type);
    name_.shortName = std::string(shortName);
    name_.typeName = type.typeName != nullptr ? type.typeName : "";
    name_.typeQualifier = type.typeQualifier != nullptr ? type.typeQualifier : "";
    typeTags_ = {"Plugins", "Plugin " + name_.shortName};

    RegisterFrameworkTypes(*registry_);
    RegisterApiTypes();
    apiExport_ = BuildApiExport(*registry_);

    record.apiMajor = kPluginApiVersion.major;
    record.apiMinor = kPluginApiVersion.minor;
    record.apiPatch = kPluginApiVersion.patch;
    record.callbacks = &callbacks_;
    record.module = this;
    record.shortName = name_.shortName.c_str();
    record.apiExport = &apiExport_.Block();
}

bool AppModule::Initialize(HostConnection* connection) {
    if (connection == nullptr || connection->host == nullptr) {
        Log(LogLevel::Error, LogGroup::DBG, "Initialize of %s called without a host connection",
            name_.shortName.c_str());
        return false;
    }
    hostConnection_ = connection;
    InstallPluginLogTarget();
    ConnectServices();
    return Start();
}

void AppModule::ConnectServices() {
    hostContext_ = hostConnection_->hostContext;
    listenerRegistry_ = registry_.get();
    owner_ = this;
    telemetrySender_ = std::make_unique<TelemetrySender>(*this);
    RegisterEventHandler<PluginServiceProxyResponse>(
        "OnServiceProxyUuidEvent",
        [this](const PluginServiceProxyResponse& reply) { OnServiceProxyUuidReply(reply); }, 1);
    RegisterEventHandler<PluginServiceProxyResponse>(
        "OnServiceProxyMethodEvent",
        [this](const PluginServiceProxyResponse& reply) { OnServiceProxyMethodReply(reply); }, 1);
    RegisterEventHandler<PluginServiceProxyResponse>(
        "OnServiceProxyAsyncEvent",
        [this](const PluginServiceProxyResponse& reply) { OnServiceProxyAsyncReply(reply); }, 1);
}

void AppModule::RegisterFrameworkTypes(BindingRegistry& registry) {
    servicesRegistry_ = &registry;
    registry.Register<PluginManagerState>();
    registry.Register<PluginManagerResource>();
    registry.Register<PluginResourceEventType>();
    registry.Register<PluginResourceEvent>();
    registry.Register<PluginLcdsEvent>();
    registry.Register<PluginLcdsResponse>();
    registry.Register<PluginServiceProxyResponse>();

    struct Event {
        const char* name;
        const BindingTypeDescriptor* payload;
        const char* description;
    };
    const BindingTypeDescriptor* serviceProxy = registry.FindType<PluginServiceProxyResponse>();
    const Event events[] = {
        {"OnJsonApiEvent", registry.FindType<PluginResourceEvent>(),
         "Fired when a resource is changed."},
        {"OnLcdsEvent", registry.FindType<PluginLcdsEvent>(),
         "Fired when a message is received over the LCDS connection."},
        {"OnServiceProxyUuidEvent", serviceProxy,
         "Fired when a uuid-based service proxy message is received."},
        {"OnServiceProxyMethodEvent", serviceProxy,
         "Fired when a method-based service proxy message is received."},
        {"OnServiceProxyAsyncEvent", serviceProxy,
         "Fired when an async service proxy message is received."},
    };
    for (const Event& event : events) {
        registry.DeclareEvent(event.name, event.payload)
            .SetDescription(event.description)
            .AddTag(kFrameworkTypeTag);
    }
}

}  // namespace Tavo::Client
