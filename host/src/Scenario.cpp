#include "Scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "formats/Yaml.h"
#include "logging/Diagnostics.h"

namespace Tavo::Host {

namespace {

using Kind = BindingProperty::Kind;

std::string Quoted(const BindingProperty& value) {
    return value.IsEmpty() ? std::string("nothing") : WriteJson(value);
}

// Whether the map has a member `key`, even one with an empty value.
bool Has(const BindingProperty& map, std::string_view key) {
    for (const auto& field : map.Fields()) {
        if (field.key.View() == key) {
            return true;
        }
    }
    return false;
}

bool Fail(std::string& error, const std::string& where, const std::string& message) {
    error = where.empty() ? message : where + ": " + message;
    return false;
}

// Refuses members other than `allowed`, so that a misspelt key is an error
// instead of being silently ignored.
bool OnlyKnownKeys(const BindingProperty& map, std::initializer_list<std::string_view> allowed,
                   const std::string& where, std::string& error) {
    for (const auto& field : map.Fields()) {
        const std::string_view key = field.key.View();
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            std::string list;
            for (std::string_view name : allowed) {
                list += list.empty() ? "" : ", ";
                list += name;
            }
            return Fail(error, where,
                        "unknown key '" + std::string(key) + "' (expected one of: " + list + ")");
        }
    }
    return true;
}

bool ReadText(const BindingProperty& value, std::string& out, const std::string& where,
              std::string& error) {
    if (value.GetKind() != Kind::String) {
        return Fail(error, where, "expected a text, got " + Quoted(value) + " (put it in quotes)");
    }
    out = std::string(value.GetString());
    return true;
}

// A whole number >= 0: an unsigned, a non-negative signed, or a text of digits.
bool ReadCount(const BindingProperty& value, std::uint64_t& out, const std::string& where,
               std::string& error) {
    switch (value.GetKind()) {
        case Kind::Unsigned:
            out = value.GetUnsigned();
            return true;
        case Kind::Signed:
            if (value.GetSigned() >= 0) {
                out = static_cast<std::uint64_t>(value.GetSigned());
                return true;
            }
            break;
        case Kind::String: {
            const std::string text(value.GetString());
            if (!text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
                    return std::isdigit(c) != 0;
                })) {
                errno = 0;
                char* end = nullptr;
                out = std::strtoull(text.c_str(), &end, 10);
                if (errno == 0) {
                    return true;
                }
            }
            break;
        }
        default:
            break;
    }
    return Fail(error, where, "expected a whole number >= 0, got " + Quoted(value));
}

bool ReadInteger(const BindingProperty& value, std::int64_t& out, const std::string& where,
                 std::string& error) {
    if (value.GetKind() == Kind::Signed) {
        out = value.GetSigned();
        return true;
    }
    if (value.GetKind() == Kind::Unsigned && value.GetUnsigned() <= INT64_MAX) {
        out = static_cast<std::int64_t>(value.GetUnsigned());
        return true;
    }
    return Fail(error, where, "expected a whole number, got " + Quoted(value));
}

bool ReadLevel(const BindingProperty& value, std::int32_t& out, const std::string& where,
               std::string& error) {
    if (value.GetKind() == Kind::String) {
        std::string text(value.GetString());
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        static const std::pair<const char*, std::int32_t> kLevels[] = {
            {"okay", 0}, {"warn", 1}, {"error", 2}, {"always", 3}};
        for (const auto& [name, level] : kLevels) {
            if (text == name) {
                out = level;
                return true;
            }
        }
    } else if (value.GetKind() == Kind::Unsigned && value.GetUnsigned() <= 3) {
        out = static_cast<std::int32_t>(value.GetUnsigned());
        return true;
    }
    return Fail(error, where,
                "expected a level (okay, warn, error, always or 0 to 3), got " + Quoted(value));
}

