#pragma once
// The boundary with the host: every record, function table, version constant
// and the export type that host and plugin share. Both sides compile against
// this one header (the plugin's framework, the development host and the
// remoting dispatcher), so it is header-only and depends on nothing but the
// host value and API export records below it.
//
// Layout rules. The host is a 32-bit little-endian process: every pointer and
// every word is 4 bytes there. Records are plain structs of fixed-width
// integers, real pointers and `extern "C"` function pointers with the
// platform's default calling convention; packed where the host's offsets are
// unaligned. The static_asserts under each record prove the 32-bit layout (the
// m32 build checks them); on 64-bit the pointers widen and offsets follow.
// Words that may carry a pointer are pointers or uintptr_t; words the host
// defines as 32-bit stay 32-bit.
//
// No C++ exception may leave a function that the host calls.
//
// Thread tags, on the last line of each comment that describes a call:
//   [host-thread]   runs inside a call from the host, on the host's calling
//                   thread. The host makes such calls one at a time (a call may
//                   nest inside hostYield), so [host-thread] code needs no lock
//                   against other [host-thread] code. A host entry with this
//                   tag may be called only from inside such a call.
//   [any-thread]    may run on any thread, concurrently with anything else.
//   [X & state]     as X, and only while the module is in `state`:
//                   loaded       after the export returned, before Initialize;
//                   initialized  after Initialize, before Shutdown returns.

#include <cstddef>
#include <cstdint>
#include <string>

#include "abi/ApiExport.h"
#include "abi/HostValue.h"

namespace Tavo {

struct HostInterface;
struct HostEvent;
struct HostRequest;
struct HostResponse;
struct PluginMemoryStats;
struct HostConnection;

// ---------------------------------------------------------------------------
// Plugin API version

// A plugin API version. Not a boundary record: the load record carries only
// the three numbers. The texts are static (never owned); null counts as empty.
struct PluginApiVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    const char* prerelease = "";
    const char* build = "";

    // "major.minor.patch", then "-prerelease" and "+build" when not empty:
    // "18.0.0", "18.2.1-beta+7", "18.0.0+5".
    std::string ToText() const {
        std::string text = std::to_string(major);
        text += '.';
        text += std::to_string(minor);
        text += '.';
        text += std::to_string(patch);
        if (prerelease != nullptr && *prerelease != '\0') {
            text += '-';
            text += prerelease;
        }
        if (build != nullptr && *build != '\0') {
            text += '+';
            text += build;
        }
        return text;
    }
};

// The plugin API this framework implements.
inline constexpr PluginApiVersion kPluginApiVersion{18, 0, 0, "", ""};

// Whether a host offering `host` can load a plugin built for `plugin`: the
// majors must be equal and the host must be at least as new in minor, then
// patch. Prerelease and build texts take no part.
constexpr bool IsHostApiCompatible(const PluginApiVersion& host, const PluginApiVersion& plugin) {
    if (host.major != plugin.major) {
        return false;
    }
    return host.minor > plugin.minor || (host.minor == plugin.minor && host.patch >= plugin.patch);
}

// ---------------------------------------------------------------------------
// Callback types the plugin hands to the host

extern "C" {

// The host's resource and service-proxy event callback. `event` is owned by
// the host and valid for the duration of the call.
// [host-thread & initialized]
typedef void (*HostEventCallback)(HostEvent* event);

// A one-shot scheduled callback; `context` is what the plugin passed to
// hostScheduleCallback. The host may call it on any of its threads.
// [any-thread & initialized]
typedef void (*HostScheduledCallback)(void* context);

// Streamed response body. Reads up to `*length` bytes (in: the buffer's size)
// into `buffer`, sets `*length` to the bytes delivered and `*more` to 0 once
// the stream is exhausted (the caller presets it to 1). Returns 1 on success,
// 0 on a read error. The reader owns `context`; `buffer` is the caller's.
// [host-thread]
typedef std::uint8_t (*HostStreamReadFn)(void* context, void* buffer, std::uint32_t* length,
                                         std::uint8_t* more);
// Ends a stream; `context` is not used again afterwards.
// [host-thread]
typedef void (*HostStreamCloseFn)(void* context);
// Releases what the filler of `response` allocated for it (texts, headers,
// the body value). Called once, by the reader of the record, when done.
// [host-thread]
typedef void (*HostResponseReleaseFn)(HostResponse* response);

}  // extern "C"

// ---------------------------------------------------------------------------
// The host's table of services

