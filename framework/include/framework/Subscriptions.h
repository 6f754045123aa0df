#pragma once
// Resource subscriptions and event dispatch: the templates of AppModule.
//
// One host subscription per event name, however many listeners share it
// (subscription counts); the host calls OnHostEvent<P> with the module's
// event context, which resolves to nothing once the module is gone. The
// payload travels host value → dynamic value ("<result>") → P, and the stored
// handler gets the record. Resource events go to the resource dispatcher,
// which finds the exact and pattern listeners; a typed listener's adapter
// converts the data into its T ("<value>").
//
// Re-entrancy: a handler or listener may subscribe, unsubscribe, re-register
// or add listeners while it runs. The running handler is kept alive by a copy
// of its shared owner, the running listener by a copy of its callable, and
// the pattern listeners to call are chosen before the first one runs.
//
// Threading: the tables are not locked; the host delivers events one at a
// time (they may nest inside a cooperative wait).

#include <memory>
#include <string>
#include <utility>

#include "binding/Converters.h"
#include "binding/HostValueConvert.h"
#include "binding/StaticType.h"
#include "framework/AppModule.h"
#include "framework/HostCallGuard.h"

namespace Tavo {
// The resource a host event carries; named in traces only.
struct Resource;
}  // namespace Tavo

namespace Tavo::Client {

// The host's event callback for payload record P: leases the module behind
// the event's context (nothing happens when it is gone) and delivers the
// event to it. No exception leaves it.
// [host-thread & initialized]
template <class P>
void OnHostEvent(HostEvent* event) {
    GuardHostCall("OnHostEvent", [event] {
        if (event == nullptr) {
            return;
        }
        CallbackLease lease = AppModule::ResolveEventContext(event->context);
        if (!lease) {
            return;
        }
        lease.Module()->template DeliverHostEvent<P>(*event);
    });
}

template <class P>
void AppModule::RegisterEventHandler(const char* eventName,
                                     std::function<void(const P& payload)> handler,
                                     std::int32_t flags) {
    const std::string name = eventName != nullptr ? eventName : "";
    hostEventHandlers_[name] = std::make_shared<TypedHostEventHandler<P>>(std::move(handler));
    hostSubscribe(name.c_str(), hostContext_, &OnHostEvent<P>, EventContext(), flags);
}

template <class P>
void AppModule::DeliverHostEvent(const HostEvent& event) {
    const char* name = event.name != nullptr ? event.name : "";
    const auto it = hostEventHandlers_.find(name);
    if (it == hostEventHandlers_.end()) {
        return;
    }
    // Held for the call: the handler may replace or erase its own entry.
    const std::shared_ptr<HostEventHandler> handler = it->second;
    if (handler == nullptr || handler->PayloadTypeId() != StaticType::Anonymous<P>().hashCode) {
        return;  // a handler of another payload (replaced since subscribing)
    }
    const HostValue payload = event.payload;
    BindingResult value = PropertyFromHostValue(payload, "<result>");
    if (!value.IsOk()) {
        Trace("Couldn't convert payload %s for event %s: %s", StaticType::Named<Resource>().name,
              name, std::string(value.ErrorMessage()).c_str());
        return;
    }
    P record{};
    BindingResult context;
    FromProperty(context, record, value.Value(), "<result>", Registry());
    if (!context.IsOk()) {
        Trace("Couldn't convert payload %s for event %s: %s", StaticType::Named<Resource>().name,
              name, std::string(context.ErrorMessage()).c_str());
        return;
    }
    Trace("Handling event %s", name);
    static_cast<const TypedHostEventHandler<P>&>(*handler).Call(record);
}

template <class T>
void AppModule::AddResourceListener(const std::string& path,
                                    std::function<void(const ResourceUpdate<T>& update)> handler) {
    // Shared, so that the copies the dispatcher makes for each call are cheap.
    auto typed =
        std::make_shared<std::function<void(const ResourceUpdate<T>&)>>(std::move(handler));
    ResourceListener adapter = [this, typed](const PluginResourceEvent& event) {
        ResourceUpdate<T> update;
        update.uri = event.uri;
        update.eventType = event.eventType;
        if (event.eventType != PluginResourceEventType::Delete) {
            BindingResult context;
            FromProperty(context, update.data, event.data, "<value>", ListenerRegistry());
            if (!context.IsOk()) {
                Trace("Couldn't convert resource %s to C++ while handling update for URL: %s",
                      StaticType::Named<T>().name, event.uri.c_str());
                return;
            }
        }
        (*typed)(update);
    };
    const bool isPattern = path.find('*') != std::string::npos;
    (isPattern ? patternListeners_ : exactListeners_)[path] = adapter;
    Subscribe(path);
    if (isPattern) {
        return;
    }
    Maybe<BindingProperty> current = GetResource(path);
    if (!current) {
        return;  // the listener waits for host events
    }
    PluginResourceEvent created;
    created.uri = path;
    created.eventType = PluginResourceEventType::Create;
    created.data = std::move(current).Value();
    adapter(created);
}

}  // namespace Tavo::Client
