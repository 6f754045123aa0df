// std::regex is only the reference the matcher is compared with here. GCC 12
// warns, wrongly, about its own internals at -O1 (the asan build).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "remoting/RemotingRoute.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "remoting/HttpMethod.h"

namespace Tavo {
namespace {

// Whether `path` matches `compiled`, and its captures.
std::pair<bool, std::vector<std::string>> Match(const UrlTemplate& compiled,
                                                std::string_view path) {
    std::vector<std::string_view> views;
    const bool matched = compiled.Match(path, views);
    return {matched, {views.begin(), views.end()}};
}

TEST(UrlTemplate, TranslatesPlaceholdersAndEscapesEverySpecialCharacter) {
    struct Row {
        const char* text;
        const char* pattern;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"/items/{id}/parts/{+rest}", "/items/([^/]*)/parts/(.*)", {"id", "rest"}},
        {"/doc{#frag}", "/doc#(.*)", {"frag"}},
        {"/a.b", "/a\\.b", {}},
        {"^$.*+?()[]|\\", "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\", {}},
        // The operator is only the first character inside the braces.
        {"/{a+b}/{+c#}", "/([^/]*)/(.*)", {"a+b", "c#"}},
        {"/{}", "/([^/]*)", {""}},
        // An unclosed brace is literal text.
        {"/x/{id", "/x/{id", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const UrlTemplate compiled(row.text);
        EXPECT_EQ(compiled.Pattern(), row.pattern);
        EXPECT_EQ(compiled.Names(), row.names);
        EXPECT_EQ(compiled.IsLiteral(), row.names.empty());
    }
}

// The matcher stands in for a regular-expression engine: on every pair below
// it must agree with std::regex on the translated pattern (whole paths only,
// earlier placeholders taking as much as the rest allows), captures included.
TEST(UrlTemplate, AgreesWithARegularExpressionEngine) {
    const char* templates[] = {
        "/{a}",    "/{+a}",           "/{a}/{+b}",  "/{+a}/{b}",   "/{+a}/{+b}",
        "/x{#f}",  "/{a}.{b}",        "/{+a}.{+b}", "/{+a}.{b}",   "/{a}{b}/{c}",
        "/{a}{b}", "/p.{a}+(q)/{+b}", "{+a}#{b}",   "/items/{id}", "/items/{id}/parts/{+rest}",
        "/a.b",    "/doc{#frag}"};
    const char* paths[] = {"",         "/",          "/x",          "/x/",
                           "/x/y",     "/x/y/z",     "/a.b",        "/axb",
                           "/a.b/c.d", "/x#f",       "/x#f/g",      "//",
                           "/xy",      "/p.v+(q)/w", "/p.v+(q)",    "a#b",
                           "/x/y#z/w", "/.../..",    "/v1.2/f.txt", "/items/",
                           "/items/7", "/doc",       "/doc#top/x",  "/items/7/parts/a/b"};
    std::size_t matches = 0;
    for (const char* text : templates) {
        const UrlTemplate compiled(text);
        const std::regex regex(compiled.Pattern());
        for (const char* path : paths) {
            SCOPED_TRACE(std::string(text) + " ~ " + path);
            std::cmatch expected;
            const bool regexMatched = std::regex_match(path, expected, regex);
            const auto [matched, captures] = Match(compiled, path);
            ASSERT_EQ(matched, regexMatched);
            if (!matched) {
                continue;
            }
            ++matches;
            ASSERT_EQ(captures.size() + 1, expected.size());
            for (std::size_t i = 0; i < captures.size(); ++i) {
                EXPECT_EQ(captures[i], expected[i + 1].str());
            }
        }
    }
    EXPECT_GT(matches, 50u);  // not agreement on matching nothing
}

TEST(UrlTemplate, MatchesAHundredKibibytePathWithoutRecursion) {
    const std::string tail(100 * 1024, 'a');
    const auto [matched, captures] = Match(UrlTemplate("/files/{+path}"), "/files/" + tail);
    ASSERT_TRUE(matched);
    EXPECT_EQ(captures.front().size(), tail.size());
    // A long segment that fails only at its very end.
    EXPECT_EQ(Match(UrlTemplate("/s/{a}.{b}"), "/s/" + tail + "/"),
              std::make_pair(false, std::vector<std::string>{}));
}

TEST(UrlDecode, DecodesPlusAndPercentEscapesKeepingMalformedOnes) {
    const std::pair<const char*, std::string> rows[] = {
        {"%41", "A"},      {"a+b", "a b"}, {"%2f%2F", "//"},   {"%zz", "%zz"},
        {"%4", "4"},       {"x%", "x"},    {"%00", {"\0", 1}}, {"%e2%82%ac", "\xe2\x82\xac"},
        {"100%25", "100%"}};
    for (const auto& [text, decoded] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(UrlDecode(text), decoded);
    }
}

std::unique_ptr<BindingFunctionDescriptor> Function(std::string name, HttpMethod method,
                                                    std::string path, std::uint8_t flags = 0,
                                                    std::string methodName = {}) {
    auto function = std::make_unique<BindingFunctionDescriptor>();
    function->name = std::move(name);
    function->method = method;
    function->urlTemplate = std::move(path);
    function->routeFlags = flags;
    function->methodName = std::move(methodName);
    return function;
}

const char* Chosen(std::span<const RemotingRoute* const> routes, HttpMethod method,
                   std::string_view path, std::string_view methodName = {}) {
    const RouteMatch match =
        SelectRoute(routes, static_cast<std::uint32_t>(method), methodName, path);
    return match.route == nullptr ? "none" : match.route->function->name.c_str();
}

TEST(SelectRoute, TheMoreLiteralRouteWinsWhateverTheOrderWithDecodedParameters) {
    const auto pattern = Function("pattern", HttpMethod::Get, "/x/{id}");
    const auto literal = Function("literal", HttpMethod::Get, "/x/special");
    const auto shorter = Function("shorter", HttpMethod::Get, "/x/s{rest}");
    const RemotingRoute a(*pattern), b(*literal), c(*shorter);
    const std::vector<const RemotingRoute*> orders[] = {{&a, &b, &c}, {&b, &a, &c}, {&c, &a, &b}};
    for (const auto& routes : orders) {
        EXPECT_STREQ(Chosen(routes, HttpMethod::Get, "/x/special"), "literal");
        EXPECT_STREQ(Chosen(routes, HttpMethod::Get, "/x/other"), "pattern");
        EXPECT_STREQ(Chosen(routes, HttpMethod::Get, "/x/sun"), "shorter");
    }
    // Equal lengths: the earlier route stays.
    const auto other = Function("other", HttpMethod::Get, "/x/{name}");
    const RemotingRoute d(*other);
    const std::vector<const RemotingRoute*> tie{&d, &a};
    EXPECT_STREQ(Chosen(tie, HttpMethod::Get, "/x/7"), "other");

    // The parameters, decoded under their names; a repeated name keeps the last.
    const auto repeated = Function("repeated", HttpMethod::None, "/{id}/{id}/{name}");
    const RemotingRoute e(*repeated);
    const RouteMatch match =
        SelectRoute(std::vector<const RemotingRoute*>{&e}, 2, {}, "/1/%41/a+b");
    EXPECT_EQ(match.captureCount, 3u);
    EXPECT_EQ(match.parameters, (std::map<std::string, std::string>{{"id", "A"}, {"name", "a b"}}));
}

TEST(SelectRoute, MethodsMustAgree) {
    const auto any = Function("any", HttpMethod::None, "/any");
    const auto post = Function("post", HttpMethod::Post, "/post");
    const auto named = Function("named", HttpMethod::Named, "/named", 0, "PURGE");
    const auto getOnly = Function("getOnly", HttpMethod::None, "/read", kBindingRouteGetOnly);
    const auto get = Function("get", HttpMethod::Get, "/get");
    const auto getAndHead =
        Function("getAndHead", HttpMethod::Get, "/search", kBindingRouteGetOnly);
    const auto headOnly = Function("headOnly", HttpMethod::Head, "/head", kBindingRouteGetOnly);
    const RemotingRoute r1(*any), r2(*post), r3(*named), r4(*getOnly), r5(*get), r6(*getAndHead),
        r7(*headOnly);
    const std::vector<const RemotingRoute*> routes{&r1, &r2, &r3, &r4, &r5, &r6, &r7};
    struct Row {
        HttpMethod method;
        const char* methodName;
        const char* path;
        const char* chosen;
    };
    const Row rows[] = {
        {HttpMethod::Delete, "", "/any", "any"},
        {HttpMethod::Post, "", "/post", "post"},
        {HttpMethod::Put, "", "/post", "none"},
        {HttpMethod::Named, "PURGE", "/named", "named"},
        {HttpMethod::Named, "purge", "/named", "none"},
        {HttpMethod::Get, "", "/named", "none"},
        {HttpMethod::Get, "", "/read", "getOnly"},
        {HttpMethod::Head, "", "/read", "getOnly"},
        {HttpMethod::Post, "", "/read", "none"},
        {HttpMethod::Delete, "", "/read", "none"},
        // A GET route flagged for GET and HEAD takes HEAD too; an unflagged
        // one does not, and the flag lets no other method in.
        {HttpMethod::Get, "", "/search", "getAndHead"},
        {HttpMethod::Head, "", "/search", "getAndHead"},
        {HttpMethod::Post, "", "/search", "none"},
        {HttpMethod::Put, "", "/search", "none"},
        {HttpMethod::Named, "GET", "/search", "none"},
        {HttpMethod::Get, "", "/get", "get"},
        {HttpMethod::Head, "", "/get", "none"},
        // HEAD is not taken as GET the other way round.
        {HttpMethod::Head, "", "/head", "headOnly"},
        {HttpMethod::Get, "", "/head", "none"},
        {HttpMethod::Get, "", "/nowhere", "none"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(MethodName(row.method)) + row.methodName + " " + row.path);
        EXPECT_STREQ(Chosen(routes, row.method, row.path, row.methodName), row.chosen);
    }
}

}  // namespace
}  // namespace Tavo
