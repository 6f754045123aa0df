#include "binding/HttpMethod.h"

#include <iterator>

namespace Tavo {

namespace {

constexpr const char* kMethodNames[] = {"",        "DELETE", "GET",  "HEAD",
                                        "OPTIONS", "PATCH",  "POST", "PUT"};

}  // namespace

const char* MethodName(std::uint32_t code) {
    return code < std::size(kMethodNames) ? kMethodNames[code] : "";
}

HttpMethod MethodFromHost(std::uint32_t code) {
    return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::None;
}

}  // namespace Tavo
