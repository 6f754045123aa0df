// The process-wide log manager.

#include "logging/LogManager.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "logging/Diagnostics.h"

namespace Tavo {
namespace {

using Lock = std::lock_guard<Platform::RecursiveMutex>;

constexpr LogLevel kDefaultMinimumLevel = LogLevel::Warn;
constexpr std::uint64_t kDefaultMutedGroups = LogGroup::XTR;
// Records logged from inside a target's Write deeper than this are dropped,
// so a target that logs on every write cannot recurse without end.
constexpr int kMaxNesting = 4;
constexpr std::size_t kGroupSlots = 64;
constexpr std::size_t kLineCapacity = 4096;

// The manager's lock. Why: it also guards the manager's existence, so it
// lives outside the manager, and it is never destroyed, so that logging from
// static destructors stays safe.
Platform::RecursiveMutex& ManagerLock() {
    alignas(
        Platform::RecursiveMutex) static unsigned char storage[sizeof(Platform::RecursiveMutex)];
    static Platform::RecursiveMutex* const lock = new (storage) Platform::RecursiveMutex;
    return *lock;
}

// What exists only while the manager does. Guarded by ManagerLock().
struct ManagerState {
    std::vector<LogTarget*> targets;
    StdErrLogTarget stdErr;
    StdOutLogTarget stdOut;
    DebuggerConsoleLogTarget debugger;
    int nesting = 0;              // offerings in progress (on the lock's owner thread)
    bool destroyPending = false;  // released to 0 during an offering
};

ManagerState* g_state = nullptr;  // guarded by ManagerLock()
std::atomic<std::int32_t> g_references{0};

// Copies of the filters, written under the lock, read without it so that a
// dropped record costs two loads.
std::atomic<std::int32_t> g_minimumLevel{static_cast<std::int32_t>(kDefaultMinimumLevel)};
std::atomic<std::uint64_t> g_mutedGroups{kDefaultMutedGroups};
std::atomic<bool> g_suspended{false};

// The group name table: up to three characters per slot, packed little end
// first, 0 for a slot without a name. Slots are written under the lock before
// the last-used index is published; readers need no lock.
constexpr std::uint32_t PackName(const char* name) {
    std::uint32_t packed = 0;
    for (int i = 0; i < 3 && name[i] != '\0'; ++i) {
        packed |= static_cast<std::uint32_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    }
    return packed;
}

std::atomic<std::uint32_t> g_groupNames[kGroupSlots] = {
    PackName("DBG"), PackName("GEN"), PackName("XTR"), PackName("PRF"),
    PackName("MEM"), PackName("DSK"), PackName("NET"), PackName("TST"),
};
std::atomic<std::int32_t> g_lastGroup{7};

char g_executablePath[1024];
std::atomic<const char*> g_executableName{"<unknown>"};
bool g_executableRead = false;  // guarded by ManagerLock()

void ReadExecutableName() {
    if (g_executableRead) {
        return;
    }
    g_executableRead = true;
    if (Platform::ExecutablePath(g_executablePath, sizeof g_executablePath) == 0) {
        return;
    }
    const char* name = g_executablePath;
    for (const char* p = g_executablePath; *p != '\0'; ++p) {
        if (std::strchr(Platform::kPathSeparators, *p) != nullptr) {
            name = p + 1;
        }
    }
    g_executableName.store(name, std::memory_order_release);
}

bool PassesFilters(LogLevel level, std::uint64_t groups) {
    return !g_suspended.load(std::memory_order_acquire) &&
           static_cast<std::int32_t>(level) >= g_minimumLevel.load(std::memory_order_acquire) &&
           (groups & g_mutedGroups.load(std::memory_order_acquire)) == 0;
}

// Creates the manager if there is none. Lock held.
ManagerState& EnsureLocked() {
    if (g_state == nullptr) {
        auto* state = new ManagerState;
        state->targets.reserve(8);
        g_state = state;
        ReadExecutableName();
        g_minimumLevel.store(static_cast<std::int32_t>(kDefaultMinimumLevel));
        g_mutedGroups.store(kDefaultMutedGroups);
        g_suspended.store(false);
        LogManager::Attach(state->stdErr);
        LogManager::Attach(state->debugger);
    }
    return *g_state;
}

// Detaches every target, the last attached first, and destroys the manager.
// Lock held, no offering in progress.
void DestroyLocked() {
    ManagerState* state = g_state;
    while (!state->targets.empty()) {
        LogManager::Detach(*state->targets.back());
    }
    g_state = nullptr;
    delete state;
    g_minimumLevel.store(static_cast<std::int32_t>(kDefaultMinimumLevel));
    g_mutedGroups.store(kDefaultMutedGroups);
    g_suspended.store(false);
}

std::size_t CopyText(char* buffer, std::size_t capacity, std::size_t at, const char* text,
                     std::size_t limit) {
    while (*text != '\0' && at < limit && at < capacity) {
        buffer[at++] = *text++;
    }
    return at;
}

std::size_t CutLength(int length, std::size_t capacity) {
    if (length < 0 || capacity == 0) {
        return 0;
    }
    return std::min(static_cast<std::size_t>(length), capacity - 1);
}

}  // namespace

void LogManager::AddReference() {
    Lock lock(ManagerLock());
    g_references.fetch_add(1);
    try {
        EnsureLocked().destroyPending = false;
    } catch (...) {
        // Out of memory: the next log call or reference tries again.
    }
}

void LogManager::Release() {
    Lock lock(ManagerLock());
    if (g_references.load() <= 0) {
        return;
    }
    if (g_references.fetch_sub(1) != 1 || g_state == nullptr) {
        return;
    }
    if (g_state->nesting > 0) {
        g_state->destroyPending = true;  // the outermost offering destroys it
    } else {
        DestroyLocked();
    }
}

bool LogManager::Exists() {
    Lock lock(ManagerLock());
    return g_state != nullptr;
}

void LogManager::SetMinimumLevel(LogLevel level) {
    Lock lock(ManagerLock());
    g_minimumLevel.store(static_cast<std::int32_t>(level), std::memory_order_release);
}

LogLevel LogManager::MinimumLevel() {
    return static_cast<LogLevel>(g_minimumLevel.load(std::memory_order_acquire));
}

void LogManager::SetMutedGroups(std::uint64_t groups) {
    Lock lock(ManagerLock());
    g_mutedGroups.store(groups, std::memory_order_release);
}

std::uint64_t LogManager::MutedGroups() {
    return g_mutedGroups.load(std::memory_order_acquire);
}

void LogManager::Suspend() {
    Lock lock(ManagerLock());
    g_suspended.store(true, std::memory_order_release);
}

void LogManager::Resume() {
    Lock lock(ManagerLock());
    g_suspended.store(false, std::memory_order_release);
}

bool LogManager::IsSuspended() {
    return g_suspended.load(std::memory_order_acquire);
}

void LogManager::Attach(LogTarget& target) {
    Lock lock(ManagerLock());
    if (target.attached_.load(std::memory_order_acquire)) {
        return;
    }
    try {
        EnsureLocked().targets.push_back(&target);
        target.attached_.store(true, std::memory_order_release);
    } catch (...) {
        // Out of memory: the target stays detached.
    }
}

void LogManager::Detach(LogTarget& target) {
    Lock lock(ManagerLock());
    if (!target.attached_.load(std::memory_order_acquire)) {
        return;
    }
    if (g_state != nullptr) {
        auto& targets = g_state->targets;
        targets.erase(std::remove(targets.begin(), targets.end(), &target), targets.end());
    }
    target.attached_.store(false, std::memory_order_release);
}

LogTarget* LogManager::FindTarget(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    Lock lock(ManagerLock());
    if (g_state == nullptr) {
        return nullptr;
    }
    for (LogTarget* target : g_state->targets) {
        if (std::strcmp(target->Name(), name) == 0) {
            return target;
        }
    }
    return nullptr;
}

LogTarget* LogManager::AttachedTarget(std::size_t index) {
    Lock lock(ManagerLock());
    if (g_state == nullptr || index >= g_state->targets.size()) {
        return nullptr;
    }
    return g_state->targets[index];
}

StdErrLogTarget* LogManager::StdErrTarget() {
    Lock lock(ManagerLock());
    return g_state != nullptr ? &g_state->stdErr : nullptr;
}

StdOutLogTarget* LogManager::StdOutTarget() {
    Lock lock(ManagerLock());
    return g_state != nullptr ? &g_state->stdOut : nullptr;
}

DebuggerConsoleLogTarget* LogManager::DebuggerTarget() {
    Lock lock(ManagerLock());
    return g_state != nullptr ? &g_state->debugger : nullptr;
}

std::uint64_t LogManager::GroupMask(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    const std::uint32_t packed = PackName(name);
    auto find = [&]() -> std::uint64_t {
        const std::int32_t last = g_lastGroup.load(std::memory_order_acquire);
        for (std::int32_t slot = 0; slot <= last; ++slot) {
            if (g_groupNames[slot].load(std::memory_order_relaxed) == packed) {
                return std::uint64_t{1} << slot;
            }
        }
        return 0;
    };
    if (const std::uint64_t mask = find(); mask != 0) {
        return mask;
    }
    // Registration is serialised, so one name never takes two slots.
    Lock lock(ManagerLock());
    if (const std::uint64_t mask = find(); mask != 0) {
        return mask;
    }
    const std::int32_t last = g_lastGroup.load(std::memory_order_relaxed);
    if (last + 1 >= static_cast<std::int32_t>(kGroupSlots)) {
        return 0;  // all slots in use: the empty mask, nothing stored
    }
    g_groupNames[last + 1].store(packed, std::memory_order_relaxed);
    g_lastGroup.store(last + 1, std::memory_order_release);
    return std::uint64_t{1} << (last + 1);
}

std::size_t LogManager::GroupNames(std::uint64_t mask, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    const std::int32_t last = g_lastGroup.load(std::memory_order_acquire);
    std::size_t length = 0;
    const std::size_t limit = capacity - 1;
    for (std::size_t bit = 0; bit < kGroupSlots; ++bit) {
        if ((mask & (std::uint64_t{1} << bit)) == 0) {
            continue;
        }
        if (length != 0) {
            length = CopyText(buffer, capacity, length, ";", limit);
        }
        std::uint32_t packed = static_cast<std::int32_t>(bit) <= last
                                   ? g_groupNames[bit].load(std::memory_order_relaxed)
                                   : 0;
        char name[4] = {};
        if (packed == 0) {
            std::memcpy(name, "???", 3);
        }
        for (int i = 0; i < 3 && packed != 0; ++i, packed >>= 8) {
            name[i] = static_cast<char>(packed & 0xFF);
        }
        length = CopyText(buffer, capacity, length, name, limit);
    }
    buffer[length] = '\0';
    return length;
}

std::string LogManager::GroupNames(std::uint64_t mask) {
    char buffer[kGroupSlots * 4 + 1];
    return std::string(buffer, GroupNames(mask, buffer, sizeof buffer));
}

std::size_t LogManager::FormatLine(char* buffer, std::size_t capacity, const char* format,
                                   const LogRecord& record) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    if (capacity == 1) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t limit = capacity - 2;  // room for the newline and the NUL
    std::size_t length = 0;
    char field[kGroupSlots * 4 + 1];
    for (const char* f = format != nullptr ? format : ""; *f != '\0' && length < limit; ++f) {
        if (*f != '#') {
            buffer[length++] = *f;
            continue;
        }
        const char code = f[1];
        if (code == '\0') {
            break;  // a '#' at the end ends the line
        }
        ++f;
        const char* text = field;
        switch (code) {
            case 'D':
                DateTimeText(record.time, field, sizeof field);
                break;
            case 'E':
                text = ExecutableName();
                break;
            case 'G':
                GroupNames(record.groups, field, sizeof field);
                break;
            case 'H': {
                // Why single precision: "#H" is defined as computed from a
                // float, so lines agree with every other build of the line
                // format. A float holds 24 bits: past about 2.3 hours the
                // milliseconds step by 2 ms or more, and past about 194 days
                // (2^24 s) the whole seconds coarsen too.
                const float seconds = static_cast<float>(Diagnostics::ElapsedSeconds());
                const int whole = static_cast<int>(seconds);
                const int millis = std::clamp(
                    static_cast<int>((seconds - static_cast<float>(whole)) * 1000.0f), 0, 999);
                std::snprintf(field, sizeof field, "%06d.%03d", whole, millis);
                break;
            }
            case 'L':
                text = LevelTag(record.level);
                break;
            case 'M':
                text = record.message != nullptr ? record.message : "";
                break;
            case 'T':
                std::snprintf(field, sizeof field, "%08X",
                              static_cast<unsigned>(Platform::CurrentThreadId()));
                break;
            default:
                field[0] = code;
                field[1] = '\0';
                break;
        }
        length = CopyText(buffer, capacity, length, text, limit);
    }
    if (length == 0 || buffer[length - 1] != '\n') {
        buffer[length++] = '\n';
    }
    buffer[length] = '\0';
    return length;
}