extern "C" {

// Entry types of HostInterface. Every entry gets the table's own address
// first (the host may keep its state beside the table and find it from
// there). Results of entries 0 to 8 are the host's; the plugin passes them
// through its forwarding slots and otherwise ignores them.

// 0: performs `request` and fills `response` before returning. Both records
// belong to the caller; what the host puts into `response` stays the host's
// until the caller calls its release function.
// [host-thread & initialized]
typedef std::uint32_t (*HostSendRequestFn)(HostInterface* self, HostResponse* response,
                                           const HostRequest* request);
// 1 and 2: part of the table, never called by the plugin.
typedef std::uint32_t (*HostReserved1Fn)(HostInterface* self, std::uintptr_t first,
                                         std::uintptr_t second);
typedef std::uint32_t (*HostReserved2Fn)(HostInterface* self, std::uintptr_t word);
// 3: subscribes `callback` to the host event `eventName` (copied by the host)
// for the plugin `hostContext`; the host calls it with `context` in the event.
// `flags`: 0 for resource events, 1 for service-proxy events.
// [host-thread & initialized]
typedef std::uint32_t (*HostSubscribeFn)(HostInterface* self, const char* eventName,
                                         std::uint32_t hostContext, HostEventCallback callback,
                                         void* context, std::int32_t flags);
// 4: ends the subscription to `eventName` (copied by the host) for `hostContext`.
// [host-thread & initialized]
typedef std::uint32_t (*HostUnsubscribeFn)(HostInterface* self, const char* eventName,
                                           std::uint32_t hostContext);
// 5: calls `callback(context)` once, after `delaySeconds`. `description` is
// for the host's bookkeeping and copied by it; `context` stays the plugin's
// and must live until the callback has run. `flags` is always 0.
// [any-thread & initialized]
typedef std::uint32_t (*HostScheduleCallbackFn)(HostInterface* self, const char* description,
                                                HostScheduledCallback callback, void* context,
                                                double delaySeconds, std::int32_t flags);
// 6: hands control to the host, which may run other work (including calls
// into this plugin) before it returns.
// [host-thread & initialized]
typedef std::uint32_t (*HostYieldFn)(HostInterface* self);
// 7 and 8: bracket a cooperative wait. `description` is copied by the host;
// `flags` is always 0. Waits nest.
// [host-thread & initialized]
typedef std::uint32_t (*HostBeginWaitFn)(HostInterface* self, const char* description,
                                         std::int32_t flags);
typedef std::uint32_t (*HostEndWaitFn)(HostInterface* self);
// 9: one log record: `level` 0 Okay, 1 Warn, 2 Error, 3 Always; `message` is
// copied by the host.
// [any-thread & initialized]
typedef void (*HostLogFn)(HostInterface* self, std::int32_t level, const char* message);

}  // extern "C"

// The host's service table. Owned by the host; it stays in place until
// Shutdown returns. The plugin never writes to it. The host may extend it
// past the ten entries.
struct HostInterface {
    HostSendRequestFn hostSendRequest;            // 0
    HostReserved1Fn reserved1;                    // 1
    HostReserved2Fn reserved2;                    // 2
    HostSubscribeFn hostSubscribe;                // 3
    HostUnsubscribeFn hostUnsubscribe;            // 4
    HostScheduleCallbackFn hostScheduleCallback;  // 5
    HostYieldFn hostYield;                        // 6
    HostBeginWaitFn hostBeginWait;                // 7
    HostEndWaitFn hostEndWait;                    // 8
    HostLogFn hostLog;                            // 9
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostInterface) == 40);
static_assert(offsetof(HostInterface, hostSendRequest) == 0);
static_assert(offsetof(HostInterface, reserved1) == 4);
static_assert(offsetof(HostInterface, reserved2) == 8);
static_assert(offsetof(HostInterface, hostSubscribe) == 12);
static_assert(offsetof(HostInterface, hostUnsubscribe) == 16);
static_assert(offsetof(HostInterface, hostScheduleCallback) == 20);
static_assert(offsetof(HostInterface, hostYield) == 24);
static_assert(offsetof(HostInterface, hostBeginWait) == 28);
static_assert(offsetof(HostInterface, hostEndWait) == 32);
static_assert(offsetof(HostInterface, hostLog) == 36);
#endif

// What the host hands to Initialize. Owned by the host, which leaves it in
// place until Shutdown returns: the module keeps the pointer.
struct HostConnection {
    HostInterface* host;        // the host's table; host-owned
    std::uint32_t hostContext;  // the host's handle for this plugin
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostConnection) == 8);
static_assert(offsetof(HostConnection, host) == 0);
static_assert(offsetof(HostConnection, hostContext) == 4);
#endif

// ---------------------------------------------------------------------------
// The plugin's side of the handshake