bool ReadLcds(const BindingProperty& value, LcdsBehaviour& out, const std::string& where,
              std::string& error) {
    const char* kForms =
        "expected 'nothing', {answer: VALUE, typeName: TEXT} or {error: TEXT, status: CODE}";
    if (value.GetKind() == Kind::String && value.GetString() == "nothing") {
        out = LcdsBehaviour{};
        out.mode = LcdsBehaviour::Mode::Nothing;
        return true;
    }
    if (value.GetKind() != Kind::Structure) {
        return Fail(error, where, std::string(kForms) + ", got " + Quoted(value));
    }
    const bool hasAnswer = Has(value, "answer");
    const bool hasError = Has(value, "error");
    if (hasAnswer == hasError) {
        return Fail(error, where, kForms);
    }
    LcdsBehaviour behaviour;
    if (hasAnswer) {
        if (!OnlyKnownKeys(value, {"answer", "typeName"}, where, error)) {
            return false;
        }
        behaviour.mode = LcdsBehaviour::Mode::Answer;
        behaviour.answer = value.Find("answer");
        if (behaviour.answer.IsEmpty()) {
            // An empty answer is the method returning nothing.
            behaviour.mode = LcdsBehaviour::Mode::Nothing;
        }
        const BindingProperty& typeName = value.Find("typeName");
        if (!typeName.IsEmpty()) {
            if (!ReadText(typeName, behaviour.typeName, where + ".typeName", error)) {
                return false;
            }
        } else {
            behaviour.typeName = BindingProperty::KindName(behaviour.answer.GetKind());
        }
    } else {
        if (!OnlyKnownKeys(value, {"error", "status"}, where, error) ||
            !ReadText(value.Find("error"), behaviour.message, where + ".error", error)) {
            return false;
        }
        behaviour.mode = LcdsBehaviour::Mode::Error;
        const BindingProperty& status = value.Find("status");
        if (!status.IsEmpty()) {
            std::uint64_t code = 0;
            if (!ReadCount(status, code, where + ".status", error)) {
                return false;
            }
            if (code < 400 || code > 599) {
                return Fail(error, where + ".status",
                            "an error status lies in 400..599, got " + std::to_string(code));
            }
            behaviour.status = static_cast<std::int32_t>(code);
        }
    }
    out = std::move(behaviour);
    return true;
}

bool ReadPath(const BindingProperty& value, std::string& out, const std::string& where,
              std::string& error) {
    if (!ReadText(value, out, where, error)) {
        return false;
    }
    if (out.empty() || out.front() != '/') {
        return Fail(error, where, "a resource path begins with '/', got '" + out + "'");
    }
    return true;
}

bool ReadStep(const BindingProperty& value, std::size_t index, ScenarioStep& step,
              std::string& error) {
    const std::string where = "steps[" + std::to_string(index) + "]";
    if (value.GetKind() != Kind::Structure) {
        return Fail(error, where, "expected a map such as {at: 90s, set: /path, value: 1}");
    }
    if (!OnlyKnownKeys(value, {"at", "set", "value", "delete", "lcds"}, where, error)) {
        return false;
    }
    step.index = index;
    const BindingProperty& at = value.Find("at");
    if (at.IsEmpty()) {
        return Fail(error, where, "every step needs 'at', its time");
    }
    if (!ParseDuration(at, step.at, error)) {
        return Fail(error, where + ".at", error);
    }
    int actions = 0;
    for (const auto& field : value.Fields()) {
        const std::string_view key = field.key.View();
        actions += key == "set" || key == "delete" || key == "lcds";
    }
    if (actions != 1) {
        return Fail(error, where, "a step does exactly one of 'set', 'delete' and 'lcds'");
    }
    const bool hasValue = Has(value, "value");
    if (Has(value, "set")) {
        step.action = ScenarioStep::Action::Set;
        if (!hasValue) {
            return Fail(error, where, "'set' needs a 'value'");
        }
        step.value = value.Find("value");
        return ReadPath(value.Find("set"), step.path, where + ".set", error);
    }
    if (hasValue) {
        return Fail(error, where, "'value' belongs to 'set'");
    }
    if (Has(value, "delete")) {
        step.action = ScenarioStep::Action::Delete;
        return ReadPath(value.Find("delete"), step.path, where + ".delete", error);
    }
    step.action = ScenarioStep::Action::Lcds;
    return ReadLcds(value.Find("lcds"), step.lcds, where + ".lcds", error);
}

