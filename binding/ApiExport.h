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
struct ApiExportFunctionEntry;  // declared with the remoting dispatcher

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
