#pragma once
// The typed front ends of the positional formatter: how each argument type
// maps to its descriptor and value pointer. Included by logging/Format.h only.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "logging/Failure.h"

namespace Tavo {

// Flag characters of a conversion directive, as bits of FormatContext::flags.
enum FormatFlag : unsigned {
    kFormatLeft = 0x01,       // '-'
    kFormatPlus = 0x02,       // '+'
    kFormatSpace = 0x04,      // ' '
    kFormatAlternate = 0x08,  // '#'
    kFormatZero = 0x10,       // '0'
};

// One conversion, parsed by the core and handed to the argument type's render
// operation, which fixes the directive up for its type and writes the
// value. Lives on the core's stack for the duration of one render call.
struct FormatContext {
    char* out = nullptr;         // where this conversion writes
    std::size_t written = 0;     // characters already in the buffer before `out`
    std::size_t spaceLeft = 0;   // bytes from `out` to the buffer's end (>= 1, NUL included)
    const char* spec = nullptr;  // the directive as collected, NUL-terminated
    std::size_t specLength = 0;  // < 60
    // Parsed parts of `spec`. `bare` is the "%N" placeholder (or a lone "%"):
    // the type's default conversion with its own length modifier.
    bool bare = false;
    unsigned flags = 0;  // FormatFlag bits
    bool hasWidth = false;
    std::int64_t width = 0;  // `*` already resolved; never negative (a negative `*` sets '-')
    bool hasPrecision = false;
    std::int64_t precision = 0;  // `*` already resolved; negative means "as if omitted"
    char lengthModifier[3] = {};
    char conversion = 0;          // 0 when the format ended before a conversion character
    const void* value = nullptr;  // the argument, as described by its descriptor
};

namespace FormatDetail {

// What a render operation returns when vsnprintf itself refused; the core
// stops there and keeps what was written before.
inline constexpr std::size_t kRenderFailed = static_cast<std::size_t>(-1);

// Renders `text` (not necessarily NUL-terminated) for the conversion in
// `context` as "%s" would render a string holding it.
std::size_t RenderText(FormatContext& context, std::string_view text);
// Renders a failure as "message (code)", or the empty text when its message
// is a null literal.
std::size_t RenderFailure(FormatContext& context, const Failure& failure);

// Descriptors of the built-in argument types. The value pointer points at an
// object of the named type (for kCString: at the `const char*`).
extern const FormatArgDescriptor kInt32;       // std::int32_t
extern const FormatArgDescriptor kUInt32;      // std::uint32_t
extern const FormatArgDescriptor kInt64;       // std::int64_t
extern const FormatArgDescriptor kUInt64;      // std::uint64_t
extern const FormatArgDescriptor kDouble;      // double
extern const FormatArgDescriptor kCString;     // const char* (null renders "(null)")
extern const FormatArgDescriptor kStdString;   // std::string
extern const FormatArgDescriptor kStringView;  // std::string_view
extern const FormatArgDescriptor kFailure;     // Tavo::Failure

template <class T>
struct IsFailureResult : std::false_type {};
template <class T>
struct IsFailureResult<MaybeType<Failure, T>> : std::true_type {};

template <class T>
concept HasToText = requires(const T& value) {
    {value.ToText()};
}
&&(std::convertible_to<decltype(std::declval<const T&>().ToText()), std::string_view> ||
   std::convertible_to<decltype(std::declval<const T&>().ToText()), const char*>);

template <class T>
std::size_t RenderResult(FormatContext& context) {
    const T& result = *static_cast<const T*>(context.value);
    if (result.IsFailure()) {
        return RenderFailure(context, result.Error());
    }
    return RenderText(context, "Success");
}

template <class T>
std::size_t RenderToText(FormatContext& context) {
    // The text form lives until this render returns.
    decltype(auto) text = static_cast<const T*>(context.value)->ToText();
    if constexpr (std::is_convertible_v<decltype(text), const char*>) {
        const char* chars = text;
        return RenderText(context, chars != nullptr ? std::string_view(chars) : "(null)");
    } else {
        return RenderText(context, std::string_view(text));
    }
}

template <class T>
inline constexpr FormatArgDescriptor kResultOf{&RenderResult<T>, nullptr, false};
template <class T>
inline constexpr FormatArgDescriptor kToTextOf{&RenderToText<T>, nullptr, false};

template <class T>
inline constexpr bool kUnsupported = false;

// The stored form of an argument for the duration of one call: integers,
// enums and floats widen to the formatter's four integer types and double,
// character arrays become bounded views, character pointers are copied, and
// everything else is referred to by address.
template <class T>
auto Store(const T& value) {
    using D = std::remove_cv_t<T>;
    if constexpr (std::is_enum_v<D>) {
        return Store(static_cast<std::underlying_type_t<D>>(value));
    } else if constexpr (std::is_same_v<D, bool>) {
        return static_cast<std::int32_t>(value);
    } else if constexpr (std::is_integral_v<D>) {
        if constexpr (sizeof(D) <= 4) {
            if constexpr (std::is_signed_v<D>) {
                return static_cast<std::int32_t>(value);
            } else {
                return static_cast<std::uint32_t>(value);
            }
        } else if constexpr (std::is_signed_v<D>) {
            return static_cast<std::int64_t>(value);
        } else {
            return static_cast<std::uint64_t>(value);
        }
    } else if constexpr (std::is_floating_point_v<D>) {
        return static_cast<double>(value);
    } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
        return static_cast<const char*>(nullptr);
    } else if constexpr (std::is_array_v<D>) {
        static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<D>>, char>,
                      "Format: only character arrays are supported");
        // A character array need not hold a NUL: never read past its end.
        return std::string_view(value, strnlen(value, std::extent_v<D>));
    } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
        return static_cast<const char*>(value);
    } else {
        return &value;
    }
}

