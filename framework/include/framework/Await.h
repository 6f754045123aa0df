#pragma once
// Cooperative waiting: AppModule::Await.
//
// The module never blocks the host's thread on a future. It announces the
// wait (hostBeginWait), hands control back to the host (hostYield) until the
// future is ready, and closes the wait (hostEndWait); the host may call back
// into the module meanwhile, so code that awaits must tolerate its tables
// changing. Waits nest; nothing is stored between them.

#include <chrono>
#include <future>
#include <string>

#include "binding/StaticType.h"
#include "framework/AppModule.h"
#include "logging/Format.h"

namespace Tavo::Client {

// The fatal check "ALE-6D828C10" for a future error caught while awaiting:
// logs "Caught std::future_error in AppModule::Await: (code) text" and ends
// the process.
// [any-thread]
[[noreturn]] void FailOnFutureError(const std::future_error& error);

// True while the module has a host to yield to.
bool CanYieldToHost(const AppModule& module);

template <class T>
T AppModule::Await(std::future<T>& future) {
    bool began = false;
    try {
        for (;;) {
            if (!future.valid()) {
                throw std::future_error(std::future_errc::no_state);
            }
            const std::future_status status = future.wait_for(std::chrono::seconds(0));
            // Why deferred counts as ready: a deferred future runs only when its
            // value is taken, so polling it would never end.
            if (status != std::future_status::timeout) {
                if (began) {
                    hostEndWait();
                }
                return future.get();
            }
            if (!CanYieldToHost(*this)) {
                // Nothing on this thread can make progress without a host:
                // block instead of spinning.
                future.wait();
                continue;
            }
            if (!began) {
                began = true;
                hostBeginWait(Format("Wait: future<%1>", StaticType::Named<T>().name), 0);
            }
            hostYield();
        }
    } catch (const std::future_error& error) {
        FailOnFutureError(error);
    }
}

}  // namespace Tavo::Client
