#pragma once
// The HTTP vocabulary shared by requests in both directions: method codes and
// their names, the content types that select a body or argument format, and
// the request record an exported function may receive whole.
// Everything here is pure and thread-safe.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

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

// What a content type selects. Codes 0 to 3 double as the body format code
// of a response record.
enum class ContentFormat : std::uint32_t {
    Unsupported = 0,
    MessagePack = 1,
    Json = 2,
    Yaml = 3,
    Bytes = 4,  // raw bytes, kept as a blob (argument values only)
    Text = 5,   // the value as a string (argument values only)
};

// Content types, recognised as case-insensitive prefixes so that parameters
// ("; charset=utf-8") and extensions ("application/x-msgpack-ext") still match.
inline constexpr std::string_view kContentTypeMessagePack = "application/x-msgpack";
inline constexpr std::string_view kContentTypeJson = "application/json";
inline constexpr std::string_view kContentTypeJsonApi = "application/vnd.api+json";
inline constexpr std::string_view kContentTypeYaml = "application/x-yaml";
inline constexpr std::string_view kContentTypeYamlText = "text/x-yaml";
inline constexpr std::string_view kContentTypeOctetStream = "application/octet-stream";

// Whether `text` begins with `prefix`, ASCII letters compared without case.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// The format of a request body: the first of MessagePack, JSON
// (also "application/vnd.api+json") and YAML ("application/x-yaml") whose
// content type begins `contentType`; otherwise Unsupported.
ContentFormat BodyFormat(std::string_view contentType);

// The format an argument value's content type names: MessagePack, JSON
// ("application/json" only), YAML ("text/x-yaml" only), Bytes
// ("application/octet-stream"), else Text. Looks only at the type: detecting
// a format from the value itself is the dispatcher's concern.
ContentFormat ArgumentValueFormat(std::string_view contentType);

// The request record an exported function receives whole when its request
// parameter has one of the two request types below; built by the dispatcher
// from the host's request, owned by the call.
namespace HttpBaseTransport {

struct Request {
    // Marks the record for the binding layer: a function parameter of this
    // type (or of RemotingRequest) receives the record, not an argument.
    static constexpr bool kBindingRequestRecord = true;

    std::uintptr_t context = 0;  // the host's request context word
    // Identifies the matched function: the FNV-1a-32 hash of its name, as
    // its export records carry the name.
    std::uintptr_t functionWord = 0;
    std::int64_t receivedTicks = 0;  // system clock ticks when the call arrived
    HttpMethod method = HttpMethod::None;
    std::string methodName;  // only for HttpMethod::Named
    std::string path;
    // Header name -> value; a later header of the same name replaces an
    // earlier one.
    std::map<std::string, std::string> headers;
};

}  // namespace HttpBaseTransport

// The same record under the name most functions use; a distinct type, so
// that each has its own static type.
struct RemotingRequest : HttpBaseTransport::Request {};

}  // namespace Tavo
