#pragma once
// The API export block: how a plugin describes its registered types and
// events (and exported functions) to the host. Built by the registry from its
// descriptors; every text points into a descriptor, which outlives the block.
// Each entry's first word links to the next entry of the same array (null in
// the last), so the host may walk an array by count or by links.
// Layouts are the host's: the sizes asserted below are those of a 32-bit build.
// Plain C as well as C++; the records sit in namespace Tavo only in C++.

#include <stddef.h>
#include <stdint.h>

#include "abi/AbiLayout.h"

#ifdef __cplusplus
namespace Tavo {
extern "C" {
#endif

typedef struct ApiExportTypeEntry ApiExportTypeEntry;
typedef struct ApiExportFieldEntry ApiExportFieldEntry;
typedef struct ApiExportEnumValueEntry ApiExportEnumValueEntry;
typedef struct ApiExportEventEntry ApiExportEventEntry;
typedef struct ApiExportArgumentEntry ApiExportArgumentEntry;
typedef struct ApiExportFunctionRecord ApiExportFunctionRecord;
typedef struct ApiExportArgumentLocationEntry ApiExportArgumentLocationEntry;
typedef struct ApiExportTextListEntry ApiExportTextListEntry;
typedef struct ApiExportFunctionEntry ApiExportFunctionEntry;
typedef struct PluginApiExport PluginApiExport;

// Declared in abi/HostAbi.h; only named here.
typedef struct HostRequest HostRequest;
typedef struct HostResponse HostResponse;

// The entry point the host calls for a request to an exported function. It
// reads `request` (owned by the host for the call; its dispatchContext names
// the function) and fills `response`, resetting it first.
// [any-thread & initialized]
typedef void (*RemotingDispatchFn)(HostResponse* response, const HostRequest* request);

struct ApiExportTypeEntry {
    const ApiExportTypeEntry* next;
    const char* name;
    const char* nameSpace;
    uint32_t size;  // native size in bytes
    const char* description;
    const char* const* tags;
    uint32_t tagCount;
    const ApiExportFieldEntry* fields;          // null when the type has no fields
    const ApiExportEnumValueEntry* enumValues;  // null when the type has fields
    uint32_t count;  // field entries if the type has fields, else enum values
};

#pragma pack(push, 1)
struct ApiExportFieldEntry {
    const ApiExportFieldEntry* next;
    const char* name;
    const char* description;
    uint32_t offset;       // native offset of the field
    uint32_t kind;         // native kind code 1..19, 0 for anything else
    uint32_t elementKind;  // for vectors and maps, else 0
    const char* typeName;  // referenced struct or enum, else ""
    uint8_t optional;
};
#pragma pack(pop)

struct ApiExportEnumValueEntry {
    const ApiExportEnumValueEntry* next;
    const char* name;
    const char* description;
    int32_t value;
};

struct ApiExportEventEntry {
    const ApiExportEventEntry* next;
    const char* name;
    const char* nameSpace;
    const char* payloadName;  // registered name of the payload struct
    const char* description;
    const char* const* tags;
    uint32_t tagCount;
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
    uint32_t kind;         // native kind code 1..19, 0 for anything else
    uint32_t elementKind;  // for vectors and maps, else 0
    const char* typeName;  // referenced struct, enum, collection or map, else ""
    uint8_t optional;
};

// A function's description (the same fields as its help record).
struct ApiExportFunctionRecord {
    // The next record; in an export entry, the next export entry (whose
    // record is at its start).
    const ApiExportFunctionRecord* next;
    uint32_t reserved;  // zero
    // Zero in a description; in an export entry, the dispatch context the
    // host passes back in HostRequest::dispatchContext. Plugin-owned.
    void* dispatchContext;
    const char* name;
    const char* nameSpace;
    const ApiExportArgumentEntry* arguments;  // null when there are none
    uint32_t argumentCount;
    uint32_t returnKind;         // native kind code, 0 for none
    uint32_t returnElementKind;  // for vectors and maps, else 0
    const char* returnTypeName;  // referenced struct, enum, collection or map, else ""
    const char* description;
    const char* help;
    uint8_t threadSafe;
    const char* asyncResultName;  // "" for a synchronous function
    const char* const* tags;
    uint32_t tagCount;
};

// Where one argument may come from: 0 anywhere, 1 query, 2 path, 4 header,
// 5 body. One per argument, in declaration order.
struct ApiExportArgumentLocationEntry {
    const ApiExportArgumentLocationEntry* next;
    uint32_t location;
};

// A list of texts attached to a route.
struct ApiExportTextListEntry {
    const ApiExportTextListEntry* next;
    const char* const* texts;
    uint32_t count;
};

// One exported function: its description, then its route.
struct ApiExportFunctionEntry {
    ApiExportFunctionRecord function;
    RemotingDispatchFn dispatch;
    const ApiExportArgumentLocationEntry* locations;  // first of argumentCount entries
    const char* pathTemplate;                         // "/items/{id}"
    uint32_t method;                                  // HTTP method code 1..8, else 0
    uint8_t routeFlags;
    const ApiExportTextListEntry* textLists;
    uint32_t textListCount;
    const char* methodName;  // for method code 8
};

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
TAVO_ABI_ASSERT(sizeof(ApiExportArgumentEntry) == 25);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, name) == 4);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, description) == 8);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, kind) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, elementKind) == 16);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, typeName) == 20);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentEntry, optional) == 24);
TAVO_ABI_ASSERT(sizeof(ApiExportFunctionRecord) == 61);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, reserved) == 4);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, dispatchContext) == 8);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, name) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, nameSpace) == 16);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, arguments) == 20);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, argumentCount) == 24);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, returnKind) == 28);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, returnElementKind) == 32);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, returnTypeName) == 36);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, description) == 40);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, help) == 44);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, threadSafe) == 48);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, asyncResultName) == 49);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, tags) == 53);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionRecord, tagCount) == 57);
TAVO_ABI_ASSERT(sizeof(ApiExportArgumentLocationEntry) == 8);
TAVO_ABI_ASSERT(offsetof(ApiExportArgumentLocationEntry, location) == 4);
TAVO_ABI_ASSERT(sizeof(ApiExportTextListEntry) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportTextListEntry, texts) == 4);
TAVO_ABI_ASSERT(offsetof(ApiExportTextListEntry, count) == 8);
TAVO_ABI_ASSERT(sizeof(ApiExportFunctionEntry) == 90);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, function) == 0);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, dispatch) == 61);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, locations) == 65);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, pathTemplate) == 69);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, method) == 73);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, routeFlags) == 77);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, textLists) == 78);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, textListCount) == 82);
TAVO_ABI_ASSERT(offsetof(ApiExportFunctionEntry, methodName) == 86);
#endif

