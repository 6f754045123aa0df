#pragma once
// The framework's own registered types: the plugin manager's state and the
// resource event every resource listener receives. Each is described right
// after its declaration; every module registers them (with the records nested
// in AppModule and the framework events) before its own types, all tagged
// kFrameworkTypeTag. See AppModule::RegisterFrameworkTypes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"

namespace Tavo::Client {

// The tag of every framework type and event in the API help.
inline constexpr const char* kFrameworkTypeTag = "tclient";

// Registered for the API help only; nothing in the framework reads it.
enum class PluginManagerState : std::int32_t {
    NotReady = 0,
    PluginsInitialized = 1,
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<PluginManagerState>) {
    registry.DeclareEnum<PluginManagerState>("PluginManagerState")
        .AddValue("NotReady", PluginManagerState::NotReady)
        .AddValue("PluginsInitialized", PluginManagerState::PluginsInitialized)
        .AddTag(kFrameworkTypeTag);
}

struct PluginManagerResource {
    PluginManagerState state = PluginManagerState::NotReady;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<PluginManagerResource>) {
    registry.DeclareStruct<PluginManagerResource>("PluginManagerResource")
        .AddField("state", &PluginManagerResource::state)
        .AddTag(kFrameworkTypeTag);
}

// What happened to a resource.
enum class PluginResourceEventType : std::int32_t {
    Create = 0,
    Update = 1,
    Delete = 2,
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<PluginResourceEventType>) {
    registry.DeclareEnum<PluginResourceEventType>("PluginResourceEventType")
        .AddValue("Create", PluginResourceEventType::Create)
        .AddValue("Update", PluginResourceEventType::Update)
        .AddValue("Delete", PluginResourceEventType::Delete)
        .AddTag(kFrameworkTypeTag);
}

// One change of a host resource, the payload of "OnJsonApiEvent".
struct PluginResourceEvent {
    std::string uri;  // the resource's path as the host sent it
    PluginResourceEventType eventType = PluginResourceEventType::Create;
    BindingProperty data;  // the new value; meaningless for Delete
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<PluginResourceEvent>) {
    registry.DeclareStruct<PluginResourceEvent>("PluginResourceEvent")
        .AddField("uri", &PluginResourceEvent::uri)
        .AddField("eventType", &PluginResourceEvent::eventType)
        .AddField("data", &PluginResourceEvent::data)
        .AddTag(kFrameworkTypeTag);
}

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginManagerResource) == 4);
static_assert(sizeof(PluginResourceEvent) == 48);
static_assert(offsetof(PluginResourceEvent, eventType) == 24);
static_assert(offsetof(PluginResourceEvent, data) == 32);
#endif

}  // namespace Tavo::Client
