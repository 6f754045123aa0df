#pragma once
// The built-in types every registry carries before any plugin type: the help
// structures that describe an API, the asynchronous-operation states and the
// generic event payloads, plus the event "OnCallback".
//
// Each type is described right after its declaration; RegisterBuiltins
// registers them in dependency order (element types before the structs that
// refer to them). The 32-bit layouts are the host's and are asserted below.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"

namespace Tavo {

namespace BindingHelpProvider {

enum HelpFormat : std::int32_t {
    Full = 1,
    Epytext = 2,
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<HelpFormat>) {
    registry.DeclareEnum<HelpFormat>("BindingHelpFormat")
        .SetDescription("Help format for binding functions and types.")
        .AddValue("Full", Full, "Native help format")
        .AddValue("Epytext", Epytext, "Python epytext format")
        .AddTags({"$builtin", "help"});
}

struct FullTypeIdentifier {
    std::string type;
    std::string elementType;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullTypeIdentifier>) {
    registry.DeclareStruct<FullTypeIdentifier>("BindingFullTypeIdentifier")
        .SetDescription("Describes the type of a value.")
        .AddField("type", &FullTypeIdentifier::type)
        .AddField("elementType", &FullTypeIdentifier::elementType)
        .AddTags({"$builtin", "help"});
}

struct FullArgumentHelp {
    std::string name;
    std::string description;
    FullTypeIdentifier type;
    bool optional = false;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullArgumentHelp>) {
    registry.DeclareStruct<FullArgumentHelp>("BindingFullArgumentHelp")
        .SetDescription("Describes a function parameter.")
        .AddField("name", &FullArgumentHelp::name)
        .AddField("description", &FullArgumentHelp::description)
        .AddField("type", &FullArgumentHelp::type)
        .AddField("optional", &FullArgumentHelp::optional)
        .AddTags({"$builtin", "help"});
}

struct FullFunctionHelp {
    std::string name;
    std::string nameSpace;
    std::vector<FullArgumentHelp> arguments;
    FullTypeIdentifier returns;
    std::string description;
    std::string help;
    bool threadSafe = false;
    std::string async;
    std::vector<std::string> tags;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullFunctionHelp>) {
    registry.DeclareStruct<FullFunctionHelp>("BindingFullFunctionHelp")
        .SetDescription("Describes a function.")
        .AddField("name", &FullFunctionHelp::name)
        .AddField("nameSpace", &FullFunctionHelp::nameSpace)
        .AddField("arguments", &FullFunctionHelp::arguments)
        .AddField("returns", &FullFunctionHelp::returns)
        .AddField("description", &FullFunctionHelp::description)
        .AddField("help", &FullFunctionHelp::help)
        .AddField("threadSafe", &FullFunctionHelp::threadSafe)
        .AddField("async", &FullFunctionHelp::async)
        .AddField("tags", &FullFunctionHelp::tags)
        .AddTags({"$builtin", "help"});
}

struct FullEnumValueHelp {
    std::string name;
    std::string description;
    std::int32_t value = 0;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullEnumValueHelp>) {
    registry.DeclareStruct<FullEnumValueHelp>("BindingFullEnumValueHelp")
        .SetDescription("Describes an enumerator.")
        .AddField("name", &FullEnumValueHelp::name)
        .AddField("description", &FullEnumValueHelp::description)
        .AddField("value", &FullEnumValueHelp::value)
        .AddTags({"$builtin", "help"});
}

struct FullFieldHelp {
    std::string name;
    std::string description;
    std::uint32_t offset = 0;
    FullTypeIdentifier type;
    bool optional = false;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullFieldHelp>) {
    registry.DeclareStruct<FullFieldHelp>("BindingFullFieldHelp")
        .SetDescription("Describes a member of a struct.")
        .AddField("name", &FullFieldHelp::name)
        .AddField("description", &FullFieldHelp::description)
        .AddField("offset", &FullFieldHelp::offset)
        .AddField("type", &FullFieldHelp::type)
        .AddField("optional", &FullFieldHelp::optional)
        .AddTags({"$builtin", "help"});
}

struct FullTypeHelp {
    std::string name;
    std::string nameSpace;
    std::uint32_t size = 0;
    std::string description;
    std::vector<std::string> tags;
    std::vector<FullFieldHelp> fields;
    std::vector<FullEnumValueHelp> values;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullTypeHelp>) {
    registry.DeclareStruct<FullTypeHelp>("BindingFullTypeHelp")
        .SetDescription("Describes a struct or enum type.")
        .AddField("name", &FullTypeHelp::name)
        .AddField("nameSpace", &FullTypeHelp::nameSpace)
        .AddField("size", &FullTypeHelp::size)
        .AddField("description", &FullTypeHelp::description)
        .AddField("tags", &FullTypeHelp::tags)
        .AddField("fields", &FullTypeHelp::fields)
        .AddField("values", &FullTypeHelp::values)
        .AddTags({"$builtin", "help"});
}

struct FullEventHelp {
    std::string name;
    std::string nameSpace;
    FullTypeIdentifier type;
    std::string description;
    std::vector<std::string> tags;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullEventHelp>) {
    registry.DeclareStruct<FullEventHelp>("BindingFullEventHelp")
        .SetDescription("Describes an event.")
        .AddField("name", &FullEventHelp::name)
        .AddField("nameSpace", &FullEventHelp::nameSpace)
        .AddField("type", &FullEventHelp::type)
        .AddField("description", &FullEventHelp::description)
        .AddField("tags", &FullEventHelp::tags)
        .AddTags({"$builtin", "help"});
}

struct FullApiHelp {
    std::vector<FullFunctionHelp> functions;
    std::vector<FullTypeHelp> types;
    std::vector<FullEventHelp> events;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<FullApiHelp>) {
    registry.DeclareStruct<FullApiHelp>("BindingFullApiHelp")
        .SetDescription("Describes the exposed native API.")
        .AddField("functions", &FullApiHelp::functions)
        .AddField("types", &FullApiHelp::types)
        .AddField("events", &FullApiHelp::events)
        .AddTags({"$builtin", "help"});
}

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FullTypeIdentifier) == 48);
static_assert(offsetof(FullTypeIdentifier, elementType) == 24);
static_assert(sizeof(FullArgumentHelp) == 100);
static_assert(offsetof(FullArgumentHelp, type) == 48);
static_assert(offsetof(FullArgumentHelp, optional) == 96);
static_assert(sizeof(FullFunctionHelp) == 196);
static_assert(offsetof(FullFunctionHelp, arguments) == 48);
static_assert(offsetof(FullFunctionHelp, returns) == 60);
static_assert(offsetof(FullFunctionHelp, description) == 108);
static_assert(offsetof(FullFunctionHelp, help) == 132);
static_assert(offsetof(FullFunctionHelp, threadSafe) == 156);
static_assert(offsetof(FullFunctionHelp, async) == 160);
static_assert(offsetof(FullFunctionHelp, tags) == 184);
static_assert(sizeof(FullEnumValueHelp) == 52);
static_assert(offsetof(FullEnumValueHelp, value) == 48);
static_assert(sizeof(FullFieldHelp) == 104);
static_assert(offsetof(FullFieldHelp, offset) == 48);
static_assert(offsetof(FullFieldHelp, type) == 52);
static_assert(offsetof(FullFieldHelp, optional) == 100);
static_assert(sizeof(FullTypeHelp) == 112);
static_assert(offsetof(FullTypeHelp, size) == 48);
static_assert(offsetof(FullTypeHelp, description) == 52);
static_assert(offsetof(FullTypeHelp, tags) == 76);
static_assert(offsetof(FullTypeHelp, fields) == 88);
static_assert(offsetof(FullTypeHelp, values) == 100);
static_assert(sizeof(FullEventHelp) == 132);
static_assert(offsetof(FullEventHelp, type) == 48);
static_assert(offsetof(FullEventHelp, description) == 96);
static_assert(offsetof(FullEventHelp, tags) == 120);
static_assert(sizeof(FullApiHelp) == 36);
static_assert(offsetof(FullApiHelp, types) == 12);
static_assert(offsetof(FullApiHelp, events) == 24);
#endif

}  // namespace BindingHelpProvider