bool ReadUtcTime(const BindingProperty& value, std::int64_t& seconds, const std::string& where,
                 std::string& error) {
    if (value.GetKind() != Kind::String || !ParseUtcTime(value.GetString(), seconds)) {
        return Fail(error, where,
                    Quoted(value) + " is not a UTC time such as 2024-03-05T14:00:00Z");
    }
    return true;
}

// A list of texts, or {first: TIME, every: DURATION} in whole seconds.
bool ReadTimestamps(const BindingProperty& value, TimestampExpectation& out,
                    const std::string& where, std::string& error) {
    if (value.GetKind() == Kind::Collection) {
        for (std::size_t i = 0; i < value.Size(); ++i) {
            std::string text;
            if (!ReadText(value.ElementAt(i), text, where + "[" + std::to_string(i) + "]", error)) {
                return false;
            }
            out.list.push_back(std::move(text));
        }
        return true;
    }
    if (value.GetKind() != Kind::Structure || value.Find("first").IsEmpty() ||
        value.Find("every").IsEmpty()) {
        return Fail(error, where,
                    "expected a list of texts or {first: 2024-03-05T14:01:00Z, every: 60s}");
    }
    if (!OnlyKnownKeys(value, {"first", "every"}, where, error) ||
        !ReadUtcTime(value.Find("first"), out.firstSeconds, where + ".first", error)) {
        return false;
    }
    VirtualTime every = 0;
    if (!ParseDuration(value.Find("every"), every, error)) {
        return Fail(error, where + ".every", error);
    }
    if (every % kNanosecondsPerSecond != 0) {
        return Fail(error, where + ".every", "timestamps step in whole seconds");
    }
    out.everySeconds = every / kNanosecondsPerSecond;
    return true;
}

