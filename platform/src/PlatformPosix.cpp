// POSIX implementation of the platform layer.

#include "platform/Platform.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "detail/SystemClocks.h"

namespace Tavo::Platform {

namespace detail {

std::int64_t SystemMonotonicNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t SystemWallClock100ns() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t(ts.tv_sec) * 10'000'000 + ts.tv_nsec / 100;
}

CalendarTime LocalFromWallClock100ns(std::int64_t wallClock100ns) {
    // Floor division, so that instants before 1970 keep a millisecond in 0..999.
    std::int64_t seconds = wallClock100ns / 10'000'000;
    std::int64_t rest = wallClock100ns % 10'000'000;
    if (rest < 0) {
        --seconds;
        rest += 10'000'000;
    }
    const time_t time = time_t(seconds);
    tm fields{};
    if (std::int64_t(time) != seconds || localtime_r(&time, &fields) == nullptr) {
        return CalendarTime{};
    }
    return CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,    fields.tm_hour,
                        fields.tm_min,         fields.tm_sec,     int(rest / 10'000)};
}

std::uint64_t SystemHighResolutionCounter() {
    return std::uint64_t(SystemMonotonicNanoseconds());
}

std::uint64_t SystemHighResolutionFrequency() {
    return 1'000'000'000;
}

void* FindExecutableSymbol(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

}  // namespace detail

bool UtcFromSeconds(std::int64_t secondsSince1970, CalendarTime& out) {
    time_t seconds = time_t(secondsSince1970);
    if (std::int64_t(seconds) != secondsSince1970) {
        return false;  // does not fit a 32-bit time_t
    }
    tm fields{};
    if (gmtime_r(&seconds, &fields) == nullptr) {
        return false;
    }
    out = CalendarTime{fields.tm_year + 1900,
                       fields.tm_mon + 1,
                       fields.tm_mday,
                       fields.tm_hour,
                       fields.tm_min,
                       fields.tm_sec,
                       0};
    return true;
}

std::uint32_t CurrentThreadId() {
    return std::uint32_t(syscall(SYS_gettid));
}

std::size_t ExecutablePath(char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    ssize_t n = readlink("/proc/self/exe", buffer, capacity - 1);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return std::size_t(n);
}

void DebuggerOutput(const char*) {}

void* ReserveRegion(std::size_t bytes) {
    // Over-reserve by one region so an aligned window can be cut out of it.
    std::size_t span = bytes + kRegionSize;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto base = reinterpret_cast<std::uintptr_t>(raw);
    auto aligned = (base + kRegionSize - 1) & ~std::uintptr_t(kRegionSize - 1);
    if (aligned > base) {
        munmap(raw, aligned - base);
    }
    std::size_t tail = (base + span) - (aligned + bytes);
    if (tail > 0) {
        munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    }
    return reinterpret_cast<void*>(aligned);
}

void ReleaseRegion(void* region, std::size_t bytes) {
    if (region != nullptr) {
        munmap(region, bytes);
    }
}

std::size_t HeapBlockSize(void* block) {
    return block != nullptr ? malloc_usable_size(block) : 0;
}

bool QueryProcessMemory(ProcessMemory& out) {
    // /proc/self/status lists the figures in kB, one "Name:  value kB" a line.
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return false;
    }
    ProcessMemory found;
    int seen = 0;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned long long kb = 0;
        if (std::sscanf(line, "VmRSS: %llu", &kb) == 1) {
            found.workingSet = kb * 1024;
            ++seen;
        } else if (std::sscanf(line, "VmHWM: %llu", &kb) == 1) {
            found.peakWorkingSet = kb * 1024;
            ++seen;
        } else if (std::sscanf(line, "RssAnon: %llu", &kb) == 1) {
            found.privateBytes = kb * 1024;
            ++seen;
        }
    }
    std::fclose(status);
    if (seen != 3) {
        return false;
    }
    out = found;
    return true;
}

// No system event tracing here.
bool TracingAvailable() {
    return false;
}

bool TraceRegister(const TraceGuid&, TraceEnableCallback, void*, std::uint64_t* handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    return false;
}

bool TraceWrite(std::uint64_t, const TraceEvent&, const TraceField*, std::uint32_t) {
    return false;
}

void TraceUnregister(std::uint64_t) {}

void UseBinaryStandardStreams() {}

void FailFast() {
    std::_Exit(134);
}

}  // namespace Tavo::Platform
