#include "CounterModule.h"

#include "logging/Log.h"

namespace Counter {

using Tavo::BindingArgumentLocation;
using Tavo::BindingProperty;
using Tavo::Failure;
using Tavo::HttpMethod;
namespace LogGroup = Tavo::LogGroup;
using Tavo::LogLevel;
using Tavo::Client::PluginResourceEventType;
using Tavo::Client::ResourceUpdate;

void CounterModule::RegisterApiTypes() {
    DeclareStruct<Counts>("ResourceCounts")
        .AddField("changes", &Counts::changes)
        .AddField("deletes", &Counts::deletes)
        .AddField("ticks", &Counts::ticks)
        .AddField("present", &Counts::present);
    DeclareStruct<SetCountRequest>("SetCountRequest")
        .AddField("counter", &SetCountRequest::counter)
        .AddField("value", &SetCountRequest::value);

    // The functions run while the module lives: the host calls them only
    // between Initialize and Shutdown.
    Registry()
        .DeclareFunction("GetCount", [this](std::string counter) { return GetCount(counter); })
        .Route(HttpMethod::Get, "/resource-counter/v1/counts/{counter}")
        .Argument("counter", BindingArgumentLocation::Path, "changes, deletes or ticks")
        .SetDescription("Reads one count.");
    Registry()
        .DeclareFunction("SetCount", [this](SetCountRequest request) { return SetCount(request); })
        .Route(HttpMethod::Post, "/resource-counter/v1/counts")
        .Argument("request", BindingArgumentLocation::Body)
        .SetDescription("Sets one count and returns them all.");
}

bool CounterModule::Start() {
    AddResourceListener<BindingProperty>(
        kWatchedPath,
        [this](const ResourceUpdate<BindingProperty>& update) { OnSessionChange(update); });
    StartTimer(kTimerName, kTickSeconds, [this] { OnTick(); });
    return true;
}

void CounterModule::OnSessionChange(const ResourceUpdate<BindingProperty>& update) {
    if (update.eventType == PluginResourceEventType::Delete) {
        ++counts_.deletes;
        counts_.present = false;
    } else {
        ++counts_.changes;
        counts_.present = true;
    }
    Tavo::Log(LogLevel::Okay, LogGroup::DBG, "resource-counter: change %llu, delete %llu",
              static_cast<unsigned long long>(counts_.changes),
              static_cast<unsigned long long>(counts_.deletes));
}

void CounterModule::OnTick() {
    if (!counts_.present) {
        return;
    }
    ++counts_.ticks;
    Tavo::Log(LogLevel::Okay, LogGroup::DBG, "resource-counter: tick %llu",
              static_cast<unsigned long long>(counts_.ticks));
}

std::uint64_t* CounterModule::Find(const std::string& name) {
    if (name == "changes") {
        return &counts_.changes;
    }
    if (name == "deletes") {
        return &counts_.deletes;
    }
    if (name == "ticks") {
        return &counts_.ticks;
    }
    return nullptr;
}

Tavo::Maybe<std::uint64_t> CounterModule::GetCount(const std::string& counter) const {
    const std::uint64_t* count = const_cast<CounterModule*>(this)->Find(counter);
    if (count == nullptr) {
        return Failure(404, "No counter '" + counter + "'.");
    }
    return *count;
}

Tavo::Maybe<Counts> CounterModule::SetCount(const SetCountRequest& request) {
    std::uint64_t* count = Find(request.counter);
    if (count == nullptr) {
        return Failure(400, "No counter '" + request.counter + "'.");
    }
    *count = request.value;
    return counts_;
}

}  // namespace Counter
