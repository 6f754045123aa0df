// Win32 implementation of the platform layer.

#include <windows.h>
// After windows.h, which it needs.
#include <evntprov.h>
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "detail/SystemClocks.h"
#include "platform/Platform.h"

namespace Tavo::Platform {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "Mutex stores an SRWLOCK in one pointer");

PSRWLOCK AsSrwLock(void** lock) {
    return reinterpret_cast<PSRWLOCK>(lock);
}

// 100-ns intervals between 1601-01-01 (FILETIME's zero) and 1970-01-01.
constexpr std::int64_t kFileTimeTo1970 = 116'444'736'000'000'000;

std::int64_t FileTimeValue(const FILETIME& time) {
    return std::int64_t((std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

std::uint64_t CounterFrequency() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? std::uint64_t(f.QuadPart) : std::uint64_t(1);
    }();
    return frequency;
}

// The event tracing entry points of Advapi32.dll, looked up once. The library
// stays loaded for the life of the process: registrations may outlive any
// one user of them.
struct TraceEntryPoints {
    decltype(&::EventRegister) reg = nullptr;
    decltype(&::EventWrite) write = nullptr;
    decltype(&::EventUnregister) unreg = nullptr;
};

template <typename Function>
Function Lookup(HMODULE library, const char* name) {
    // GetProcAddress returns a generic function pointer; the entry's real type
    // is the one the system header declares.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

const TraceEntryPoints& Tracing() {
    static const TraceEntryPoints entries = [] {
        TraceEntryPoints found;
        // Why not LoadLibrary at once: this runs during the library's static
        // initialisation, under the system's loader lock, where loading
        // another library risks a deadlock. Every host process has Advapi32
        // loaded already; pin that one, and load it only where it is not.
        HMODULE library = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "Advapi32.dll", &library)) {
            library = LoadLibraryA("Advapi32.dll");
        }
        if (library == nullptr) {
            return found;
        }
        found.reg = Lookup<decltype(found.reg)>(library, "EventRegister");
        found.write = Lookup<decltype(found.write)>(library, "EventWrite");
        found.unreg = Lookup<decltype(found.unreg)>(library, "EventUnregister");
        if (found.reg == nullptr || found.write == nullptr || found.unreg == nullptr) {
            return TraceEntryPoints{};
        }
        return found;
    }();
    return entries;
}

// What TraceRegister hands the system as the callback context: the caller's
// callback and context. Lives until the registration ends.
struct TraceRegistration {
    TraceEnableCallback callback;
    void* context;
};

void NTAPI OnEnable(LPCGUID, ULONG controlCode, UCHAR level, ULONGLONG anyKeywords,
                    ULONGLONG allKeywords, PEVENT_FILTER_DESCRIPTOR, PVOID context) {
    const auto* registration = static_cast<const TraceRegistration*>(context);
    if (registration != nullptr && registration->callback != nullptr) {
        registration->callback(registration->context, controlCode, level, anyKeywords, allKeywords);
    }
}

// Registrations and their contexts, so TraceUnregister can free the context.
// Few (four providers), so a small fixed table.
constexpr int kMaxRegistrations = 8;
struct RegistrationSlot {
    REGHANDLE handle;
    TraceRegistration* registration;
};
Mutex g_registrationMutex;
RegistrationSlot g_registrations[kMaxRegistrations] = {};

}  // namespace

void Mutex::lock() noexcept {
    AcquireSRWLockExclusive(AsSrwLock(&lock_));
}

bool Mutex::try_lock() noexcept {
    return TryAcquireSRWLockExclusive(AsSrwLock(&lock_)) != 0;
}

void Mutex::unlock() noexcept {
    ReleaseSRWLockExclusive(AsSrwLock(&lock_));
}

namespace detail {

std::int64_t SystemMonotonicNanoseconds() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::uint64_t ticks = std::uint64_t(now.QuadPart);
    const std::uint64_t frequency = CounterFrequency();
    // Split to keep ticks * 1e9 from overflowing.
    return std::int64_t((ticks / frequency) * 1'000'000'000 +
                        (ticks % frequency) * 1'000'000'000 / frequency);
}

std::int64_t SystemWallClock100ns() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now) - kFileTimeTo1970;
}

CalendarTime LocalFromWallClock100ns(std::int64_t wallClock100ns) {
    if (wallClock100ns < -kFileTimeTo1970) {
        return CalendarTime{};
    }
    const std::uint64_t value = std::uint64_t(wallClock100ns + kFileTimeTo1970);
    const FILETIME utc{DWORD(value & 0xFFFFFFFFu), DWORD(value >> 32)};
    SYSTEMTIME utcFields{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&utc, &utcFields) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcFields, &local)) {
        return CalendarTime{};
    }
    return CalendarTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                        local.wMinute, local.wSecond, local.wMilliseconds};
}

std::uint64_t SystemHighResolutionCounter() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return std::uint64_t(now.QuadPart);
}

std::uint64_t SystemHighResolutionFrequency() {
    return CounterFrequency();
}

void* FindExecutableSymbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name));
}

}  // namespace detail

