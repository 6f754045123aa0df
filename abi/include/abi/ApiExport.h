#pragma once
// The API export block: how a plugin describes its registered types and
// events (and exported functions) to the host. Built by the registry from its
// descriptors; every text points into a descriptor, which outlives the block.
// Each entry's first word links to the next entry of the same array (null in
// the last), so the host may walk an array by count or by links.
// Layouts are the host's: the sizes asserted below are those of a 32-bit build.

#include <cstddef>
#include <cstdint>

namespace Tavo {

struct ApiExportFieldEntry;
struct ApiExportEnumValueEntry;
struct ApiExportFunctionEntry;

// Declared in framework/HostAbi.h; only named here.
struct HostRequest;
struct HostResponse;

extern "C" {
// The entry point the host calls for a request to an exported function. It
// reads `request` (owned by the host for the call; its dispatchContext names
// the function) and fills `response`, resetting it first.
// [any-thread & initialized]
typedef void (*RemotingDispatchFn)(HostResponse* response, const HostRequest* request);
}

struct ApiExportTypeEntry {
    const ApiExportTypeEntry* next;
    const char* name;
    const char* nameSpace;
    std::uint32_t size;  // native size in bytes
    const char* description;
    const char* const* tags;
    std::uint32_t tagCount;
    const ApiExportFieldEntry* fields;          // null when the type has no fields
    const ApiExportEnumValueEntry* enumValues;  // null when the type has fields
    std::uint32_t count;  // field entries if the type has fields, else enum values
};

#pragma pack(push, 1)
struct ApiExportFieldEntry {
    const ApiExportFieldEntry* next;
    const char* name;
    const char* description;
    std::uint32_t offset;       // native offset of the field
    std::uint32_t kind;         // native kind code 1..19, 0 for anything else
    std::uint32_t elementKind;  // for vectors and maps, else 0
    const char* typeName;       // referenced struct or enum, else ""
    std::uint8_t optional;
};
#pragma pack(pop)

struct ApiExportEnumValueEntry {
    const ApiExportEnumValueEntry* next;
    const char* name;
    const char* description;
    std::int32_t value;
};

struct ApiExportEventEntry {
    const ApiExportEventEntry* next;
    const char* name;
    const char* nameSpace;
    const char* payloadName;  // registered name of the payload struct
    const char* description;
    const char* const* tags;
    std::uint32_t tagCount;
};

// Exported functions. Built by the registry and the remoting dispatcher;
// texts point into the function descriptors, which outlive the block. All
// records are packed: take members by value, never by reference.
#pragma pack(push, 1)

// One declared argument of a function, in declaration order.
struct ApiExportArgumentEntry {
    const ApiExportArgumentEntry* next;
    const char* name;
    const char* description;
    std::uint32_t kind;         // native kind code 1..19, 0 for anything else
    std::uint32_t elementKind;  // for vectors and maps, else 0
    const char* typeName;       // referenced struct, enum, collection or map, else ""
    std::uint8_t optional;
};

// A function's description (the same fields as its help record).
struct ApiExportFunctionRecord {
    // The next record; in an export entry, the next export entry (whose
    // record is at its start).
    const ApiExportFunctionRecord* next;
    std::uint32_t reserved;  // zero
    // Zero in a description; in an export entry, the dispatch context the
    // host passes back in HostRequest::dispatchContext. Plugin-owned.
    void* dispatchContext;
    const char* name;
    const char* nameSpace;
    const ApiExportArgumentEntry* arguments;  // null when there are none
    std::uint32_t argumentCount;
    std::uint32_t returnKind;         // native kind code, 0 for none
    std::uint32_t returnElementKind;  // for vectors and maps, else 0
    const char* returnTypeName;       // referenced struct, enum, collection or map, else ""
    const char* description;
    const char* help;
    std::uint8_t threadSafe;
    const char* asyncResultName;  // "" for a synchronous function
    const char* const* tags;
    std::uint32_t tagCount;
};

// Where one argument may come from: 0 anywhere, 1 query, 2 path, 4 header,
// 5 body. One per argument, in declaration order.
struct ApiExportArgumentLocationEntry {
    const ApiExportArgumentLocationEntry* next;
    std::uint32_t location;
};

// A list of texts attached to a route.
struct ApiExportTextListEntry {
    const ApiExportTextListEntry* next;
    const char* const* texts;
    std::uint32_t count;
};

// One exported function: its description, then its route.
struct ApiExportFunctionEntry {
    ApiExportFunctionRecord function;
    RemotingDispatchFn dispatch;
    const ApiExportArgumentLocationEntry* locations;  // first of argumentCount entries
    const char* pathTemplate;                         // "/items/{id}"
    std::uint32_t method;                             // HTTP method code 1..8, else 0
    std::uint8_t routeFlags;
    const ApiExportTextListEntry* textLists;
    std::uint32_t textListCount;
    const char* methodName;  // for method code 8
};

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ApiExportArgumentEntry) == 25);
static_assert(offsetof(ApiExportArgumentEntry, name) == 4);
static_assert(offsetof(ApiExportArgumentEntry, description) == 8);
static_assert(offsetof(ApiExportArgumentEntry, kind) == 12);
static_assert(offsetof(ApiExportArgumentEntry, elementKind) == 16);
static_assert(offsetof(ApiExportArgumentEntry, typeName) == 20);
static_assert(offsetof(ApiExportArgumentEntry, optional) == 24);
static_assert(sizeof(ApiExportFunctionRecord) == 61);
static_assert(offsetof(ApiExportFunctionRecord, reserved) == 4);
static_assert(offsetof(ApiExportFunctionRecord, dispatchContext) == 8);
static_assert(offsetof(ApiExportFunctionRecord, name) == 12);
static_assert(offsetof(ApiExportFunctionRecord, nameSpace) == 16);
static_assert(offsetof(ApiExportFunctionRecord, arguments) == 20);
static_assert(offsetof(ApiExportFunctionRecord, argumentCount) == 24);
static_assert(offsetof(ApiExportFunctionRecord, returnKind) == 28);
static_assert(offsetof(ApiExportFunctionRecord, returnElementKind) == 32);
static_assert(offsetof(ApiExportFunctionRecord, returnTypeName) == 36);
static_assert(offsetof(ApiExportFunctionRecord, description) == 40);
static_assert(offsetof(ApiExportFunctionRecord, help) == 44);
static_assert(offsetof(ApiExportFunctionRecord, threadSafe) == 48);
static_assert(offsetof(ApiExportFunctionRecord, asyncResultName) == 49);
static_assert(offsetof(ApiExportFunctionRecord, tags) == 53);
static_assert(offsetof(ApiExportFunctionRecord, tagCount) == 57);
static_assert(sizeof(ApiExportArgumentLocationEntry) == 8);
static_assert(offsetof(ApiExportArgumentLocationEntry, location) == 4);
static_assert(sizeof(ApiExportTextListEntry) == 12);
static_assert(offsetof(ApiExportTextListEntry, texts) == 4);
static_assert(offsetof(ApiExportTextListEntry, count) == 8);
static_assert(sizeof(ApiExportFunctionEntry) == 90);
static_assert(offsetof(ApiExportFunctionEntry, function) == 0);
static_assert(offsetof(ApiExportFunctionEntry, dispatch) == 61);
static_assert(offsetof(ApiExportFunctionEntry, locations) == 65);
static_assert(offsetof(ApiExportFunctionEntry, pathTemplate) == 69);
static_assert(offsetof(ApiExportFunctionEntry, method) == 73);
static_assert(offsetof(ApiExportFunctionEntry, routeFlags) == 77);
static_assert(offsetof(ApiExportFunctionEntry, textLists) == 78);
static_assert(offsetof(ApiExportFunctionEntry, textListCount) == 82);
static_assert(offsetof(ApiExportFunctionEntry, methodName) == 86);
#endif

