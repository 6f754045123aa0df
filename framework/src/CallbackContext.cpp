#include "framework/CallbackContext.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace Tavo::Client {
namespace {

struct Token {
    AppModule* module;
    std::uint64_t payload;
};

struct ActiveLease {
    const AppModule* module;
    std::thread::id thread;
};

struct ContextTable {
    Platform::Mutex mutex;
    std::condition_variable_any leaseReleased;
    std::uintptr_t next = 1;  // 0 is never issued: a null context is never a token
    std::unordered_map<std::uintptr_t, Token> tokens;
    std::vector<ActiveLease> leases;  // few at a time: one per running callback
};

// Created on first use and never destroyed, so a callback arriving during
// process exit still finds a table (and nothing in it).
ContextTable& Table() {
    static ContextTable* table = new ContextTable;
    return *table;
}

void ReleaseLease(const AppModule* module) {
    ContextTable& table = Table();
    {
        std::lock_guard<Platform::Mutex> lock(table.mutex);
        const std::thread::id self = std::this_thread::get_id();
        auto it = std::find_if(table.leases.begin(), table.leases.end(), [&](const ActiveLease& l) {
            return l.module == module && l.thread == self;
        });
        if (it != table.leases.end()) {
            table.leases.erase(it);
        }
    }
    table.leaseReleased.notify_all();
}

}  // namespace

CallbackLease::CallbackLease(CallbackLease&& other) noexcept
    : module_(other.module_), payload_(other.payload_) {
    other.module_ = nullptr;
}

CallbackLease& CallbackLease::operator=(CallbackLease&& other) noexcept {
    if (this != &other) {
        if (module_ != nullptr) {
            ReleaseLease(module_);
        }
        module_ = other.module_;
        payload_ = other.payload_;
        other.module_ = nullptr;
    }
    return *this;
}

CallbackLease::~CallbackLease() {
    if (module_ != nullptr) {
        ReleaseLease(module_);
    }
}

void* IssueCallbackContext(AppModule& module, std::uint64_t payload) {
    ContextTable& table = Table();
    std::lock_guard<Platform::Mutex> lock(table.mutex);
    std::uintptr_t token = table.next;
    // Only a wrapped counter can meet 0 or a live token; skip both.
    while (token == 0 || table.tokens.count(token) != 0) {
        ++token;
    }
    table.next = token + 1;
    table.tokens.emplace(token, Token{&module, payload});
    return reinterpret_cast<void*>(token);
}

CallbackLease ResolveCallbackContext(void* context) {
    ContextTable& table = Table();
    std::lock_guard<Platform::Mutex> lock(table.mutex);
    auto it = table.tokens.find(reinterpret_cast<std::uintptr_t>(context));
    if (it == table.tokens.end()) {
        return CallbackLease();
    }
    table.leases.push_back(ActiveLease{it->second.module, std::this_thread::get_id()});
    return CallbackLease(it->second.module, it->second.payload);
}

void WithdrawCallbackContext(void* context) {
    ContextTable& table = Table();
    std::lock_guard<Platform::Mutex> lock(table.mutex);
    table.tokens.erase(reinterpret_cast<std::uintptr_t>(context));
}

void RevokeCallbackContexts(const AppModule& module) {
    ContextTable& table = Table();
    std::unique_lock<Platform::Mutex> lock(table.mutex);
    std::erase_if(table.tokens, [&](const auto& entry) { return entry.second.module == &module; });
    const std::thread::id self = std::this_thread::get_id();
    table.leaseReleased.wait(lock, [&] {
        return std::none_of(table.leases.begin(), table.leases.end(), [&](const ActiveLease& l) {
            return l.module == &module && l.thread != self;
        });
    });
}

std::size_t LiveCallbackContexts() {
    ContextTable& table = Table();
    std::lock_guard<Platform::Mutex> lock(table.mutex);
    return table.tokens.size();
}

}  // namespace Tavo::Client