bool ReadExpectations(const BindingProperty& value, ScenarioExpectations& out, std::string& error) {
    const std::string where = "expect";
    if (value.GetKind() != Kind::Structure) {
        return Fail(error, where, "expected a map");
    }
    if (!OnlyKnownKeys(value,
                       {"heartbeats", "failed", "answers", "accounts", "counts", "times",
                        "timestamps", "logs", "subscriptions"},
                       where, error)) {
        return false;
    }
    for (const auto& [key, name] :
         {std::pair{&out.heartbeats, "heartbeats"}, std::pair{&out.failed, "failed"},
          std::pair{&out.subscriptions, "subscriptions"}}) {
        const BindingProperty& item = value.Find(name);
        if (!item.IsEmpty()) {
            std::uint64_t number = 0;
            if (!ReadCount(item, number, where + "." + name, error)) {
                return false;
            }
            *key = number;
        }
    }
    if (const BindingProperty& answers = value.Find("answers"); !answers.IsEmpty()) {
        const std::string at = where + ".answers";
        if (answers.GetKind() != Kind::Structure) {
            return Fail(error, at, "expected a map such as {text: 3, error: 1}");
        }
        std::array<std::optional<std::uint64_t>, kHeartbeatAnswerKinds> table;
        for (const auto& field : answers.Fields()) {
            const std::string key(field.key.View());
            std::size_t kind = 0;
            while (kind < kHeartbeatAnswerKinds &&
                   key != HeartbeatAnswerName(static_cast<HeartbeatAnswer>(kind))) {
                ++kind;
            }
            if (kind == kHeartbeatAnswerKinds) {
                return Fail(
                    error, at,
                    "unknown kind of answer '" + key + "' (text, nothing, error, not convertible)");
            }
            std::uint64_t count = 0;
            if (!ReadCount(field.value, count, at + "." + key, error)) {
                return false;
            }
            table[kind] = count;
        }
        out.answers = table;
    }
    if (const BindingProperty& accounts = value.Find("accounts"); !accounts.IsEmpty()) {
        if (accounts.GetKind() != Kind::Structure) {
            return Fail(error, where + ".accounts", "expected a map of account id to count");
        }
        AccountCounts table;
        for (const auto& field : accounts.Fields()) {
            const std::string key(field.key.View());
            std::uint64_t count = 0;
            if (!ReadCount(field.value, count, where + ".accounts." + key, error)) {
                return false;
            }
            table[key] = count;
        }
        out.accounts = std::move(table);
    }
    if (const BindingProperty& counts = value.Find("counts"); !counts.IsEmpty()) {
        std::vector<std::int64_t> list;
        if (!ReadCountList(counts, list, error)) {
            return Fail(error, where + ".counts", error);
        }
        out.counts = std::move(list);
    }
    if (const BindingProperty& times = value.Find("times"); !times.IsEmpty()) {
        if (times.GetKind() != Kind::Collection) {
            return Fail(error, where + ".times", "expected a list of times");
        }
        std::vector<VirtualTime> list;
        for (std::size_t i = 0; i < times.Size(); ++i) {
            VirtualTime time = 0;
            if (!ParseDuration(times.ElementAt(i), time, error)) {
                return Fail(error, where + ".times[" + std::to_string(i) + "]", error);
            }
            list.push_back(time);
        }
        out.times = std::move(list);
    }
    if (const BindingProperty& stamps = value.Find("timestamps"); !stamps.IsEmpty()) {
        if (!ReadTimestamps(stamps, out.timestamps.emplace(), where + ".timestamps", error)) {
            return false;
        }
    }
    if (const BindingProperty& logs = value.Find("logs"); !logs.IsEmpty()) {
        if (logs.GetKind() != Kind::Collection) {
            return Fail(error, where + ".logs",
                        "expected a list such as [{level: error, contains: text, count: 1}]");
        }
        for (std::size_t i = 0; i < logs.Size(); ++i) {
            const std::string at = where + ".logs[" + std::to_string(i) + "]";
            const BindingProperty& item = logs.ElementAt(i);
            if (item.GetKind() != Kind::Structure) {
                return Fail(error, at, "expected a map such as {level: error, contains: text}");
            }
            if (!OnlyKnownKeys(item, {"level", "contains", "count"}, at, error)) {
                return false;
            }
            LogExpectation expectation;
            if (!item.Find("level").IsEmpty() &&
                !ReadLevel(item.Find("level"), expectation.level, at + ".level", error)) {
                return false;
            }
            if (!item.Find("contains").IsEmpty() &&
                !ReadText(item.Find("contains"), expectation.contains, at + ".contains", error)) {
                return false;
            }
            if (!item.Find("count").IsEmpty()) {
                std::uint64_t count = 0;
                if (!ReadCount(item.Find("count"), count, at + ".count", error)) {
                    return false;
                }
                expectation.count = count;
            }
            out.logs.push_back(std::move(expectation));
        }
    }
    return true;
}

}  // namespace

const char* HeartbeatAnswerName(HeartbeatAnswer answer) {
    switch (answer) {
        case HeartbeatAnswer::Text:
            return "text";
        case HeartbeatAnswer::Nothing:
            return "nothing";
        case HeartbeatAnswer::Error:
            return "error";
        case HeartbeatAnswer::NotConvertible:
            return "not convertible";
    }
    return "?";
}

bool ParseUtcTime(std::string_view text, std::int64_t& secondsSince1970) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    const auto number = [&](std::size_t at, std::size_t digits, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day) || !number(11, 2, hour) ||
        !number(14, 2, minute) || !number(17, 2, second)) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 ||
        day > kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    // Days since 1970-01-01 of the civil date (the proleptic Gregorian
    // calendar, March-based years so that the leap day comes last).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = std::int64_t(era) * 146097 + dayOfEra - 719468;
    secondsSince1970 = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::vector<std::string> TimestampExpectation::For(std::size_t count) const {
    if (!list.empty() || everySeconds == 0) {
        return list;
    }
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
        texts.push_back(
            Diagnostics::FormatUtcTime(firstSeconds + static_cast<std::int64_t>(i) * everySeconds));
    }
    return texts;
}

