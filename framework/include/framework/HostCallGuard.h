#pragma once
// No C++ exception may leave a function the host calls (the plugin callbacks,
// the event and scheduled-task callbacks). Their bodies run inside
// GuardHostCall, which catches whatever escapes and logs it at level Error
// (group DBG) as "Exception caught in <where>: <what>"; the call then returns
// normally. Fatal checks are not exceptions: they still end the process.
//
//   extern "C" void OnSomething(void* context) {
//       GuardHostCall("OnSomething", [&] { ... });
//   }

#include <exception>
#include <utility>

namespace Tavo::Client {

// Logs an exception that reached the host boundary; `what` may be null
// (an exception not derived from std::exception).
// [any-thread]
void ReportHostCallException(const char* where, const char* what) noexcept;

// Runs `body`; returns true when it returned, false when it threw (logged).
// [any-thread]
template <class Body>
bool GuardHostCall(const char* where, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& error) {
        ReportHostCallException(where, error.what());
    } catch (...) {
        ReportHostCallException(where, nullptr);
    }
    return false;
}

}  // namespace Tavo::Client
