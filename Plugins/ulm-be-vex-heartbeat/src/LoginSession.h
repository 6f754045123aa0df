#pragma once
// The login session as the heartbeat feature reads it from the host resource
// "/vex-login/v1/session", and its registration in the module's registry.
// The host's resource may carry more members; only these three are read.

#include <cstddef>
#include <cstdint>

namespace Tavo::Client {
class AppModule;
}

namespace Tavo::Client::Heartbeat::Api {

// Where the login stands. Only SUCCEEDED means a usable session.
// Registered as "LoginSessionStates".
enum class LoginSessionState : std::int32_t {
    IN_PROGRESS = 0,
    SUCCEEDED = 1,
    LOGGING_OUT = 2,
    ERROR = 3,
};

// Registered as "LoginSession". A default session is IN_PROGRESS with both
// ids 0. The ids are 8-aligned so that the layout described to the host is
// the same on every target (offsets 0, 8, 16; size 24).
struct LoginSession {
    LoginSessionState state = LoginSessionState::IN_PROGRESS;
    alignas(8) std::uint64_t summonerId = 0;  // the player's game identity; 0 when absent
    alignas(8) std::uint64_t accountId = 0;   // sent with every heartbeat; 0 when absent
};

static_assert(sizeof(LoginSession) == 24);
static_assert(offsetof(LoginSession, summonerId) == 8);
static_assert(offsetof(LoginSession, accountId) == 16);

// Registers "LoginSessionStates" (values IN_PROGRESS 0, ERROR 3, SUCCEEDED 1,
// LOGGING_OUT 2, added in that order) and then "LoginSession" (fields state,
// summonerId, accountId) in `module`'s registry, both with the module's type
// tags. The enum comes first so that the state field finds its descriptor.
// [host-thread & loaded]
void DescribeLoginSessionTypes(AppModule& module);

}  // namespace Tavo::Client::Heartbeat::Api
