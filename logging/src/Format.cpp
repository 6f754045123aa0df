// The positional formatter's core and the render operations of its built-in
// argument types.

#include "logging/Format.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace Tavo {
namespace {

// A directive that reaches this many characters is not a conversion.
constexpr std::size_t kSpecLimit = 60;

// Why: a width or precision only changes what lies within the buffer or a
// little past it (a double's exact decimal expansion ends within 1100
// digits), but a hostile `*` value of a billion makes vsnprintf pad or print
// for seconds. Fields are cut to the capacity plus this slack.
constexpr std::int64_t kFieldSlack = 1100;
constexpr std::int64_t kFieldCeiling = 0x3FFFFFFF;

// Reads decimal digits at `p`, saturating at INT_MAX; returns the end.
const char* ReadNumber(const char* p, std::int64_t& value) {
    value = 0;
    while (*p >= '0' && *p <= '9') {
        value = std::min<std::int64_t>(value * 10 + (*p - '0'), INT_MAX);
        ++p;
    }
    return p;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Writes the decimal digits of `value` (0 <= value < 2^31); returns their count.
std::size_t AppendNumber(char* out, std::int64_t value) {
    char digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

// Builds the printf directive for `context` with the given conversion
// and length modifier, widths and precisions cut to the field ceiling.
// `spec` holds at least 96 bytes.
void BuildSpec(const FormatContext& context, char conversion, const char* modifier,
               std::int64_t precisionOverride, char* spec) {
    const std::int64_t limit =
        std::min<std::int64_t>(static_cast<std::int64_t>(std::min<std::size_t>(
                                   context.written + context.spaceLeft, kFieldCeiling)) +
                                   kFieldSlack,
                               kFieldCeiling);
    char* p = spec;
    *p++ = '%';
    static constexpr struct {
        unsigned bit;
        char flag;
    } kFlags[] = {{kFormatLeft, '-'},
                  {kFormatPlus, '+'},
                  {kFormatSpace, ' '},
                  {kFormatAlternate, '#'},
                  {kFormatZero, '0'}};
    for (const auto& each : kFlags) {
        if ((context.flags & each.bit) != 0) {
            *p++ = each.flag;
        }
    }
    if (context.hasWidth) {
        p += AppendNumber(p, std::min(context.width, limit));
    }
    const std::int64_t precision = precisionOverride >= 0 ? precisionOverride
                                   : context.hasPrecision ? context.precision
                                                          : -1;
    if (precision >= 0) {
        *p++ = '.';
        p += AppendNumber(p, std::min(precision, limit));
    }
    for (; *modifier != '\0'; ++modifier) {
        *p++ = *modifier;
    }
    *p++ = conversion;
    *p = '\0';
}

// The conversion that stays: the type's default for the bare form or for a
// conversion outside the allowed set.
char FixConversion(const FormatContext& context, const char* allowed) {
    if (context.bare || context.conversion == '\0' ||
        std::strchr(allowed, context.conversion) == nullptr) {
        return allowed[0];
    }
    return context.conversion;
}

template <class T>
std::size_t Print(FormatContext& context, const char* spec, T value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(context.out, context.spaceLeft, spec, value);
#pragma GCC diagnostic pop
    return length < 0 ? FormatDetail::kRenderFailed : static_cast<std::size_t>(length);
}

// Integers: the length modifier always matches the value handed over, so a
// modifier from the format can never make vsnprintf read a different size.
// "h" and "hh" keep their meaning (the value is converted as printf would);
// a 64-bit value otherwise prints whole with "ll"; "%c" takes an int.
template <class Int>
std::size_t RenderInteger(FormatContext& context, const char* allowed) {
    const Int value = *static_cast<const Int*>(context.value);
    const char conversion = FixConversion(context, allowed);
    const bool shortModifier = !context.bare && context.lengthModifier[0] == 'h';
    using Narrow = std::conditional_t<std::is_signed_v<Int>, int, unsigned>;
    using Wide = std::conditional_t<std::is_signed_v<Int>, long long, unsigned long long>;
    char spec[96];
    if (conversion == 'c') {
        BuildSpec(context, conversion, "", -1, spec);
        return Print(context, spec, static_cast<int>(value));
    }
    if (shortModifier) {
        BuildSpec(context, conversion, context.lengthModifier, -1, spec);
        return Print(context, spec, static_cast<Narrow>(value));
    }
    if constexpr (sizeof(Int) == 8) {
        BuildSpec(context, conversion, "ll", -1, spec);
        return Print(context, spec, static_cast<Wide>(value));
    } else {
        BuildSpec(context, conversion, "", -1, spec);
        return Print(context, spec, static_cast<Narrow>(value));
    }
}

std::size_t RenderInt32(FormatContext& context) {
    return RenderInteger<std::int32_t>(context, "dciouxX");
}
std::size_t RenderUInt32(FormatContext& context) {
    return RenderInteger<std::uint32_t>(context, "ucdioxX");
}
std::size_t RenderInt64(FormatContext& context) {
    return RenderInteger<std::int64_t>(context, "dciouxX");
}
std::size_t RenderUInt64(FormatContext& context) {
    return RenderInteger<std::uint64_t>(context, "ucdioxX");
}

std::size_t RenderDouble(FormatContext& context) {
    char spec[96];
    BuildSpec(context, FixConversion(context, "gaefGAEF"), "", -1, spec);
    return Print(context, spec, *static_cast<const double*>(context.value));
}

std::size_t RenderCString(FormatContext& context) {
    const char* text = *static_cast<const char* const*>(context.value);
    return FormatDetail::RenderText(context, text != nullptr ? text : "(null)");
}

std::size_t RenderStdString(FormatContext& context) {
    const auto& text = *static_cast<const std::string*>(context.value);
    return FormatDetail::RenderText(context, std::string_view(text));
}

std::size_t RenderStringView(FormatContext& context) {
    return FormatDetail::RenderText(context, *static_cast<const std::string_view*>(context.value));
}

std::size_t RenderFailureValue(FormatContext& context) {
    return FormatDetail::RenderFailure(context, *static_cast<const Failure*>(context.value));
}

template <class Int>
std::int32_t IntegerAsInt(const void* value) {
    // Wider values give their low 32 bits.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*static_cast<const Int*>(value)));
}

}  // namespace

namespace FormatDetail {

const FormatArgDescriptor kInt32{&RenderInt32, &IntegerAsInt<std::int32_t>, true};
const FormatArgDescriptor kUInt32{&RenderUInt32, &IntegerAsInt<std::uint32_t>, true};
const FormatArgDescriptor kInt64{&RenderInt64, &IntegerAsInt<std::int64_t>, true};
const FormatArgDescriptor kUInt64{&RenderUInt64, &IntegerAsInt<std::uint64_t>, true};
const FormatArgDescriptor kDouble{&RenderDouble, nullptr, false};
const FormatArgDescriptor kCString{&RenderCString, nullptr, false};
const FormatArgDescriptor kStdString{&RenderStdString, nullptr, false};
const FormatArgDescriptor kStringView{&RenderStringView, nullptr, false};
const FormatArgDescriptor kFailure{&RenderFailureValue, nullptr, false};

std::size_t RenderText(FormatContext& context, std::string_view text) {
    // The text is handed over with a precision no larger than its size, so
    // vsnprintf never looks for a NUL past its end; a precision from the
    // format still cuts it further.
    std::int64_t precision = static_cast<std::int64_t>(text.size());
    if (context.hasPrecision && context.precision >= 0) {
        precision = std::min(precision, context.precision);
    }
    precision = std::min<std::int64_t>(precision, kFieldCeiling);
    if (!context.hasWidth) {
        // Without a field to pad, "%.*s" is a copy up to the precision or a NUL.
        const char* data = text.data() != nullptr ? text.data() : "";
        const void* nul = std::memchr(data, '\0', static_cast<std::size_t>(precision));
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data)
                           : static_cast<std::size_t>(precision);
        const std::size_t copied = std::min(length, context.spaceLeft - 1);
        std::memcpy(context.out, data, copied);
        context.out[copied] = '\0';
        return length;
    }
    char spec[96];
    BuildSpec(context, 's', "", precision, spec);
    return Print(context, spec, text.data() != nullptr ? text.data() : "");
}

std::size_t RenderFailure(FormatContext& context, const Failure& failure) {
    if (failure.Message() == nullptr) {
        return RenderText(context, "");
    }
    char text[4096];
    const std::size_t length =
        FormatInto(text, sizeof text, "%1 (%2)", failure.Message(), failure.Code());
    return RenderText(context, std::string_view(text, length));
}

}  // namespace FormatDetail

namespace {

// One conversion directive being read from the format. Parsing fails
// (and formatting stops) when the collected directive reaches the limit.
class SpecParser {
public:
    SpecParser(const char* at, std::size_t count, std::size_t& sequential)
        : p_(at), count_(count), sequential_(sequential) {}

