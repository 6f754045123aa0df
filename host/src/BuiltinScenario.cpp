#include "BuiltinScenario.h"

namespace Tavo::Host {

namespace {

// Kept as YAML, comments and all, so that `ulm-host run --print-scenario`
// hands out a documented starting point for new scenarios.
constexpr char kBuiltinScenario[] =
    R"yaml(# A scenario for `ulm-host run --scenario FILE` (YAML; a .json file is read as JSON).
#
# The host starts the plugin at virtual time 0 and plays the steps and the
# plugin's scheduled callbacks in time order until `end`; no real time passes.
# At equal times the steps come first, in file order. Times and durations are
# seconds (90, 1.5) or texts of <number><unit> parts: 250ms, 90s, 10m, 2h,
# 1h30m, 1d. Keys:
#
#   name, description   texts for the output.
#   start               the plugin's wall clock at virtual time 0, in UTC
#                       (2024-03-05T14:00:00Z); without it, the real time when
#                       the run starts. The plugin's clocks follow virtual time.
#   resources           path -> value: in the store before the plugin starts
#                       (the plugin reads them with a GET when it starts).
#   lcds                how the LCDS simulator answers at first (default: the
#                       text "ok"); one of
#                         {answer: VALUE, typeName: TEXT}   a result (typeName
#                                                           defaults to its kind)
#                         nothing                           the method returned nothing
#                         {error: TEXT, status: CODE}       the request fails (status
#                                                           400..599, default 500)
#   steps               a list; each has `at` and one action:
#                         {at: T, set: PATH, value: VALUE}  store it and raise
#                                                           "Create" or "Update"
#                         {at: T, delete: PATH}             remove it and raise "Delete"
#                         {at: T, lcds: BEHAVIOUR}          answer LCDS calls so from now on
#   end                 when the scenario stops (required).
#   expect              checked at the end; `ulm-host run` exits 1 and names
#                       each one that failed:
#                         heartbeats: N         heartbeat calls made
#                         failed: N             of those, not answered with a text
#                         answers: {text: N, nothing: N, error: N, not convertible: N}
#                                               heartbeats per kind of answer (kinds not
#                                               named are not checked)
#                         accounts: {ID: N}     heartbeats per account id sent
#                         counts: [1, "2..5"]   the heartbeat counts sent, in order
#                         times: [1m, 2m]       when the heartbeats were sent
#                         timestamps: [2024-03-05T14:01:00Z, ...] or
#                           {first: 2024-03-05T14:01:00Z, every: 60s}
#                                               the UTC times the heartbeats carried
#                         logs: [{level: error, contains: TEXT, count: N}]
#                                               log lines at that level containing TEXT:
#                                               exactly N, or at least one without count
#                         subscriptions: N      host subscriptions held at the end
#
# The timeline has a line for every call across the boundary; a scheduled
# callback that made no request is followed by an "idle" line.
#
# This scenario: a player logs in as account 9; the configuration raises the
# heartbeat period to 120 seconds; the LCDS service fails for one minute, so
# one heartbeat fails; the player logs out and back in as account 10.

name: built-in
description: login as 9, period raised to 120 s, one failed heartbeat, logout, login as 10
start: 2024-03-05T14:00:00Z

resources:
  /vex-login/v1/session: {state: SUCCEEDED, summonerId: 7, accountId: 9}

steps:
  # Ten heartbeats at 60 s; then the period becomes 120 s from this moment.
  - at: 10m30s
    set: /vex-platform-config/v1/namespaces/ClientSystemStates/clientHeartBeatRateSeconds
    value: 120
  # The heartbeat at 30m30s fails and is logged; the next one comes on time.
  - at: 30m
    lcds: {error: LCDS is unavailable, status: 503}
  - at: 31m
    lcds: {answer: ok}
  # No heartbeats while logged out; after the new login they carry account 10.
  - at: 45m
    set: /vex-login/v1/session
    value: {state: LOGGING_OUT, summonerId: 7, accountId: 9}
  - at: 50m
    set: /vex-login/v1/session
    value: {state: SUCCEEDED, summonerId: 8, accountId: 10}

end: 2h

expect:
  heartbeats: 62
  failed: 1
  answers: {text: 61, error: 1}
  accounts: {9: 27, 10: 35}
  counts: ["1..62"]
  logs:
    - {level: error, contains: "vex-heartbeat: ", count: 1}
)yaml";

}  // namespace

std::string_view BuiltinScenarioText() {
    return {kBuiltinScenario, sizeof kBuiltinScenario - 1};
}

}  // namespace Tavo::Host