// The plugin's allocation counters, written by GetMemoryStats. All six are
// totals since the library was loaded.
struct PluginMemoryStats {
    std::uint64_t peakBytes;        // largest bytes in use seen so far
    std::uint64_t peakAllocations;  // live allocations when peakBytes was last raised
    std::uint64_t bytesAllocated;
    std::uint64_t allocations;
    std::uint64_t bytesFreed;
    std::uint64_t frees;
    std::uint32_t reserved0;  // always 0
    std::uint32_t reserved1;  // always 0
};
static_assert(sizeof(PluginMemoryStats) == 56);
static_assert(offsetof(PluginMemoryStats, peakAllocations) == 8);
static_assert(offsetof(PluginMemoryStats, bytesAllocated) == 16);
static_assert(offsetof(PluginMemoryStats, allocations) == 24);
static_assert(offsetof(PluginMemoryStats, bytesFreed) == 32);
static_assert(offsetof(PluginMemoryStats, frees) == 40);
static_assert(offsetof(PluginMemoryStats, reserved0) == 48);
static_assert(offsetof(PluginMemoryStats, reserved1) == 52);

extern "C" {

// The plugin callbacks. `module` is the handle the export returned.
//
// Connects the module to the host and starts it; returns the start hook's
// verdict (1 started, 0 not). `connection` is the host's and must stay valid
// until Shutdown returns.
// [host-thread & loaded]
typedef std::uint8_t (*PluginInitializeFn)(void* module, HostConnection* connection);
// Stops the module and destroys it; the handle, the callback table, the
// short name and the export block are gone when it returns.
// [host-thread & initialized]
typedef void (*PluginShutdownFn)(void* module);
// Writes the counters into `out` (the host's record). `module` is not used.
// [any-thread]
typedef void (*PluginGetMemoryStatsFn)(void* module, PluginMemoryStats* out);

}  // extern "C"

// The plugin's callback table. Lives inside the module object, so it exists
// exactly as long as the module.
struct PluginCallbacks {
    PluginInitializeFn Initialize;          // 0
    PluginShutdownFn Shutdown;              // 1
    PluginGetMemoryStatsFn GetMemoryStats;  // 2
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginCallbacks) == 12);
static_assert(offsetof(PluginCallbacks, Initialize) == 0);
static_assert(offsetof(PluginCallbacks, Shutdown) == 4);
static_assert(offsetof(PluginCallbacks, GetMemoryStats) == 8);
#endif

// The record the host passes to the export. Owned by the host; the export
// reads the host's version and, on success, overwrites every field. Nothing
// is written when the versions are incompatible.
struct PluginLoadRecord {
    std::uint32_t apiMajor;  // in: the host's; out: the plugin's
    std::uint32_t apiMinor;  // in: the host's; out: the plugin's
    std::uint32_t apiPatch;  // in: the host's; out: the plugin's
    // out: inside the module; gone when Shutdown returns.
    const PluginCallbacks* callbacks;
    // out: the module handle, first argument of every plugin callback.
    void* module;
    // out: NUL-terminated short name, owned by the module.
    const char* shortName;
    // out: inside the module; its texts point into the module's registry.
    const PluginApiExport* apiExport;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginLoadRecord) == 28);
static_assert(offsetof(PluginLoadRecord, apiMajor) == 0);
static_assert(offsetof(PluginLoadRecord, apiMinor) == 4);
static_assert(offsetof(PluginLoadRecord, apiPatch) == 8);
static_assert(offsetof(PluginLoadRecord, callbacks) == 12);
static_assert(offsetof(PluginLoadRecord, module) == 16);
static_assert(offsetof(PluginLoadRecord, shortName) == 20);
static_assert(offsetof(PluginLoadRecord, apiExport) == 24);
#endif

extern "C" {

// The library's single export, named kPluginExportPrefix followed by the
// short name with "-" turned into "_" (load_vex_heartbeat). Builds the
// module, checks the host's version (an incompatible host ends the process),
// fills `record` and returns the module handle it wrote at offset 16.
// [host-thread]
typedef void* (*PluginLoadFn)(PluginLoadRecord* record);

}  // extern "C"

inline constexpr const char* kPluginExportPrefix = "load_";

// ---------------------------------------------------------------------------
// Events

// One event delivered to a HostEventCallback. Owned by the host for the
// duration of the call; the payload's memory is the host's too.
struct HostEvent {
    const char* name;  // NUL-terminated event name; host-owned
    HostValue payload;
    std::uintptr_t reserved;  // not read by the plugin
    void* context;            // what the plugin passed to hostSubscribe
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostEvent) == 24);
static_assert(offsetof(HostEvent, name) == 0);
static_assert(offsetof(HostEvent, payload) == 4);
static_assert(offsetof(HostEvent, reserved) == 16);
static_assert(offsetof(HostEvent, context) == 20);
#endif

// ---------------------------------------------------------------------------
// Requests and responses

// A header: two NUL-terminated texts, owned by whoever filled the array.
struct HostHeaderPair {
    const char* name;
    const char* value;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostHeaderPair) == 8);