    // Parses the directive starting at the '%' under `p_`. Returns false
    // when it is too long. Afterwards Rest() is the format after it.
    bool Parse(FormatContext& context) {
        Append(*p_++);  // '%'
        if (*p_ >= '1' && *p_ <= '9') {
            std::int64_t number = 0;
            const char* q = ReadNumber(p_, number);
            if (Existing(number) != 0) {
                argument_ = Existing(number);
                if (*q != '$') {
                    // "%N": complete; nothing after the digits is consumed.
                    p_ = q;
                    context.bare = true;
                    return true;
                }
                p_ = q + 1;
            }
            // Otherwise the digits are read again below, as a width.
        }
        while (*p_ != '\0' && std::strchr("-+ #0", *p_) != nullptr) {
            context.flags |= FlagBit(*p_);
            if (!Append(*p_++)) {
                return false;
            }
        }
        if (!Field(context.hasWidth, context.width, widthStar_)) {
            return false;
        }
        if (*p_ == '.') {
            context.hasPrecision = true;
            if (!Append(*p_++) || !Field(context.hasPrecision, context.precision, precisionStar_)) {
                return false;
            }
        }
        if (*p_ != '\0' && std::strchr("Ljtz", *p_) != nullptr) {
            context.lengthModifier[0] = *p_;
            if (!Append(*p_++)) {
                return false;
            }
        } else if (*p_ == 'h' || *p_ == 'l') {
            context.lengthModifier[0] = *p_;
            if (!Append(*p_++)) {
                return false;
            }
            if (*p_ == context.lengthModifier[0]) {
                context.lengthModifier[1] = *p_;
                if (!Append(*p_++)) {
                    return false;
                }
            }
        }
        // A directive cut off by the end of the format ("n=%-5", "%08.3",
        // "%l") has no conversion character: the render operation appends the
        // type's default after what was read ("%-5" prints as "%-5d").
        // Why: taking its last character as the conversion and replacing it,
        // as for a foreign conversion, would eat a digit of the width or
        // precision or a flag ("%-5" would print as "%-d"); the bare "%" at
        // the end is the same rule with nothing read.
        if (*p_ != '\0') {
            context.conversion = *p_;
            if (!Append(*p_++)) {
                return false;
            }
        }
        if (argument_ == 0) {
            argument_ = sequential_++;
        }
        context.bare = length_ == 1;  // a lone '%' at the end of the format
        return true;
    }

