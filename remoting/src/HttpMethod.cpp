#include "remoting/HttpMethod.h"

#include <cstddef>

namespace Tavo {

namespace {

constexpr const char* kMethodNames[] = {"",        "DELETE", "GET",  "HEAD",
                                        "OPTIONS", "PATCH",  "POST", "PUT"};

constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const char* MethodName(std::uint32_t code) {
    return code < std::size(kMethodNames) ? kMethodNames[code] : "";
}

HttpMethod MethodFromHost(std::uint32_t code) {
    return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::None;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

ContentFormat BodyFormat(std::string_view contentType) {
    if (StartsWithIgnoringCase(contentType, kContentTypeMessagePack)) {
        return ContentFormat::MessagePack;
    }
    if (StartsWithIgnoringCase(contentType, kContentTypeJson) ||
        StartsWithIgnoringCase(contentType, kContentTypeJsonApi)) {
        return ContentFormat::Json;
    }
    if (StartsWithIgnoringCase(contentType, kContentTypeYaml)) {
        return ContentFormat::Yaml;
    }
    return ContentFormat::Unsupported;
}

ContentFormat ArgumentValueFormat(std::string_view contentType) {
    if (StartsWithIgnoringCase(contentType, kContentTypeMessagePack)) {
        return ContentFormat::MessagePack;
    }
    if (StartsWithIgnoringCase(contentType, kContentTypeJson)) {
        return ContentFormat::Json;
    }
    if (StartsWithIgnoringCase(contentType, kContentTypeYamlText)) {
        return ContentFormat::Yaml;
    }
    if (StartsWithIgnoringCase(contentType, kContentTypeOctetStream)) {
        return ContentFormat::Bytes;
    }
    return ContentFormat::Text;
}

}  // namespace Tavo