namespace BindingAsyncState {

enum Type : std::int32_t {
    None = 0,
    Running = 1,
    Cancelling = 2,
    Cancelled = 3,
    Succeeded = 4,
    Failed = 5,
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<Type>) {
    registry.DeclareEnum<Type>("BindingAsyncState")
        .SetDescription("Possible states of an asynchronous operation.")
        .AddValue("None", None, "Invalid state")
        .AddValue("Running", Running, "The operation is in flight")
        .AddValue("Cancelling", Cancelling, "A request to cancel the operation has been made")
        .AddValue("Cancelled", Cancelled, "The operation was cancelled")
        .AddValue("Succeeded", Succeeded, "The operation completed successfully")
        .AddValue("Failed", Failed, "The operation encountered an error")
        .AddTags({"$builtin", "async"});
}

}  // namespace BindingAsyncState

// Generic data of an event.
struct BindingGenericEvent {
    BindingProperty data;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<BindingGenericEvent>) {
    registry.DeclareStruct<BindingGenericEvent>("BindingGenericEvent")
        .SetDescription("Represents generic data for an event.")
        .AddField("data", &BindingGenericEvent::data, "Event data");
}

// The parameters of a call to a callback the host provided.
struct BindingCallbackEvent {
    std::uint32_t id = 0;
    std::vector<BindingProperty> parameters;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<BindingCallbackEvent>) {
    registry.DeclareStruct<BindingCallbackEvent>("BindingCallbackEvent")
        .SetDescription("Represents the parameters of a call to a provided callback.")
        .AddField("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
        .AddField("parameters", &BindingCallbackEvent::parameters, "Callback parameters");
}

struct BindingGenericAsyncEvent {
    std::uint32_t asyncToken = 0;
    BindingProperty data;  // at the next 8-byte boundary
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<BindingGenericAsyncEvent>) {
    registry.DeclareStruct<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
        .SetDescription("Represents generic data for an asynchronous event.")
        .AddField("asyncToken", &BindingGenericAsyncEvent::asyncToken,
                  "Asynchronous operation token")
        .AddField("data", &BindingGenericAsyncEvent::data, "Event data")
        .AddTags({"$builtin", "async"});
}

struct BindingAsyncFailureEvent {
    std::uint32_t asyncToken = 0;
    std::string error;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<BindingAsyncFailureEvent>) {
    registry.DeclareStruct<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
        .SetDescription("Represents a failed asynchronous operation.")
        .AddField("asyncToken", &BindingAsyncFailureEvent::asyncToken,
                  "Asynchronous operation token")
        .AddField("error", &BindingAsyncFailureEvent::error, "Error message")
        .AddTags({"$builtin", "async"});
}

struct BindingAsyncCancelEvent {
    std::uint32_t asyncToken = 0;
};

inline void DescribeBinding(BindingRegistry& registry, BindingTag<BindingAsyncCancelEvent>) {
    registry.DeclareStruct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
        .SetDescription("Represents a cancelled asynchronous operation.")
        .AddField("asyncToken", &BindingAsyncCancelEvent::asyncToken,
                  "Asynchronous operation token")
        .AddTags({"$builtin", "async"});
}

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingGenericEvent) == 16);
static_assert(sizeof(BindingCallbackEvent) == 16);
static_assert(offsetof(BindingCallbackEvent, parameters) == 4);
static_assert(sizeof(BindingGenericAsyncEvent) == 24);
static_assert(offsetof(BindingGenericAsyncEvent, data) == 8);
static_assert(sizeof(BindingAsyncFailureEvent) == 28);
static_assert(offsetof(BindingAsyncFailureEvent, error) == 4);
static_assert(sizeof(BindingAsyncCancelEvent) == 4);
#endif

// Registers every built-in type, then the event "OnCallback", and marks the
// registry; a registry that already has them is left unchanged.
// [host-thread]
void RegisterBuiltins(BindingRegistry& registry);

}  // namespace Tavo