    const char* Rest() const { return p_; }
    const char* Spec() {
        spec_[length_] = '\0';
        return spec_;
    }
    std::size_t SpecLength() const { return length_; }
    std::size_t Argument() const { return argument_; }
    std::size_t WidthStar() const { return widthStar_; }
    std::size_t PrecisionStar() const { return precisionStar_; }

private:
    bool Append(char c) {
        spec_[length_++] = c;
        return length_ < kSpecLimit;
    }

    // The argument `number` names, or 0 when there is none; a '$' number
    // naming no argument becomes count + 1, which fails the checks.
    std::size_t Existing(std::int64_t number) const {
        return number >= 1 && static_cast<std::uint64_t>(number) <= count_
                   ? static_cast<std::size_t>(number)
                   : 0;
    }

    static unsigned FlagBit(char c) {
        switch (c) {
            case '-':
                return kFormatLeft;
            case '+':
                return kFormatPlus;
            case ' ':
                return kFormatSpace;
            case '#':
                return kFormatAlternate;
            default:
                return kFormatZero;
        }
    }

    // A width or precision: "*", "*N$" (N names the argument) or digits.
    bool Field(bool& has, std::int64_t& value, std::size_t& star) {
        if (*p_ == '*') {
            has = true;
            if (!Append(*p_++)) {
                return false;
            }
            std::int64_t number = 0;
            const char* q = ReadNumber(p_, number);
            if (q != p_ && *q == '$') {
                star = Existing(number) != 0 ? Existing(number) : count_ + 1;
                p_ = q + 1;
            } else {
                p_ = q;  // digits without '$' are dropped
                star = sequential_++;
            }
            return true;
        }
        const char* start = p_;
        while (IsDigit(*p_)) {
            if (!Append(*p_++)) {
                return false;
            }
        }
        if (p_ != start) {
            has = true;
            ReadNumber(start, value);
        }
        return true;
    }

