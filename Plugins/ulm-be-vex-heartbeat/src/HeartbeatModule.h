#pragma once
// The heartbeat feature: while the host's login session is usable (state
// SUCCEEDED with a non-zero account id and summoner id), call the LCDS
// method loginService.performLCDSHeartBeat once per period through the host,
// so the session with the game backend stays alive. The period is 60 seconds
// until the configuration value clientHeartBeatRateSeconds raises it.
//
// Threading: everything runs inside host callbacks, one at a time; no field
// is locked. [host-thread & initialized] unless stated otherwise.

#include <cstdint>

#include "LoginSession.h"
#include "binding/BindingProperty.h"
#include "framework/AppModule.h"

namespace Tavo::Client::Heartbeat {

inline constexpr const char* kShortName = "vex-heartbeat";
inline constexpr const char* kTimerName = "vex-heartbeat.HB";
inline constexpr const char* kLcdsDestination = "loginService";
inline constexpr const char* kLcdsMethod = "performLCDSHeartBeat";
inline constexpr const char* kSessionPath = "/vex-login/v1/session";
inline constexpr const char* kRatePath =
    "/vex-platform-config/v1/namespaces/ClientSystemStates/clientHeartBeatRateSeconds";
inline constexpr std::int32_t kDefaultRateSeconds = 60;
inline constexpr const char* kFailureFormat = "vex-heartbeat: %s";

class HeartbeatModule : public AppModule {
public:
    HeartbeatModule() = default;
    // Slot 2: nothing of its own to release.
    ~HeartbeatModule() override = default;

    // Slot 13: LoginSessionStates and LoginSession with the module's tags.
    // [host-thread & loaded]
    void RegisterApiTypes() override;
    // Slot 14: listens to the session and the rate, arms the timer; true.
    bool Start() override;

    // The session listener. Create and Update: the session is usable when its
    // state is SUCCEEDED and both ids are non-zero; the account id is taken
    // only when it becomes usable, so a later update with another id while
    // it stays usable changes nothing. Delete: unusable, account id 0.
    void OnSessionUpdate(const ResourceUpdate<Api::LoginSession>& update);
    // The rate listener (any event type; Delete reads as 0). A value above 60
    // that differs from the period becomes the period and restarts the timer
    // from now; any other value (60 or less, unreadable, or the period
    // itself) leaves period and timer alone, so the period never returns to
    // 60 or less.
    // Why: restarting on a value that is not taken would let a configuration
    // that keeps repeating a low value (30 every 50 s) push the next tick out
    // for ever, and the session would lapse without a single heartbeat.
    void OnRateUpdate(const ResourceUpdate<BindingProperty>& update);

    // The timer's tick: while the session is usable, counts one heartbeat and
    // calls loginService.performLCDSHeartBeat with the account id, "", the
    // count and the UTC time; a failure is logged at level Error (groups DBG
    // and NET) as "vex-heartbeat: <message>". Nothing happens otherwise.
    void SendHeartbeat();
    // (Re)starts the timer "vex-heartbeat.HB" with the current period; the
    // first tick comes one full period from now.
    void ArmHeartbeatTimer();

    std::int32_t HeartbeatRateSeconds() const { return heartbeatRateSeconds_; }
    std::int32_t HeartbeatCount() const { return heartbeatCount_; }
    bool SessionActive() const { return sessionActive_; }
    std::uint64_t AccountId() const { return accountId_; }

private:
    std::int32_t heartbeatRateSeconds_ = kDefaultRateSeconds;
    // Heartbeats sent over the module's life; never reset.
    std::int32_t heartbeatCount_ = 0;
    bool sessionActive_ = false;
    // Captured when the session becomes usable; kept while it is not.
    std::uint64_t accountId_ = 0;
};

// The configured period: the value read leniently as a 64-bit integer
// (BindingProperty::AsInt64, default 0: texts by strtoll with automatic base,
// floats truncated, bools 1 or 0, other kinds 0), of which the low 32 bits
// are taken as a signed number. "0x78" gives 120; 2^32 + 100 gives 100.
// [any-thread]
std::int32_t ReadConfiguredInteger(const BindingProperty& value);

}  // namespace Tavo::Client::Heartbeat