// The block itself, inside the module; the plugin's load step hands its
// address to the host.
struct PluginApiExport {
    const ApiExportFunctionEntry* functions;
    std::uint32_t functionCount;
    const ApiExportTypeEntry* types;
    std::uint32_t typeCount;
    const ApiExportEventEntry* events;
    std::uint32_t eventCount;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ApiExportTypeEntry) == 40);
static_assert(offsetof(ApiExportTypeEntry, size) == 12);
static_assert(offsetof(ApiExportTypeEntry, tags) == 20);
static_assert(offsetof(ApiExportTypeEntry, count) == 36);
static_assert(sizeof(ApiExportFieldEntry) == 29);
static_assert(offsetof(ApiExportFieldEntry, offset) == 12);
static_assert(offsetof(ApiExportFieldEntry, typeName) == 24);
static_assert(offsetof(ApiExportFieldEntry, optional) == 28);
static_assert(sizeof(ApiExportEnumValueEntry) == 16);
static_assert(offsetof(ApiExportEnumValueEntry, value) == 12);
static_assert(sizeof(ApiExportEventEntry) == 28);
static_assert(offsetof(ApiExportEventEntry, payloadName) == 12);
static_assert(offsetof(ApiExportEventEntry, tagCount) == 24);
static_assert(sizeof(PluginApiExport) == 24);
static_assert(offsetof(PluginApiExport, events) == 16);
#endif

}  // namespace Tavo