    const char* p_;
    std::size_t count_;
    std::size_t& sequential_;
    char spec_[kSpecLimit + 1];
    std::size_t length_ = 0;
    std::size_t argument_ = 0;
    std::size_t widthStar_ = 0;
    std::size_t precisionStar_ = 0;
};

// The `*` value of argument `source`, when it exists and is an integer.
bool StarValue(std::size_t source, std::size_t count, const FormatArgDescriptor* const* descriptors,
               const void* const* values, std::int32_t& value) {
    if (source == 0 || source > count) {
        return false;
    }
    const FormatArgDescriptor* descriptor = descriptors[source - 1];
    if (descriptor == nullptr || !descriptor->usableAsStar || descriptor->asInt == nullptr) {
        return false;
    }
    value = descriptor->asInt(values[source - 1]);
    return true;
}

}  // namespace

std::size_t FormatInto(char* out, std::size_t capacity, const char* format,
                       const FormatArgDescriptor* const* descriptors, const void* const* values,
                       std::size_t count) {
    if (out == nullptr || capacity == 0) {
        return 0;
    }
    if (descriptors == nullptr || values == nullptr) {
        count = 0;
    }
    char* const begin = out;
    char* const end = out + capacity;
    std::size_t sequential = 1;
    const char* f = format != nullptr ? format : "";

    while (*f != '\0' && out < end) {
        if (*f != '%') {
            *out++ = *f++;
            continue;
        }
        if (f[1] == '%') {
            *out++ = '%';
            f += 2;
            continue;
        }
        FormatContext context;
        SpecParser parser(f, count, sequential);
        if (!parser.Parse(context)) {
            break;
        }
        f = parser.Rest();

        const std::size_t argument = parser.Argument();
        if (argument == 0 || argument > count || descriptors[argument - 1] == nullptr ||
            descriptors[argument - 1]->render == nullptr) {
            break;
        }
        if (parser.WidthStar() != 0) {
            std::int32_t width = 0;
            if (!StarValue(parser.WidthStar(), count, descriptors, values, width)) {
                break;
            }
            // A negative `*` width left-justifies, as in printf.
            if (width < 0) {
                context.flags |= kFormatLeft;
            }
            context.width = width < 0 ? -static_cast<std::int64_t>(width) : width;
        }
        if (parser.PrecisionStar() != 0) {
            std::int32_t precision = 0;
            if (!StarValue(parser.PrecisionStar(), count, descriptors, values, precision)) {
                break;
            }
            context.precision = precision;
        }
        if (context.conversion == 'n') {
            continue;  // never performed: nothing is written
        }

        context.out = out;
        context.written = static_cast<std::size_t>(out - begin);
        context.spaceLeft = static_cast<std::size_t>(end - out);
        context.spec = parser.Spec();
        context.specLength = parser.SpecLength();
        context.value = values[argument - 1];
        const std::size_t length = descriptors[argument - 1]->render(context);
        if (length == FormatDetail::kRenderFailed) {
            break;
        }
        out = length < context.spaceLeft ? out + length : end;
    }

    const std::size_t length = std::min(static_cast<std::size_t>(out - begin), capacity - 1);
    begin[length] = '\0';
    return length;
}

}  // namespace Tavo
