#pragma once
// The positional message formatter.
//
// A format holds numbered placeholders "%1".."%N" (rendered by the argument
// type's default conversion) and printf conversions, positional ("%2$08x") or
// sequential ("%s"); each conversion is rendered by vsnprintf with one value
// after its directive has been fixed up for the argument's type. The
// formatter never fails: whatever cannot be formatted ends the output there.
// No heap allocation happens while formatting; `Format` allocates only the
// returned text. Thread-safe: no state is kept between calls.
//
// Fix-up of a conversion for its argument's type: "%N" and a lone "%" take
// the type's default ("%d", "%lld", "%u", "%llu", "%g", "%s"); a conversion
// outside the type's allowed set becomes that default; "%n" writes nothing.
// The length modifier handed to vsnprintf always matches the value passed, so
// a format can never make it read the wrong size: 64-bit integers print whole
// ("ll"), "h"/"hh" keep printf's narrowing, "%c" takes an int, doubles and
// texts take none. A directive cut off by the end of the format gets the
// default conversion appended. Widths and precisions are cut to the capacity
// plus 1100, which keeps a hostile `*` value from padding for seconds.
//
// Supported argument types: 32/64-bit signed and unsigned integers (narrower
// integers and enums widen to 32 bits), double (and float), `const char*`
// (null renders as "(null)"), std::string, std::string_view, `MaybeType`
// over `Failure` ("Success" or "message (code)"), `Failure` itself, and any
// record with a text form of its own (a `ToText()` member returning text).

#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/Failure.h"

namespace Tavo {

struct FormatContext;

// How one argument type is rendered. One constant per supported type.
struct FormatArgDescriptor {
    // Writes the value for the conversion in `context`; returns the number of
    // characters the full rendering has (as vsnprintf does), or
    // FormatDetail::kRenderFailed, which stops formatting there.
    std::size_t (*render)(FormatContext& context);
    // The value as a 32-bit signed integer, for a `*` width or precision.
    std::int32_t (*asInt)(const void* value);
    // Whether `asInt` is meaningful (the type may supply a `*` value).
    bool usableAsStar;
};

// The core. Formats `format` with `count` arguments (descriptor and value
// pointer per argument) into `out`, which holds `capacity` bytes
// (capacity >= 1). Always writes a terminating NUL; returns the number of
// characters before it (at most capacity - 1). Pass `count` as std::size_t:
// other argument types select the typed front end below instead.
std::size_t FormatInto(char* out, std::size_t capacity, const char* format,
                       const FormatArgDescriptor* const* descriptors, const void* const* values,
                       std::size_t count);

// Typed front ends (defined in detail/FormatArgs.h): map each argument to its
// descriptor and call the core.
template <class... Args>
std::size_t FormatInto(char* out, std::size_t capacity, const char* format, const Args&... args);

// Formats into a 4096-byte stack buffer and returns the text (at most 4095
// characters).
template <class... Args>
std::string Format(const char* format, const Args&... args);

// A failure with code 0 whose message is Format(format, args...).
template <class... Args>
Failure MakeFailure(const char* format, const Args&... args);

}  // namespace Tavo

#include "logging/detail/FormatArgs.h"