static_assert(offsetof(HostHeaderPair, value) == 4);
#endif

// One argument of a request: named, or positional when `name` is null.
// Owned by whoever filled the request.
struct HostRequestArgument {
    const char* name;
    HostValue value;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostRequestArgument) == 16);
static_assert(offsetof(HostRequestArgument, name) == 0);
static_assert(offsetof(HostRequestArgument, value) == 4);
#endif

// A REST request, in either direction. Incoming (the host calls an exported
// function): the host fills it and owns everything it points to for the call;
// the plugin only reads. Outgoing (hostSendRequest): the plugin zero-fills and
// fills it, and owns it and everything it points to for the call. Texts are
// NUL-terminated.
struct HostRequest {
    std::uint32_t method;                  // HTTP method code 1..8, anything else means none
    const char* target;                    // path, optionally "?" and a query string
    const HostRequestArgument* arguments;  // null when there are none
    std::uint32_t argumentCount;
    // Incoming: the dispatch context the plugin placed in the export entry
    // being called (plugin-owned, outlives the call). Outgoing: null.
    void* dispatchContext;
    const HostHeaderPair* headers;
    std::uint32_t headerCount;
    const char* contentType;   // of the body; may be null
    const std::uint8_t* body;  // null when there is none
    std::uint32_t bodyLength;  // bytes
    // Incoming: the host's request context, handed back with the response.
    // Outgoing: the module's hostContext.
    std::uintptr_t context;
    const char* methodName;  // for method code 8; outgoing: null
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostRequest) == 48);
static_assert(offsetof(HostRequest, method) == 0);
static_assert(offsetof(HostRequest, target) == 4);
static_assert(offsetof(HostRequest, arguments) == 8);
static_assert(offsetof(HostRequest, argumentCount) == 12);
static_assert(offsetof(HostRequest, dispatchContext) == 16);
static_assert(offsetof(HostRequest, headers) == 20);
static_assert(offsetof(HostRequest, headerCount) == 24);
static_assert(offsetof(HostRequest, contentType) == 28);
static_assert(offsetof(HostRequest, body) == 32);
static_assert(offsetof(HostRequest, bodyLength) == 36);
static_assert(offsetof(HostRequest, context) == 40);
static_assert(offsetof(HostRequest, methodName) == 44);
#endif

// The answer to a request, in either direction; packed, with the host's
// unaligned offsets. Whoever sends the request zero-fills it first.
// Outgoing (hostSendRequest): the host fills it; everything it points to is
// the host's, valid until the plugin calls `release` (which it always does,
// when not null, once it is done with the record).
// Incoming (an exported function): the plugin fills it; the texts it puts
// here are copies made with the plugin's duplicate-text hook, and the host
// takes them over.
// Take members by value: a reference to a member of a packed record may be
// misaligned.
#pragma pack(push, 1)
struct HostResponse {
    HostValue body;              // the body, or the exported function's result
    const char* error;           // null when the request succeeded
    std::uint8_t hasError;       // 1 when `error` is set
    std::uint8_t responseFlags;  // from the function's response description
    std::uint32_t bodyFormat;    // 1..3, or 0
    std::int32_t status;         // HTTP status code
    const char* contentType;
    const HostHeaderPair* headers;
    std::uint32_t headerCount;
    // A streamed body, read instead of `body` when `streamRead` is set.
    HostStreamReadFn streamRead;
    HostStreamCloseFn streamClose;  // may be null
    std::uint64_t expectedSize;     // a hint; readers use the low 32 bits
    void* streamContext;            // the stream's; passed to read and close
    HostResponseReleaseFn release;  // null when there is nothing to release
};
#pragma pack(pop)
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostResponse) == 62);
static_assert(offsetof(HostResponse, body) == 0);
static_assert(offsetof(HostResponse, error) == 12);
static_assert(offsetof(HostResponse, hasError) == 16);
static_assert(offsetof(HostResponse, responseFlags) == 17);
static_assert(offsetof(HostResponse, bodyFormat) == 18);
static_assert(offsetof(HostResponse, status) == 22);
static_assert(offsetof(HostResponse, contentType) == 26);
static_assert(offsetof(HostResponse, headers) == 30);
static_assert(offsetof(HostResponse, headerCount) == 34);
static_assert(offsetof(HostResponse, streamRead) == 38);
static_assert(offsetof(HostResponse, streamClose) == 42);
static_assert(offsetof(HostResponse, expectedSize) == 46);
static_assert(offsetof(HostResponse, streamContext) == 54);
static_assert(offsetof(HostResponse, release) == 58);
#endif

// The remoting dispatch callback, RemotingDispatchFn, is declared beside the
// export entries that carry it, in binding/ApiExport.h (included above).

}  // namespace Tavo
