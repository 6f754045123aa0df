#include "framework/CallbackContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "framework/AppModule.h"

namespace {

using namespace Tavo::Client;

TEST(CallbackContext, TokensAreNeverReusedAndResolveToTheirModule) {
    AppModule module;
    std::set<void*> seen;
    for (std::uint64_t payload = 1; payload <= 100; ++payload) {
        void* token = IssueCallbackContext(module, payload);
        ASSERT_NE(token, nullptr);
        EXPECT_TRUE(seen.insert(token).second);
        CallbackLease lease = ResolveCallbackContext(token);
        ASSERT_TRUE(lease);
        EXPECT_EQ(lease.Module(), &module);
        EXPECT_EQ(lease.Payload(), payload);
        WithdrawCallbackContext(token);
        EXPECT_FALSE(ResolveCallbackContext(token));
    }
}

TEST(CallbackContext, UnknownAndRevokedTokensResolveToNothing) {
    void* token = nullptr;
    {
        AppModule module;
        token = IssueCallbackContext(module, 9);
    }  // destruction revokes
    int local = 0;
    for (void* unknown : {token, static_cast<void*>(nullptr), static_cast<void*>(&local)}) {
        EXPECT_FALSE(ResolveCallbackContext(unknown));
    }
}

TEST(CallbackContext, RevokeWaitsForALeaseHeldOnAnotherThread) {
    AppModule module;
    void* token = IssueCallbackContext(module, 1);
    std::atomic<bool> leased{false}, released{false};
    std::thread callback([&] {
        CallbackLease lease = ResolveCallbackContext(token);
        leased = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        released = true;
    });
    while (!leased) {
        std::this_thread::yield();
    }
    RevokeCallbackContexts(module);
    EXPECT_TRUE(released);  // Revoke returned only after the callback let go
    callback.join();
    EXPECT_FALSE(ResolveCallbackContext(token));
}

TEST(CallbackContext, RevokeDoesNotWaitForTheCallingThreadsOwnLease) {
    AppModule module;
    void* token = IssueCallbackContext(module, 1);
    CallbackLease lease = ResolveCallbackContext(token);
    RevokeCallbackContexts(module);  // would deadlock if it waited for `lease`
    EXPECT_FALSE(ResolveCallbackContext(token));
}

}  // namespace
