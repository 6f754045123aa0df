#include "remoting/RemotingRoute.h"

#include <cstring>

#include "binding/BindingRegistry.h"
#include "remoting/HttpMethod.h"

namespace Tavo {

namespace {

constexpr std::string_view kEscaped = "^$.*+?()[]|\\";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

UrlTemplate::UrlTemplate(std::string_view text) : text_(text) {
    auto appendLiteral = [this](std::string_view literal) {
        for (char c : literal) {
            if (kEscaped.find(c) != std::string_view::npos) {
                pattern_ += '\\';
            }
            pattern_ += c;
        }
        if (tokens_.empty() || tokens_.back().kind != TokenKind::Literal) {
            tokens_.push_back({TokenKind::Literal, {}});
        }
        tokens_.back().literal.append(literal);
    };

    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('{', i);
        const std::size_t close =
            open == std::string_view::npos ? std::string_view::npos : text.find('}', open + 1);
        if (close == std::string_view::npos) {
            appendLiteral(text.substr(i));
            break;
        }
        if (open > i) {
            appendLiteral(text.substr(i, open - i));
        }
        std::string_view inside = text.substr(open + 1, close - open - 1);
        if (!inside.empty() && inside.front() == '+') {
            pattern_ += "(.*)";
            tokens_.push_back({TokenKind::Rest, {}});
            inside.remove_prefix(1);
        } else if (!inside.empty() && inside.front() == '#') {
            pattern_ += "#(.*)";
            if (tokens_.empty() || tokens_.back().kind != TokenKind::Literal) {
                tokens_.push_back({TokenKind::Literal, {}});
            }
            tokens_.back().literal += '#';
            tokens_.push_back({TokenKind::Rest, {}});
            inside.remove_prefix(1);
        } else {
            pattern_ += "([^/]*)";
            tokens_.push_back({TokenKind::Segment, {}});
        }
        names_.emplace_back(inside);
        i = close + 1;
    }
}

bool UrlTemplate::Match(std::string_view path, std::vector<std::string_view>& captures) const {
    captures.clear();
    if (IsLiteral()) {
        return path == text_;
    }
    const std::size_t n = path.size();
    const std::size_t count = tokens_.size();
    // matches[k * (n + 1) + i]: tokens k.. match path[i..n) in full. Row
    // `count` (no tokens left) matches only the empty suffix.
    std::vector<bool> matches((count + 1) * (n + 1), false);
    auto at = [n](std::size_t k, std::size_t i) { return k * (n + 1) + i; };
    matches[at(count, n)] = true;
    for (std::size_t k = count; k-- > 0;) {
        const Token& token = tokens_[k];
        const std::size_t length = token.literal.size();
        for (std::size_t i = n + 1; i-- > 0;) {
            bool match = false;
            switch (token.kind) {
                case TokenKind::Literal:
                    match = length <= n - i && matches[at(k + 1, i + length)] &&
                            path.compare(i, length, token.literal) == 0;
                    break;
                case TokenKind::Segment:
                    match =
                        matches[at(k + 1, i)] || (i < n && path[i] != '/' && matches[at(k, i + 1)]);
                    break;
                case TokenKind::Rest:
                    match = matches[at(k + 1, i)] || (i < n && matches[at(k, i + 1)]);
                    break;
            }
            matches[at(k, i)] = match;
        }
    }
    if (!matches[at(0, 0)]) {
        return false;
    }
    // Each placeholder takes the longest text after which the remaining
    // tokens still match, as a greedy backtracking engine would.
    std::size_t i = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Token& token = tokens_[k];
        if (token.kind == TokenKind::Literal) {
            i += token.literal.size();
            continue;
        }
        std::size_t end = n;
        if (token.kind == TokenKind::Segment) {
            const std::size_t slash = path.find('/', i);
            end = slash == std::string_view::npos ? n : slash;
        }
        while (!matches[at(k + 1, end)]) {
            --end;  // stops at i at the latest: matches[at(k, i)] holds
        }
        captures.push_back(path.substr(i, end - i));
        i = end;
    }
    return true;
}

std::string UrlDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c != '%') {
            decoded += c;
        } else if (text.size() - i < 3) {
            // A "%" with fewer than two characters after it is dropped.
        } else if (const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
                   high >= 0 && low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

RemotingRoute::RemotingRoute(const BindingFunctionDescriptor& described)
    : function(&described),
      method(static_cast<std::uint32_t>(MethodFromHost(described.method))),
      methodName(described.methodName),
      getOnly((described.routeFlags & kBindingRouteGetOnly) != 0),
      path(described.urlTemplate) {}

RouteMatch SelectRoute(std::span<const RemotingRoute* const> routes, std::uint32_t method,
                       std::string_view methodName, std::string_view path) {
    const auto get = static_cast<std::uint32_t>(HttpMethod::Get);
    const auto head = static_cast<std::uint32_t>(HttpMethod::Head);
    const bool getOrHead = method == get || method == head;
    RouteMatch best;
    std::size_t bestLength = 0;
    std::vector<std::string_view> captures;
    for (const RemotingRoute* route : routes) {
        if (route->getOnly && !getOrHead) {
            continue;
        }
        // Why: a route flagged for GET and HEAD advertises HEAD, so a HEAD
        // request must reach it even though its method code says GET.
        const bool headOnGetRoute = route->getOnly && route->method == get && method == head;
        if (route->method != 0 && !headOnGetRoute &&
            (route->method != method || (method == static_cast<std::uint32_t>(HttpMethod::Named) &&
                                         route->methodName != methodName))) {
            continue;
        }
        if (!route->path.Match(path, captures)) {
            continue;
        }
        std::size_t length = 0;
        for (std::string_view capture : captures) {
            length += capture.size();
        }
        if (best.route != nullptr && length >= bestLength) {
            continue;
        }
        best.route = route;
        best.captureCount = captures.size();
        best.parameters.clear();
        const std::vector<std::string>& names = route->path.Names();
        for (std::size_t i = 0; i < captures.size(); ++i) {
            best.parameters[names[i]] = UrlDecode(captures[i]);
        }
        bestLength = length;
        if (captures.empty()) {
            break;
        }
    }
    return best;
}

}  // namespace Tavo
