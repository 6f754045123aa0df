#pragma once
// Assembling the arguments of one call to an exported function from the
// parts of a request: headers, path parameters, query, the host's argument
// entries and the body.
//
// Named sources (a header, a path parameter, a query parameter) give a name
// and a value text. The name's part before its first "." names the argument;
// the rest addresses into it, segment by segment: a segment starting with a
// digit is an element index (read as strtoul reads it, base detected, so
// "0x1f" is 31), any other segment a field; both are created when missing.
// The value text is decoded into what the name reaches (DecodeArgumentValue).
// A step goes only through an empty value or a container of its own kind
// (an index into a collection, a name into a structure): addressing that
// would replace what an earlier source set is refused, naming the argument.
// A name whose argument part is empty ("?=5", "?.x=5") is refused too.
//
// Every failure is recorded in the failure slot with its message; the first
// one stops all later work on the call.
//
// Threading: one object per call. [any-thread]

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingProperty.h"
#include "binding/BindingRegistry.h"

namespace Tavo {

// Element indices of one request may create at most this many new elements
// in all, so that a request cannot make the plugin allocate without bound
// ("?items.4000000000=1"). An index beyond the budget is out of range.
inline constexpr std::size_t kMaxCreatedElements = 65536;

class RemotingCallArguments {
public:
    // One empty value per declared argument; a bool that is not optional
    // starts as false. `function` must outlive this object.
    explicit RemotingCallArguments(const BindingFunctionDescriptor& function);

    // Ok until the first failure, then failed with its message.
    BindingResult& Slot() { return slot_; }
    bool IsOk() const { return slot_.IsOk(); }
    // The argument values, in declaration order.
    const std::vector<BindingProperty>& Values() const { return values_; }

    // Applies a named source found at `source` (Header, Path or Query).
    void ApplyText(std::string_view name, std::string_view value, BindingArgumentLocation source);

    // Applies the host's argument entry number `index`: by exact name, or,
    // when `name` is null, by position (`index` + `pathParameterCount`).
    void ApplyHostArgument(const char* name, const HostValue& value, std::size_t index,
                           std::size_t pathParameterCount);

    // Decodes a request body by its content type into the first argument
    // located in the body; does nothing when there is no such argument.
    void ApplyBody(const void* body, std::size_t length, std::string_view contentType);

private:
    // Index of the argument named `name`, or the argument count.
    std::size_t FindArgument(std::string_view name) const;
    // Follows the dotted path of `name` that begins at `start` from `value`;
    // null when the slot failed.
    BindingProperty* Address(BindingProperty& value, std::string_view name, std::size_t start);
    void SetFromText(BindingProperty& target, std::string_view text,
                     const BindingFunctionArgument& argument, bool detect);

    const BindingFunctionDescriptor& function_;
    std::vector<BindingProperty> values_;
    BindingResult slot_;
    std::size_t elementsLeft_ = kMaxCreatedElements;
};

// The query of a request target: the text after its first "?" split at every
// "&", each piece at its first "=" into name and value (no "=": an empty
// value), both URL-decoded. A repeated name keeps its last value. Empty
// pieces and a lone "=" are ignored; an empty name with a value is kept
// (under the empty name) for the call to refuse.
std::map<std::string, std::string> ParseQuery(std::string_view target);

// Decodes an argument's value text. By content type first (compared as a
// case-insensitive prefix): MessagePack ("application/x-msgpack"), JSON
// ("application/json"), YAML ("text/x-yaml"), raw bytes as a blob
// ("application/octet-stream"). With an empty content type and `detect`, the
// text itself decides: a first byte that opens a MessagePack map or array
// (0x80..0x9F, 0xDC..0xDF), a first non-blank "{" or "[" (JSON), a leading
// "---" after blanks (YAML). Anything else is the text as a string. A parse
// failure fails the result with "Couldn't deserialize <format> value for
// parameter '<argument>' of '<function>': <parser's message>".
BindingResult DecodeArgumentValue(std::string_view text, std::string_view contentType, bool detect,
                                  std::string_view argumentName, std::string_view functionName);

}  // namespace Tavo