bool AccountOrder::operator()(const std::string& a, const std::string& b) const {
    const auto decimal = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    const bool aDecimal = decimal(a);
    const bool bDecimal = decimal(b);
    if (aDecimal != bDecimal) {
        return aDecimal;
    }
    if (aDecimal && a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

bool ParseDuration(const BindingProperty& value, VirtualTime& out, std::string& error) {
    const std::string usage = " (use seconds, or parts like 90s, 10m, 2h, 1h30m, 250ms, 1d)";
    constexpr double kMillisecondsPerSecond = 1000;
    double milliseconds = 0;
    switch (value.GetKind()) {
        case Kind::Unsigned:
            milliseconds = static_cast<double>(value.GetUnsigned()) * kMillisecondsPerSecond;
            break;
        case Kind::Signed:
            milliseconds = static_cast<double>(value.GetSigned()) * kMillisecondsPerSecond;
            break;
        case Kind::Float:
            milliseconds = value.GetFloat() * kMillisecondsPerSecond;
            break;
        case Kind::String: {
            const std::string text(value.GetString());
            std::size_t i = 0;
            if (text.empty()) {
                error = "an empty text is not a duration" + usage;
                return false;
            }
            while (i < text.size()) {
                const std::size_t numberBegin = i;
                while (i < text.size() &&
                       (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
                    ++i;
                }
                const std::string number = text.substr(numberBegin, i - numberBegin);
                const std::size_t unitBegin = i;
                while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
                    ++i;
                }
                const std::string unit = text.substr(unitBegin, i - unitBegin);
                char* end = nullptr;
                const double amount = number.empty() ? 0 : std::strtod(number.c_str(), &end);
                if (number.empty() || end != number.c_str() + number.size() ||
                    (unit.empty() && (numberBegin != 0 || i != text.size()))) {
                    error = "'" + text + "' is not a duration" + usage;
                    return false;
                }
                double scale = 0;
                if (unit.empty() || unit == "s") {
                    scale = 1000;
                } else if (unit == "ms") {
                    scale = 1;
                } else if (unit == "m") {
                    scale = 60e3;
                } else if (unit == "h") {
                    scale = 3600e3;
                } else if (unit == "d") {
                    scale = 86400e3;
                } else {
                    error = "'" + text + "' is not a duration: unknown unit '" + unit + "'" + usage;
                    return false;
                }
                milliseconds += amount * scale;
            }
            break;
        }
        default:
            error = Quoted(value) + " is not a duration" + usage;
            return false;
    }
    if (std::isnan(milliseconds) || milliseconds < 0 ||
        milliseconds > static_cast<double>(kMaxScenarioTime / kNanosecondsPerMillisecond)) {
        error = Quoted(value) + " is not a duration between 0 and 1000 days";
        return false;
    }
    out = static_cast<VirtualTime>(std::round(milliseconds)) * kNanosecondsPerMillisecond;
    return true;
}

bool ReadCountList(const BindingProperty& value, std::vector<std::int64_t>& out,
                   std::string& error) {
    constexpr std::int64_t kMaxRange = 1000000;
    if (value.GetKind() != Kind::Collection) {
        error = "expected a list of counts such as [1, 2, \"3..10\"]";
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < value.Size(); ++i) {
        const BindingProperty& item = value.ElementAt(i);
        std::string where = "[";
        where += std::to_string(i);
        where += ']';
        if (item.GetKind() == Kind::String) {
            const std::string text(item.GetString());
            const std::size_t dots = text.find("..");
            char* end = nullptr;
            if (dots != std::string::npos && dots > 0) {
                const std::string firstText = text.substr(0, dots);
                const std::string lastText = text.substr(dots + 2);
                errno = 0;
                const long long first = std::strtoll(firstText.c_str(), &end, 10);
                const bool firstOk = end == firstText.c_str() + firstText.size();
                const long long last = std::strtoll(lastText.c_str(), &end, 10);
                const bool lastOk = !lastText.empty() && end == lastText.c_str() + lastText.size();
                if (firstOk && lastOk && errno == 0 && first <= last && last - first < kMaxRange) {
                    for (long long n = first; n <= last; ++n) {
                        out.push_back(n);
                    }
                    continue;
                }
            }
            error = where + ": '" + text + "' is neither a count nor a range FIRST..LAST";
            return false;
        }
        std::int64_t number = 0;
        if (!ReadInteger(item, number, where, error)) {
            return false;
        }
        out.push_back(number);
    }
    return true;
}

std::string FoldCounts(const std::vector<std::int64_t>& counts) {
    if (counts.empty()) {
        return "none";
    }
    std::string text;
    for (std::size_t i = 0; i < counts.size();) {
        std::size_t j = i;
        while (j + 1 < counts.size() && counts[j + 1] == counts[j] + 1) {
            ++j;
        }
        text += text.empty() ? "" : ", ";
        text += std::to_string(counts[i]);
        if (j > i) {
            text += ".." + std::to_string(counts[j]);
        }
        i = j + 1;
    }
    return text;
}

bool ReadScenario(const BindingProperty& document, Scenario& out, std::string& error) {
    Scenario scenario;
    if (document.GetKind() != Kind::Structure) {
        return Fail(
            error, "",
            "a scenario is a map with steps, end and expect (got " + Quoted(document) + ")");
    }
    if (!OnlyKnownKeys(
            document,
            {"name", "description", "start", "resources", "lcds", "steps", "end", "expect"}, "",
            error)) {
        return false;
    }
    if (!document.Find("name").IsEmpty() &&
        !ReadText(document.Find("name"), scenario.name, "name", error)) {
        return false;
    }
    if (!document.Find("description").IsEmpty() &&
        !ReadText(document.Find("description"), scenario.description, "description", error)) {
        return false;
    }
    if (const BindingProperty& start = document.Find("start"); !start.IsEmpty()) {
        std::int64_t seconds = 0;
        if (!ReadUtcTime(start, seconds, "start", error)) {
            return false;
        }
        scenario.start = seconds * 10'000'000;
    }
    if (const BindingProperty& resources = document.Find("resources"); !resources.IsEmpty()) {
        if (resources.GetKind() != Kind::Structure) {
            return Fail(error, "resources", "expected a map of path to value");
        }
        for (const auto& field : resources.Fields()) {
            const std::string path(field.key.View());
            if (path.empty() || path.front() != '/') {
                return Fail(error, "resources",
                            "a resource path begins with '/', got '" + path + "'");
            }
            scenario.resources.emplace_back(path, field.value);
        }
    }
    if (const BindingProperty& lcds = document.Find("lcds"); !lcds.IsEmpty()) {
        if (!ReadLcds(lcds, scenario.lcds, "lcds", error)) {
            return false;
        }
    }
    if (const BindingProperty& steps = document.Find("steps"); !steps.IsEmpty()) {
        if (steps.GetKind() != Kind::Collection) {
            return Fail(error, "steps", "expected a list of steps");
        }
        for (std::size_t i = 0; i < steps.Size(); ++i) {
            ScenarioStep step;
            if (!ReadStep(steps.ElementAt(i), i, step, error)) {
                return false;
            }
            scenario.steps.push_back(std::move(step));
        }
        std::stable_sort(scenario.steps.begin(), scenario.steps.end(),
                         [](const ScenarioStep& a, const ScenarioStep& b) { return a.at < b.at; });
    }
    if (const BindingProperty& end = document.Find("end"); !end.IsEmpty()) {
        if (!ParseDuration(end, scenario.end, error)) {
            return Fail(error, "end", error);
        }
    } else {
        return Fail(error, "", "a scenario needs 'end', the virtual time at which it stops");
    }
    for (const ScenarioStep& step : scenario.steps) {
        if (step.at > scenario.end) {
            return Fail(error, "steps[" + std::to_string(step.index) + "].at",
                        FormatVirtualTime(step.at) + " lies after the end " +
                            FormatVirtualTime(scenario.end));
        }
    }
    if (const BindingProperty& expect = document.Find("expect"); !expect.IsEmpty()) {
        if (!ReadExpectations(expect, scenario.expect, error)) {
            return false;
        }
    }
    out = std::move(scenario);
    return true;
}

bool ParseScenario(std::string_view text, bool json, Scenario& out, std::string& error) {
    BindingResult parsed = json ? ParseJson(std::string(text)) : ParseYaml(text);
    if (!parsed.IsOk()) {
        error = std::string(parsed.ErrorMessage());
        return false;
    }
    return ReadScenario(parsed.Value(), out, error);
}

}  // namespace Tavo::Host