const char* LogManager::LevelTag(LogLevel level) {
    switch (level) {
        case LogLevel::Okay:
            return "  OKAY";
        case LogLevel::Warn:
            return "  WARN";
        case LogLevel::Error:
            return " ERROR";
        case LogLevel::Always:
            return "ALWAYS";
    }
    return "   ???";
}

const char* LogManager::ExecutableName() {
    return g_executableName.load(std::memory_order_acquire);
}

LogTime LogManager::CurrentTime() {
    return Diagnostics::LocalTimeFields();
}

std::size_t LogManager::DateTimeText(const LogTime& time, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    return CutLength(
        std::snprintf(buffer, capacity, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                      time.day, time.hour, time.minute, time.second, time.millisecond),
        capacity);
}

std::size_t LogManager::FileNameDateTimeText(const LogTime& time, char* buffer,
                                             std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    return CutLength(std::snprintf(buffer, capacity, "%04d-%02d-%02dT%02d-%02d-%02d", time.year,
                                   time.month, time.day, time.hour, time.minute, time.second),
                     capacity);
}

void LogManager::LogV(LogLevel level, std::uint64_t groups, const char* format,
                      std::va_list arguments) {
    if (!PassesFilters(level, groups)) {
        return;
    }
    char message[kLineCapacity];
    message[0] = '\0';
    if (format != nullptr && std::vsnprintf(message, sizeof message, format, arguments) < 0) {
        message[0] = '\0';
    }
    LogRecord record;
    record.time = CurrentTime();
    record.level = level;
    record.groups = groups;
    record.message = message;
    try {
        Lock lock(ManagerLock());
        ManagerState* state = &EnsureLocked();
        // The filters may have changed, or the manager been created, meanwhile.
        if (!PassesFilters(level, groups) || state->nesting >= kMaxNesting) {
            return;
        }
        ++state->nesting;
        // By index: a Write may attach or detach targets. When the list moved
        // under this position, the target now there has not had the record yet.
        auto& targets = state->targets;
        for (std::size_t i = 0; i < targets.size();) {
            LogTarget* target = targets[i];
            try {
                if (target->Accepts(record)) {
                    target->Write(record);
                }
            } catch (...) {
                // A target that throws loses its record; the others still get it.
            }
            if (i < targets.size() && targets[i] == target) {
                ++i;
            }
        }
        if (--state->nesting == 0 && state->destroyPending) {
            DestroyLocked();
        }
    } catch (...) {
        // Logging never fails towards its caller.
    }
}

void LogV(LogLevel level, std::uint64_t groups, const char* format, std::va_list arguments) {
    LogManager::LogV(level, groups, format, arguments);
}

void Log(LogLevel level, std::uint64_t groups, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    LogManager::LogV(level, groups, format, arguments);
    va_end(arguments);
}

}  // namespace Tavo
