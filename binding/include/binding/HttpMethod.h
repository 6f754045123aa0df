#pragma once
// HTTP method codes, as passed to and received from the host, and their
// names. Exported functions route by them; the dispatcher and the request
// helpers read and write them. Pure and thread-safe.

#include <cstdint>

namespace Tavo {

// HTTP method codes, as passed to and received from the host.
enum class HttpMethod : std::uint32_t {
    None = 0,
    Delete = 1,
    Get = 2,
    Head = 3,
    Options = 4,
    Patch = 5,
    Post = 6,
    Put = 7,
    Named = 8,  // a method named by text; the request carries the name
};

// "DELETE" .. "PUT" for codes 1 to 7; "" for 8 and every other code.
// The text is static.
const char* MethodName(std::uint32_t code);
inline const char* MethodName(HttpMethod method) {
    return MethodName(static_cast<std::uint32_t>(method));
}

// A code received from the host: 1 to 8 unchanged, anything else None.
HttpMethod MethodFromHost(std::uint32_t code);

}  // namespace Tavo
