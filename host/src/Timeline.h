#pragma once
// The timeline of a run: one line per thing that crossed the boundary (or
// that the scenario did), written as it happens, so that a plugin that ends
// the process still leaves everything up to that point on the output.
//
// Text lines read
//   +00:01:00.000  lcds       loginService.performLCDSHeartBeat(9, "", 1, "...") -> "ok"
// JSON lines carry the same as one object per line:
//   {"kind":"lcds","seconds":60.0,"text":"...","time":"+00:01:00.000", ...details}
//
// Threading: Add may be called from any thread (log lines and scheduling
// can come from a plugin's own threads); lines never interleave. [any-thread]

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "Scheduler.h"
#include "binding/BindingProperty.h"

namespace Tavo::Host {

enum class TimelineFormat { Text, JsonLines };

class Timeline {
public:
    // Writes to `out` (not owned; must outlive the timeline). A quiet
    // timeline counts its lines but writes none.
    Timeline(std::FILE* out, TimelineFormat format, bool quiet = false)
        : out_(out), format_(format), quiet_(quiet) {}

    // One line at virtual `time`: `kind` a short word ("lcds", "log", ...),
    // `text` the readable details. The members of `details` (a structure, or
    // empty) are added to the JSON line; "kind", "seconds", "text" and "time"
    // take precedence over members of the same name.
    void Add(VirtualTime time, std::string_view kind, std::string_view text,
             const BindingProperty& details = BindingProperty::EmptyValue());

    // A line outside the timeline (the summary, expectation results): text as
    // is, or JSON as one object.
    void Write(std::string_view text, const BindingProperty& json);

    TimelineFormat Format() const { return format_; }
    std::size_t LineCount() const;

private:
    std::FILE* out_;
    TimelineFormat format_;
    bool quiet_;
    mutable std::mutex mutex_;  // guards the writes and lines_
    std::size_t lines_ = 0;
};

// `text` as a JSON string literal, quotes included.
std::string QuoteJson(std::string_view text);

}  // namespace Tavo::Host