template <class S>
const FormatArgDescriptor* DescriptorOf() {
    if constexpr (std::is_same_v<S, std::int32_t>) {
        return &kInt32;
    } else if constexpr (std::is_same_v<S, std::uint32_t>) {
        return &kUInt32;
    } else if constexpr (std::is_same_v<S, std::int64_t>) {
        return &kInt64;
    } else if constexpr (std::is_same_v<S, std::uint64_t>) {
        return &kUInt64;
    } else if constexpr (std::is_same_v<S, double>) {
        return &kDouble;
    } else if constexpr (std::is_same_v<S, const char*>) {
        return &kCString;
    } else if constexpr (std::is_same_v<S, std::string_view> ||
                         std::is_same_v<S, const std::string_view*>) {
        return &kStringView;
    } else if constexpr (std::is_same_v<S, const std::string*>) {
        return &kStdString;
    } else if constexpr (std::is_same_v<S, const Failure*>) {
        return &kFailure;
    } else if constexpr (std::is_pointer_v<S> &&
                         IsFailureResult<std::remove_cv_t<std::remove_pointer_t<S>>>::value) {
        return &kResultOf<std::remove_cv_t<std::remove_pointer_t<S>>>;
    } else if constexpr (std::is_pointer_v<S> &&
                         HasToText<std::remove_cv_t<std::remove_pointer_t<S>>>) {
        return &kToTextOf<std::remove_cv_t<std::remove_pointer_t<S>>>;
    } else {
        static_assert(kUnsupported<S>, "Format: unsupported argument type");
        return nullptr;
    }
}

// The value pointer of a stored argument: objects referred to by address are
// passed as that address, stored copies by their own address.
template <class S>
const void* AddressOf(const S& stored) {
    if constexpr (std::is_pointer_v<S> && std::is_class_v<std::remove_pointer_t<S>>) {
        return stored;
    } else {
        return &stored;
    }
}

}  // namespace FormatDetail

template <class... Args>
std::size_t FormatInto(char* out, std::size_t capacity, const char* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        const FormatArgDescriptor* const* noDescriptors = nullptr;
        const void* const* noValues = nullptr;
        return FormatInto(out, capacity, format, noDescriptors, noValues, std::size_t{0});
    } else {
        const std::tuple<decltype(FormatDetail::Store(args))...> stored{
            FormatDetail::Store(args)...};
        return std::apply(
            [&](const auto&... each) {
                const FormatArgDescriptor* const descriptors[] = {
                    FormatDetail::DescriptorOf<std::remove_cvref_t<decltype(each)>>()...};
                const void* const values[] = {FormatDetail::AddressOf(each)...};
                const FormatArgDescriptor* const* descriptorList = descriptors;
                const void* const* valueList = values;
                return FormatInto(out, capacity, format, descriptorList, valueList,
                                  std::size_t{sizeof...(Args)});
            },
            stored);
    }
}

template <class... Args>
std::string Format(const char* format, const Args&... args) {
    char buffer[4096];
    const std::size_t length = FormatInto(buffer, sizeof buffer, format, args...);
    return std::string(buffer, length);
}

template <class... Args>
Failure MakeFailure(const char* format, const Args&... args) {
    return Failure(0, Format(format, args...));
}

}  // namespace Tavo
