#include "ValidateFuzz.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "remoting/HttpMethod.h"

namespace Tavo::Host {

namespace {

// Deeper than any converter should follow, and above the depth the
// framework accepts.
constexpr int kDeepNesting = 5000;
// More elements than the framework accepts in one collection.
constexpr std::uint32_t kHugeCount = 300000;

HostValue Scalar(HostValueType type) {
    HostValue value{};
    value.type = static_cast<std::uint32_t>(type);
    return value;
}

HostValue Reference(HostValueType type, const void* pointer, std::uint32_t count) {
    HostValue value = Scalar(type);
    value.payload.ref.pointer = pointer;
    value.payload.ref.count = count;
    return value;
}

}  // namespace

const char* HostileForge::Keep(std::string text) {
    texts_.push_back(std::move(text));
    return texts_.back().c_str();
}

std::string HostileForge::RawText() {
    static constexpr std::string_view kSamples[] = {
        "",
        "SUCCEEDED",
        "Create",
        "Update",
        "Delete",
        "/vex-login/v1/session",
        "\xff\xfe\xfd",      // not UTF-8
        "\xc3\x28",          // a broken two-byte sequence
        "\xed\xa0\x80",      // an encoded surrogate
        "\xf4\x90\x80\x80",  // past U+10FFFF
        "%s%n%1%2%%",        // format directives
        "'\"\\{}[]<>",       // quoting
        "ALE-EECF0606",
        "18446744073709551616",  // past 64 bits
        "-9223372036854775809",
        "1e400",
        "NaN",
        "null",
    };
    std::string text(kSamples[Below(std::size(kSamples))]);
    switch (Below(6)) {
        case 0:
            text.push_back('\0');  // a NUL inside the text the count covers
            text += "after-nul";
            break;
        case 1:
            text.assign(1 + Below(70000), static_cast<char>('a' + Below(26)));
            break;
        case 2:
            for (std::uint32_t i = 0, n = Below(40); i < n; ++i) {
                text.push_back(static_cast<char>(Below(256)));
            }
            break;
        default:
            break;
    }
    return text;
}

const char* HostileForge::Text() {
    return Keep(RawText());
}

HostValue HostileForge::Deep(int depth) {
    // Built from the inside out: one array or map of one element per level.
    HostValue inner = Scalar(HostValueType::Null);
    const bool maps = Below(2) == 0;
    for (int i = 0; i < depth; ++i) {
        if (maps) {
            maps_.push_back({HostMapEntry{Keep("k"), inner, 0}});
            inner = Reference(HostValueType::Map, maps_.back().data(), 1);
        } else {
            arrays_.push_back({inner});
            inner = Reference(HostValueType::Array, arrays_.back().data(), 1);
        }
    }
    return inner;
}

HostValue HostileForge::Huge() {
    if (Below(2) == 0) {
        arrays_.emplace_back(kHugeCount, Scalar(HostValueType::Null));
        return Reference(HostValueType::Array, arrays_.back().data(), kHugeCount);
    }
    // A map whose keys are all the same.
    maps_.emplace_back(kHugeCount / 10, HostMapEntry{Keep("same"), Scalar(HostValueType::Null), 0});
    return Reference(HostValueType::Map, maps_.back().data(), kHugeCount / 10);
}

HostValue HostileForge::Value(int budget) {
    const std::uint32_t pick = Below(budget > 0 ? 24 : 14);
    switch (pick) {
        case 0:
            return Scalar(HostValueType::Null);
        case 1: {
            HostValue value = Scalar(HostValueType::Bool);
            value.payload.boolean = static_cast<std::uint8_t>(Below(256));
            return value;
        }
        case 2: {
            HostValue value = Scalar(HostValueType::Signed);
            static constexpr std::int64_t kEdges[] = {0, -1, 1,
                                                      std::numeric_limits<std::int64_t>::min(),
                                                      std::numeric_limits<std::int64_t>::max()};
            value.payload.i64 =
                Below(2) == 0 ? kEdges[Below(5)] : static_cast<std::int64_t>(Next());
            return value;
        }
        case 3: {
            HostValue value = Scalar(HostValueType::Unsigned);
            value.payload.u64 = Below(2) == 0 ? std::numeric_limits<std::uint64_t>::max() : Next();
            return value;
        }
        case 4: {
            HostValue value = Scalar(HostValueType::Float);
            static constexpr double kEdges[] = {std::numeric_limits<double>::quiet_NaN(),
                                                std::numeric_limits<double>::infinity(),
                                                -std::numeric_limits<double>::infinity(),
                                                std::numeric_limits<double>::denorm_min(),
                                                -0.0,
                                                1e308};
            value.payload.f64 = kEdges[Below(std::size(kEdges))];
            return value;
        }
        case 5:
        case 6: {
            texts_.push_back(RawText());
            const std::string& text = texts_.back();
            return Reference(pick == 5 ? HostValueType::StringBorrowed : HostValueType::StringOwned,
                             text.c_str(), static_cast<std::uint32_t>(text.size()));
        }
        case 7: {
            bodies_.emplace_back(Below(64));
            for (std::uint8_t& byte : bodies_.back()) {
                byte = static_cast<std::uint8_t>(Below(256));
            }
            return Reference(Below(2) == 0 ? HostValueType::BlobBorrowed : HostValueType::BlobOwned,
                             bodies_.back().data(),
                             static_cast<std::uint32_t>(bodies_.back().size()));
        }
        case 8: {
            // A foreign type code.
            HostValue value = Scalar(HostValueType::Null);
            static constexpr std::uint32_t kForeign[] = {11, 12, 255, 0x80000000u, 0xffffffffu};
            value.type = kForeign[Below(std::size(kForeign))];
            value.payload.u64 = Next();
            return value;
        }
        case 9: {
            // A null pointer, with and without a count.
            static constexpr HostValueType kTypes[] = {
                HostValueType::StringBorrowed, HostValueType::StringOwned, HostValueType::BlobOwned,
                HostValueType::Array, HostValueType::Map};
            return Reference(kTypes[Below(std::size(kTypes))], nullptr,
                             Below(2) == 0 ? 0 : 1 + Below(8));
        }
        case 10:
            // Empty array or map.
            return Reference(Below(2) == 0 ? HostValueType::Array : HostValueType::Map, nullptr, 0);
        case 11:
        case 12:
        case 13:
            return Reference(HostValueType::StringBorrowed, Keep("SUCCEEDED"), 9);
        case 14:
            if (Below(8) == 0) {
                return Deep(static_cast<int>(kDeepNesting / 2 + Below(kDeepNesting)));
            }
            return Deep(static_cast<int>(1 + Below(40)));
        case 15:
            if (Below(8) == 0) {
                return Huge();
            }
            [[fallthrough]];
        case 16:
        case 17:
        case 18: {
            const std::uint32_t count = Below(6);
            std::vector<HostValue> elements;
            for (std::uint32_t i = 0; i < count; ++i) {
                elements.push_back(Value(budget - 1 - static_cast<int>(count)));
            }
            arrays_.push_back(std::move(elements));
            return Reference(HostValueType::Array, arrays_.back().data(), count);
        }
        default: {
            const std::uint32_t count = Below(7);
            std::vector<HostMapEntry> entries;
            static constexpr const char* kKeys[] = {"state",     "accountId", "summonerId", "uri",
                                                    "eventType", "data",      "",           "id"};
            for (std::uint32_t i = 0; i < count; ++i) {
                const char* key = Below(3) == 0 ? Text() : kKeys[Below(std::size(kKeys))];
                if (Below(20) == 0) {
                    key = nullptr;  // a map entry without a key
                }
                entries.push_back(HostMapEntry{key, Value(budget - 1 - static_cast<int>(count)),
                                               static_cast<std::uint8_t>(Below(2))});
            }
            maps_.push_back(std::move(entries));
            return Reference(HostValueType::Map, maps_.back().data(), count);
        }
    }
}

HostValue HostileForge::EventPayload(const std::string& uri) {
    if (Below(4) == 0) {
        return Value();
    }
    static constexpr const char* kEventTypes[] = {"Create", "Update", "Delete"};
    std::vector<HostMapEntry> entries = {
        {"uri",
         Reference(HostValueType::StringBorrowed, Keep(uri),
                   static_cast<std::uint32_t>(uri.size())),
         0},
        {"eventType", Reference(HostValueType::StringBorrowed, kEventTypes[Below(3)], 6), 0},
        {"data", Value(), 0},
    };
    // Spoil one part: drop it, give it another kind, or a strange text.
    const std::uint32_t part = Below(3);
    switch (Below(4)) {
        case 0:
            entries.erase(entries.begin() + part);
            break;
        case 1:
            entries[part].value = Value(8);
            break;
        case 2:
            entries[part].value = Reference(HostValueType::StringBorrowed, Text(), 0);
            break;
        default:
            break;  // only the data is hostile
    }
    const auto count = static_cast<std::uint32_t>(entries.size());
    maps_.push_back(std::move(entries));
    return Reference(HostValueType::Map, maps_.back().data(), count);
}

std::string HostileForge::Segment() {
    static constexpr std::string_view kSegments[] = {
        "1",   "0",    "-1",   "abc", "%ff",   "%00",
        "%",   "..",   ".",    "",    "x%2Fy", "18446744073709551616",
        "1e9", "true", "\xff", "a b", "{id}"};
    if (Below(10) == 0) {
        return std::string(1 + Below(5000), 'z');
    }
    return std::string(kSegments[Below(std::size(kSegments))]);
}

std::string HostileForge::Target(const char* pathTemplate) {
    std::string target;
    const std::string_view route = pathTemplate != nullptr ? pathTemplate : "/";
    // Each placeholder (and sometimes a literal segment) replaced.
    std::size_t i = 0;
    while (i < route.size()) {
        if (route[i] == '{') {
            const std::size_t close = route.find('}', i);
            target += Segment();
            if (Below(6) == 0) {
                target += "/" + Segment();  // more segments than the route has
            }
            i = close == std::string_view::npos ? route.size() : close + 1;
        } else {
            target.push_back(route[i]);
            ++i;
        }
    }
    switch (Below(6)) {
        case 0:
            target += "/" + Segment();
            break;
        case 1:
            if (!target.empty()) {
                target.pop_back();
            }
            break;
        case 2:
            target = "//" + target;
            break;
        default:
            break;
    }
    if (Below(2) == 0) {
        static constexpr std::string_view kQueries[] = {
            "",   "flag",    "count=2", "count=x", "count=",
            "=1", "a=1&a=2", "%zz=%",   "&&&",     "count=99999999999999999999"};
        target += "?";
        for (std::uint32_t q = 0, n = 1 + Below(3); q < n; ++q) {
            target += (q == 0 ? "" : "&") + std::string(kQueries[Below(std::size(kQueries))]);
        }
    }
    return target;
}

HostileForge::Request HostileForge::RequestFor(const ApiExportFunctionEntry& entry) {
    Request request;
    HostRequest& record = request.record;
    const std::uint32_t routeMethod = entry.method;
    record.method = Below(3) == 0 ? routeMethod : Below(10);
    if (record.method == static_cast<std::uint32_t>(HttpMethod::Named)) {
        record.methodName = Below(2) == 0 ? Keep("ECHO") : Text();
    }
    const char* pathTemplate = entry.pathTemplate;
    record.target = Keep(Target(pathTemplate));
    record.dispatchContext = entry.function.dispatchContext;

    std::vector<HostRequestArgument> arguments;
    for (std::uint32_t i = 0, n = Below(5); i < n; ++i) {
        arguments.push_back(HostRequestArgument{Below(2) == 0 ? nullptr : Text(), Value(16)});
    }
    arguments_.push_back(std::move(arguments));
    record.arguments = arguments_.back().empty() ? nullptr : arguments_.back().data();
    record.argumentCount = static_cast<std::uint32_t>(arguments_.back().size());

    std::vector<HostHeaderPair> headers;
    static constexpr const char* kHeaders[] = {"content-type", "accept", "userid", "x", ""};
    for (std::uint32_t i = 0, n = Below(4); i < n; ++i) {
        headers.push_back(
            HostHeaderPair{Below(2) == 0 ? kHeaders[Below(std::size(kHeaders))] : Text(), Text()});
    }
    headers_.push_back(std::move(headers));
    record.headers = headers_.back().empty() ? nullptr : headers_.back().data();
    record.headerCount = static_cast<std::uint32_t>(headers_.back().size());

    static constexpr std::string_view kTypes[] = {kContentTypeJson,
                                                  kContentTypeYaml,
                                                  kContentTypeMessagePack,
                                                  kContentTypeJsonApi,
                                                  kContentTypeOctetStream,
                                                  "text/plain",
                                                  "application/json; charset=utf-16",
                                                  ""};
    const std::string_view contentType = kTypes[Below(std::size(kTypes))];
    record.contentType = Below(8) == 0 ? nullptr : Keep(std::string(contentType));
    static constexpr std::string_view kBodies[] = {"{}",
                                                   "[]",
                                                   "null",
                                                   "{\"item\": \"tea\", \"quantity\": -1}",
                                                   "{\"a\":",
                                                   "item: [x\n",
                                                   "- - - - -\n",
                                                   "\x81\xa1\x61\x01",
                                                   "\xdf\xff\xff\xff\xff",
                                                   "\xc1",
                                                   "{\"a\": 1e999}",
                                                   "\"\\ud800\"",
                                                   "&anchor *alias"};
    std::vector<std::uint8_t> body;
    if (Below(6) == 0) {
        // Random bytes.
        for (std::uint32_t i = 0, n = Below(200); i < n; ++i) {
            body.push_back(static_cast<std::uint8_t>(Below(256)));
        }
    } else if (Below(10) == 0) {
        // Nesting deeper than a reader should follow.
        const std::string deep = std::string(100000, '[');
        body.assign(deep.begin(), deep.end());
    } else {
        const std::string_view text = kBodies[Below(std::size(kBodies))];
        body.assign(text.begin(), text.end());
    }
    bodies_.push_back(std::move(body));
    if (!bodies_.back().empty() || Below(2) == 0) {
        record.body = bodies_.back().empty() ? nullptr : bodies_.back().data();
        record.bodyLength = static_cast<std::uint32_t>(bodies_.back().size());
    }
    record.context = static_cast<std::uintptr_t>(Below(1000));

    request.summary = std::string(record.method == 8 ? "named" : MethodName(record.method));
    request.summary += " ";
    request.summary += record.target;
    if (request.summary.size() > 120) {
        request.summary.resize(120);
        request.summary += "...";
    }
    return request;
}

void HostileForge::Clear() {
    texts_.clear();
    arrays_.clear();
    maps_.clear();
    arguments_.clear();
    headers_.clear();
    bodies_.clear();
}

}  // namespace Tavo::Host