// The block itself, inside the module; the plugin's load step hands its
// address to the host.
struct PluginApiExport {
    const ApiExportFunctionEntry* functions;
    uint32_t functionCount;
    const ApiExportTypeEntry* types;
    uint32_t typeCount;
    const ApiExportEventEntry* events;
    uint32_t eventCount;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
TAVO_ABI_ASSERT(sizeof(ApiExportTypeEntry) == 40);
TAVO_ABI_ASSERT(offsetof(ApiExportTypeEntry, size) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportTypeEntry, tags) == 20);
TAVO_ABI_ASSERT(offsetof(ApiExportTypeEntry, count) == 36);
TAVO_ABI_ASSERT(sizeof(ApiExportFieldEntry) == 29);
TAVO_ABI_ASSERT(offsetof(ApiExportFieldEntry, offset) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportFieldEntry, typeName) == 24);
TAVO_ABI_ASSERT(offsetof(ApiExportFieldEntry, optional) == 28);
TAVO_ABI_ASSERT(sizeof(ApiExportEnumValueEntry) == 16);
TAVO_ABI_ASSERT(offsetof(ApiExportEnumValueEntry, value) == 12);
TAVO_ABI_ASSERT(sizeof(ApiExportEventEntry) == 28);
TAVO_ABI_ASSERT(offsetof(ApiExportEventEntry, payloadName) == 12);
TAVO_ABI_ASSERT(offsetof(ApiExportEventEntry, tagCount) == 24);
TAVO_ABI_ASSERT(sizeof(PluginApiExport) == 24);
TAVO_ABI_ASSERT(offsetof(PluginApiExport, events) == 16);
#endif

#ifdef __cplusplus
}  // extern "C"
}  // namespace Tavo
#endif
