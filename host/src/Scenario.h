#pragma once
// A scenario: what the development host does to a plugin over virtual time,
// and what it expects to have seen at the end. Written in YAML (JSON works
// too); the format is documented at the top of the built-in scenario
// (host/BuiltinScenario.cpp) and in the README.
//
// Threading: plain data and pure functions. [any-thread]

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LcdsSimulator.h"
#include "Scheduler.h"
#include "binding/BindingProperty.h"

namespace Tavo::Host {

// The longest time a scenario may name: 1000 days.
inline constexpr VirtualTime kMaxScenarioTime = 1000LL * 24 * 3600 * kNanosecondsPerSecond;

// Reads a duration: a number of seconds (fractions allowed), or a text of one
// or more <number><unit> parts with the units d, h, m, s and ms ("90s", "10m",
// "2h", "1h30m", "1.5s", "250ms"); a text of digits alone is seconds. The
// result (in nanoseconds) is rounded to the millisecond and must lie in
// 0..kMaxScenarioTime.
// False with `error` set otherwise.
bool ParseDuration(const BindingProperty& value, VirtualTime& out, std::string& error);

// Orders account ids as numbers when both are decimal texts ("9" < "10"),
// otherwise byte-wise; decimal texts come first.
struct AccountOrder {
    bool operator()(const std::string& a, const std::string& b) const;
};
using AccountCounts = std::map<std::string, std::uint64_t, AccountOrder>;

// How a heartbeat was answered, as the plugin saw it: the heartbeat asks for
// a text, so an answer of another kind fails in the plugin although the host
// delivered it.
enum class HeartbeatAnswer { Text, Nothing, Error, NotConvertible };
inline constexpr std::size_t kHeartbeatAnswerKinds = 4;
using AnswerCounts = std::array<std::uint64_t, kHeartbeatAnswerKinds>;
// "text", "nothing", "error", "not convertible".
const char* HeartbeatAnswerName(HeartbeatAnswer answer);

// "2024-03-05T14:00:00Z" as seconds since 1970-01-01 00:00:00 UTC: exactly
// that form, a real date and time of the years 1970 to 9999. False otherwise.
bool ParseUtcTime(std::string_view text, std::int64_t& secondsSince1970);

// The timestamps the heartbeats must carry: a list, or the first one and the
// step between consecutive ones.
struct TimestampExpectation {
    std::vector<std::string> list;
    std::int64_t firstSeconds = 0;  // with everySeconds, when list is empty
    std::int64_t everySeconds = 0;
    // The texts expected of `count` heartbeats.
    std::vector<std::string> For(std::size_t count) const;
};

struct ScenarioStep {
    enum class Action { Set, Delete, Lcds };
    VirtualTime at = 0;
    Action action = Action::Set;
    std::string path;       // Set, Delete
    BindingProperty value;  // Set
    LcdsBehaviour lcds;     // Lcds
    std::size_t index = 0;  // position in the file, for messages
};

// A log line the plugin must (or, with count 0, must not) have written.
struct LogExpectation {
    std::int32_t level = 2;
    std::string contains;                // a part of the message
    std::optional<std::uint64_t> count;  // exact number; without it, at least one
};

struct ScenarioExpectations {
    std::optional<std::uint64_t> heartbeats;  // heartbeat calls made
    std::optional<std::uint64_t> failed;      // of those, not answered with a text
    // Heartbeats per kind of answer; kinds not named are not checked.
    std::optional<std::array<std::optional<std::uint64_t>, kHeartbeatAnswerKinds>> answers;
    // Account id (as sent, in decimal) → heartbeats that carried it.
    std::optional<AccountCounts> accounts;
    // The heartbeat counts sent, in order.
    std::optional<std::vector<std::int64_t>> counts;
    // The virtual times of the heartbeats, exactly.
    std::optional<std::vector<VirtualTime>> times;
    std::optional<TimestampExpectation> timestamps;
    std::vector<LogExpectation> logs;
    std::optional<std::uint64_t> subscriptions;  // held when the end is reached
};

struct Scenario {
    std::string name;
    std::string description;
    // The plugin's wall clock at virtual time 0 (100 ns units since 1970);
    // without it, the real time when the run starts.
    std::optional<std::int64_t> start;
    // Resources present before the plugin starts, in file order.
    std::vector<std::pair<std::string, BindingProperty>> resources;
    LcdsBehaviour lcds = LcdsBehaviour::Default();  // at the start
    std::vector<ScenarioStep> steps;                // sorted by time, file order for ties
    VirtualTime end = 0;
    ScenarioExpectations expect;
};

// Reads a scenario from a parsed document. False with `error` naming the
// offending place ("steps[2].at: ...") when the document is not a scenario.
bool ReadScenario(const BindingProperty& document, Scenario& out, std::string& error);

// Parses `text` as YAML (or as JSON when `json` is set) and reads it.
bool ParseScenario(std::string_view text, bool json, Scenario& out, std::string& error);

// Expands "3", 3 and "1..5" entries into the list of counts.
// (Exposed for tests.)
bool ReadCountList(const BindingProperty& value, std::vector<std::int64_t>& out,
                   std::string& error);

// "1..5, 7, 9..10": the counts with consecutive runs folded; "none" for none.
std::string FoldCounts(const std::vector<std::int64_t>& counts);

}  // namespace Tavo::Host
