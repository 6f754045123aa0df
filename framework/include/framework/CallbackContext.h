#pragma once
// Opaque contexts for the callbacks a module hands to the host.
//
// Why: the host cannot withdraw a scheduled callback or an event subscription
// it has accepted, and it may still call one after the module that asked for
// it is gone (Shutdown does not cancel pending tasks; an event may already be
// on its way). So a module never gives the host its own address or the
// address of one of its records as a callback context. It gives a token: a
// number drawn from one process-wide counter, never issued twice while the
// process lives (on 32-bit builds the counter would wrap only after 2^32
// issues; live tokens are skipped even then), resolved through one table
// under a mutex. Destroying a module removes its tokens, so a late callback
// resolves to nothing and returns without touching freed memory.
//
// A resolution is a lease: while a CallbackLease lives, RevokeCallbackContexts
// for its module waits for it, so a callback running on another thread keeps
// its module alive until it returns. Leases taken on the revoking thread itself
// (a callback that is running further up the same stack) are not waited for.
// A lease belongs to the thread that resolved it and must not be handed to
// another thread.
//
//   void* token = IssueCallbackContext(module, taskId);     // hand `token` to the host
//   ...
//   CallbackLease lease = ResolveCallbackContext(context);  // in the callback
//   if (!lease) return;                                      // the module is gone
//   lease.Module()->RunScheduledTask(lease.Payload());
//
// [any-thread] for every function here.

#include <cstddef>
#include <cstdint>

namespace Tavo::Client {

class AppModule;

class CallbackLease {
public:
    CallbackLease() = default;
    CallbackLease(CallbackLease&& other) noexcept;
    CallbackLease& operator=(CallbackLease&& other) noexcept;
    CallbackLease(const CallbackLease&) = delete;
    CallbackLease& operator=(const CallbackLease&) = delete;
    ~CallbackLease();

    // False when the token was unknown, withdrawn or revoked.
    explicit operator bool() const { return module_ != nullptr; }
    // The module the token was issued for; valid while the lease lives.
    AppModule* Module() const { return module_; }
    // The number given at issue (a task id, or 0 for the event context).
    std::uint64_t Payload() const { return payload_; }

private:
    friend CallbackLease ResolveCallbackContext(void* context);
    CallbackLease(AppModule* module, std::uint64_t payload) : module_(module), payload_(payload) {}

    AppModule* module_ = nullptr;
    std::uint64_t payload_ = 0;
};

// A new token for `module` carrying `payload`. Never null.
void* IssueCallbackContext(AppModule& module, std::uint64_t payload);

// The module and payload of `context`, leased; an empty lease when the token
// is not live (never issued, withdrawn, or its module destroyed).
CallbackLease ResolveCallbackContext(void* context);

// Forgets one token (a one-shot callback has run). Unknown tokens are ignored.
void WithdrawCallbackContext(void* context);

// Forgets every token of `module`, then waits until leases on `module` held by
// other threads are released. Called when the module is shut down or
// destroyed; afterwards no callback reaches it.
void RevokeCallbackContexts(const AppModule& module);

// How many tokens are live in the process (for tests and diagnostics).
std::size_t LiveCallbackContexts();

}  // namespace Tavo::Client