bool UtcFromSeconds(std::int64_t secondsSince1970, CalendarTime& out) {
    // FILETIME covers 1601 to 30828; outside, or on overflow here, refuse.
    constexpr std::int64_t kMaxSeconds = (INT64_MAX - kFileTimeTo1970) / 10'000'000;
    constexpr std::int64_t kMinSeconds = -kFileTimeTo1970 / 10'000'000;
    if (secondsSince1970 < kMinSeconds || secondsSince1970 > kMaxSeconds) {
        return false;
    }
    const std::uint64_t value = std::uint64_t(secondsSince1970 * 10'000'000 + kFileTimeTo1970);
    FILETIME time{DWORD(value & 0xFFFFFFFFu), DWORD(value >> 32)};
    SYSTEMTIME fields{};
    if (!FileTimeToSystemTime(&time, &fields)) {
        return false;
    }
    out = CalendarTime{
        fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond, 0};
    return true;
}

std::uint32_t CurrentThreadId() {
    return std::uint32_t(GetCurrentThreadId());
}

std::size_t ExecutablePath(char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    const DWORD size = capacity > MAXDWORD ? MAXDWORD : DWORD(capacity);
    // The process's module. When cut, Windows XP and later fill the buffer
    // and may leave it without NUL: terminate it ourselves.
    DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    if (n == 0) {
        buffer[0] = '\0';
        return 0;
    }
    if (n >= size) {
        n = size - 1;
    }
    buffer[n] = '\0';
    return std::size_t(n);
}

void DebuggerOutput(const char* text) {
    if (text != nullptr) {
        OutputDebugStringA(text);
    }
}

void* ReserveRegion(std::size_t bytes) {
    // VirtualAlloc hands out addresses on the 64 KiB allocation granularity.
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, std::size_t) {
    if (region != nullptr) {
        VirtualFree(region, 0, MEM_RELEASE);
    }
}

std::size_t HeapBlockSize(void* block) {
    return block != nullptr ? _msize(block) : 0;
}

bool QueryProcessMemory(ProcessMemory& out) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(),
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
        return false;
    }
    out =
        ProcessMemory{counters.WorkingSetSize, counters.PeakWorkingSetSize, counters.PrivateUsage};
    return true;
}

bool TracingAvailable() {
    return Tracing().reg != nullptr;
}

bool TraceRegister(const TraceGuid& provider, TraceEnableCallback callback, void* context,
                   std::uint64_t* handle) {
    if (handle == nullptr) {
        return false;
    }
    *handle = 0;
    const TraceEntryPoints& entries = Tracing();
    if (entries.reg == nullptr) {
        return false;
    }
    std::lock_guard<Mutex> lock(g_registrationMutex);
    RegistrationSlot* slot = nullptr;
    for (RegistrationSlot& candidate : g_registrations) {
        if (candidate.registration == nullptr) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        return false;
    }
    auto* registration = new (std::nothrow) TraceRegistration{callback, context};
    if (registration == nullptr) {
        return false;
    }
    GUID guid;
    static_assert(sizeof guid == sizeof provider);
    std::memcpy(&guid, &provider, sizeof guid);
    REGHANDLE registered = 0;
    if (entries.reg(&guid, &OnEnable, registration, &registered) != ERROR_SUCCESS ||
        registered == 0) {
        delete registration;
        return false;
    }
    *slot = RegistrationSlot{registered, registration};
    *handle = registered;
    return true;
}

bool TraceWrite(std::uint64_t handle, const TraceEvent& event, const TraceField* fields,
                std::uint32_t count) {
    const TraceEntryPoints& entries = Tracing();
    if (entries.write == nullptr || handle == 0 || (count != 0 && fields == nullptr)) {
        return false;
    }
    constexpr std::uint32_t kMaxFields = 16;
    if (count > kMaxFields) {
        return false;
    }
    EVENT_DATA_DESCRIPTOR data[kMaxFields];
    for (std::uint32_t i = 0; i < count; ++i) {
        EventDataDescCreate(&data[i], fields[i].data, fields[i].size);
    }
    EVENT_DESCRIPTOR descriptor{};
    EventDescCreate(&descriptor, event.id, event.version, event.channel, event.level, event.task,
                    event.opcode, event.keyword);
    return entries.write(handle, &descriptor, count, count != 0 ? data : nullptr) == ERROR_SUCCESS;
}

void TraceUnregister(std::uint64_t handle) {
    const TraceEntryPoints& entries = Tracing();
    if (entries.unreg == nullptr || handle == 0) {
        return;
    }
    TraceRegistration* registration = nullptr;
    {
        std::lock_guard<Mutex> lock(g_registrationMutex);
        for (RegistrationSlot& slot : g_registrations) {
            if (slot.registration != nullptr && slot.handle == handle) {
                registration = slot.registration;
                slot = RegistrationSlot{};
                break;
            }
        }
    }
    if (registration == nullptr) {
        return;  // not ours, or already ended
    }
    // After EventUnregister returns, no callback runs with this context.
    entries.unreg(handle);
    delete registration;
}

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void FailFast() {
    // No unwinding, no exit handlers, no DLL detach notifications.
    TerminateProcess(GetCurrentProcess(), 134);
    std::_Exit(134);
}

}  // namespace Tavo::Platform
