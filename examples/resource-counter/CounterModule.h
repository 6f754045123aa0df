#pragma once
// The resource counter: an example plugin that watches one host resource,
// the login session, and keeps counts about it.
//
// - Every Create or Update of the session counts as a change, every Delete
//   as a delete; the module remembers whether the session exists.
// - A timer ticks every 10 seconds; each tick while the session exists
//   counts, so ticks * 10 s is roughly how long it has existed.
// - Two exported functions let the host (or `ulm-host call`) read and set
//   the counts:
//     GET  /resource-counter/v1/counts/{counter}   one count: "changes",
//                                                  "deletes" or "ticks"
//     POST /resource-counter/v1/counts             body {"counter": NAME,
//                                                  "value": N}; sets it and
//                                                  returns all counts
//
// Threading: the host calls the module one call at a time (events, timer
// ticks and function calls alike), so no field is locked.

#include <cstdint>
#include <string>

#include "binding/BindingProperty.h"
#include "framework/AppModule.h"
#include "logging/Failure.h"

namespace Counter {

inline constexpr const char* kWatchedPath = "/vex-login/v1/session";
inline constexpr const char* kTimerName = "resource-counter.tick";
inline constexpr double kTickSeconds = 10;

// Registered as "ResourceCounts"; what POST returns.
struct Counts {
    std::uint64_t changes = 0;  // Create and Update events of the resource
    std::uint64_t deletes = 0;  // Delete events
    std::uint64_t ticks = 0;    // timer ticks while the resource existed
    bool present = false;       // whether it exists now
};

// Registered as "SetCountRequest"; the body of POST.
struct SetCountRequest {
    std::string counter;  // "changes", "deletes" or "ticks"
    std::uint64_t value = 0;
};

class CounterModule : public Tavo::Client::AppModule {
public:
    // Declares the two records and the two functions. [host-thread & loaded]
    void RegisterApiTypes() override;
    // Listens to the session (its current value arrives at once) and starts
    // the timer. [host-thread & initialized]
    bool Start() override;

    const Counts& Current() const { return counts_; }

    // The function behind GET: the count named `counter`, or a failure with
    // status 404 for any other name.
    Tavo::Maybe<std::uint64_t> GetCount(const std::string& counter) const;
    // The function behind POST: sets the count named in `request` and
    // returns all counts, or a failure with status 400 for an unknown name.
    Tavo::Maybe<Counts> SetCount(const SetCountRequest& request);

private:
    void OnSessionChange(const Tavo::Client::ResourceUpdate<Tavo::BindingProperty>& update);
    void OnTick();
    // The counter named `name`, or null.
    std::uint64_t* Find(const std::string& name);

    Counts counts_;
};

}  // namespace Counter
