#pragma once
// Routes of exported functions: URL templates, their matching, and the
// choice of the route that serves a request.
//
// A URL template is a path with placeholders:
//   "{name}"   one path segment, possibly empty      (regular expression "([^/]*)")
//   "{+name}"  the rest of the path, slashes included ("(.*)")
//   "{#name}"  "#" and everything after it          ("#(.*)")
// "+" and "#" are operators only as the first character inside the braces;
// anywhere else they belong to the name. A "{" without a closing "}" is
// literal text, like every character outside braces.
//
// Why not a regular-expression engine: matching must stay linear in the path
// length and must not recurse per character (std::regex overflows the stack
// on long paths). A template compiles into a short list of tokens instead;
// matching fills a table of which suffixes each remaining token list can
// match, then takes every placeholder as long as the rest still matches.
// That is exactly the full match, with the captures, that a backtracking
// engine gives the equivalent regular expression (Pattern()), in
// O(tokens × path length) time and bits, without recursion.
//
// Threading: compiled templates and routes are immutable; matching is
// [any-thread].

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Tavo {

struct BindingFunctionDescriptor;

class UrlTemplate {
public:
    explicit UrlTemplate(std::string_view text);

    // The template as declared.
    const std::string& Text() const { return text_; }
    // The equivalent regular expression: placeholders translated as above,
    // each of "^$.*+?()[]|\" outside braces escaped with a backslash.
    const std::string& Pattern() const { return pattern_; }
    // Placeholder names, in order of appearance.
    const std::vector<std::string>& Names() const { return names_; }
    // Without placeholders a template matches only its own text.
    bool IsLiteral() const { return names_.empty(); }

    // Whether the whole of `path` matches. On success `captures` holds one
    // view into `path` per placeholder, in order (otherwise it is cleared).
    bool Match(std::string_view path, std::vector<std::string_view>& captures) const;

private:
    enum class TokenKind : std::uint8_t {
        Literal,
        Segment,  // [^/]*
        Rest,     // .*
    };
    struct Token {
        TokenKind kind;
        std::string literal;  // Literal only
    };

    std::string text_;
    std::string pattern_;
    std::vector<std::string> names_;
    std::vector<Token> tokens_;
};

// Decodes a URL component: "+" becomes a blank, "%" and two hexadecimal
// digits become that byte, a "%" with fewer than two characters after it is
// dropped; everything else is kept as it is ("%zz" stays).
std::string UrlDecode(std::string_view text);

// The route of one exported function.
struct RemotingRoute {
    RemotingRoute(const BindingFunctionDescriptor& function);

    const BindingFunctionDescriptor* function;
    std::uint32_t method;    // 1..8, or 0: every method
    std::string methodName;  // for method 8
    bool getOnly;            // serves GET and HEAD only
    UrlTemplate path;
};

// The route chosen for a request, with its placeholders' values.
struct RouteMatch {
    const RemotingRoute* route = nullptr;
    // Placeholder name -> URL-decoded value; a repeated name keeps the last.
    std::map<std::string, std::string> parameters;
    // Number of placeholders the route captured (repeated names included).
    std::size_t captureCount = 0;
};

// Chooses the route for a request among `routes` (in registration order):
// a route restricted to GET and HEAD is skipped for other methods; the method
// must agree (route method 0 accepts all; code 8 compares the names too; a
// HEAD request agrees with a GET route restricted to GET and HEAD, which
// then runs as for GET); the path must match in full. Among matches the one whose captured values
// add up to fewer characters wins (the more literal route; the earlier on a tie), and a match
// without placeholders ends the search. `method` is a host code (MethodFromHost applied); `path` is
// the request target without its query. Returns a match with a null route when none fits.
RouteMatch SelectRoute(std::span<const RemotingRoute* const> routes, std::uint32_t method,
                       std::string_view methodName, std::string_view path);

}  // namespace Tavo
