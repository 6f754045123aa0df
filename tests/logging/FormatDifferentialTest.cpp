// printf conversions through FormatInto must print exactly what snprintf prints
// for the same directive after the type fix-up: a conversion outside the
// type's allowed set becomes its default, and the length modifier is the one
// that matches the value handed over ("ll" for 64-bit integers, "h"/"hh"
// kept for integers, none for "%c", doubles and texts).

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "logging/Format.h"

namespace {

struct Spec {
    std::string flags;
    std::string width;      // "", digits or "*"
    std::string precision;  // "", ".", ".N" or ".*"
    std::string modifier;
    char conversion;
};

std::vector<Spec> GenerateSpecs() {
    const char* flags[] = {"", "-", "+", " ", "#", "0", "-0", "+ ", "#0", "-+ #0"};
    // A sequential width must not start like an argument number ("%1d" is "%1").
    const char* widths[] = {"", "7", "12", "*"};
    const char* precisions[] = {"", ".", ".0", ".2", ".*"};
    const char* modifiers[] = {"", "hh", "h", "l", "ll", "L", "j", "z", "t"};
    const char conversions[] = "diouxXcsgGeEfFaA%yp";
    std::vector<Spec> specs;
    std::size_t index = 0;
    for (const char* f : flags) {
        for (const char* w : widths) {
            for (const char* p : precisions) {
                for (const char* c = conversions; *c != '\0'; ++c) {
                    // Every modifier meets every conversion across the table.
                    specs.push_back({f, w, p, modifiers[(index * 7 + 3) % 9], *c});
                    ++index;
                }
            }
        }
    }
    return specs;
}

enum class Kind { Integer, Double, Text };

struct TypeRules {
    const char* allowed;  // first is the default
    Kind kind;
    bool wide;  // a 64-bit integer
};

// The fixed-up directive, written from the rules independently of the
// formatter, with '*' kept for snprintf to take from its arguments.
std::string FixedUp(const Spec& spec, const TypeRules& rules, char& conversion) {
    conversion =
        std::strchr(rules.allowed, spec.conversion) != nullptr ? spec.conversion : rules.allowed[0];
    std::string modifier;
    if (rules.kind == Kind::Integer && conversion != 'c') {
        if (spec.modifier == "h" || spec.modifier == "hh") {
            modifier = spec.modifier;
        } else if (rules.wide) {
            modifier = "ll";
        }
    }
    return "%" + spec.flags + spec.width + spec.precision + modifier + conversion;
}

// snprintf with the star values the directive asks for, then the value.
template <class V>
std::string Reference(const std::string& spec, bool widthStar, int width, bool precisionStar,
                      int precision, V value, std::size_t capacity) {
    std::vector<char> buffer(capacity);
    int length = 0;
    if (widthStar && precisionStar) {
        length = std::snprintf(buffer.data(), capacity, spec.c_str(), width, precision, value);
    } else if (widthStar) {
        length = std::snprintf(buffer.data(), capacity, spec.c_str(), width, value);
    } else if (precisionStar) {
        length = std::snprintf(buffer.data(), capacity, spec.c_str(), precision, value);
    } else {
        length = std::snprintf(buffer.data(), capacity, spec.c_str(), value);
    }
    if (length < 0) {
        return "<error>";
    }
    return std::string(buffer.data(), std::min<std::size_t>(std::size_t(length), capacity - 1));
}

// Calls `use` with what snprintf is handed for `value` under the fixed-up
// conversion: an int for "%c" and "h"/"hh", the whole 64-bit value otherwise.
template <class T, class Use>
std::string WithHanded(const T& value, const TypeRules& rules, const Spec& spec, char conversion,
                       Use use) {
    if constexpr (std::is_integral_v<T>) {
        using Narrow = std::conditional_t<std::is_signed_v<T>, int, unsigned>;
        using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
        if (conversion == 'c') {
            return use(static_cast<int>(value));
        }
        if (spec.modifier == "h" || spec.modifier == "hh" || !rules.wide) {
            return use(static_cast<Narrow>(value));
        }
        return use(static_cast<Wide>(value));
    } else if constexpr (std::is_same_v<T, std::string>) {
        return use(value.c_str());
    } else {
        return use(value);
    }
}

template <class T>
std::string Actual(const std::string& format, bool positional, bool widthStar, int width,
                   bool precisionStar, int precision, const T& value, std::size_t capacity) {
    std::vector<char> buffer(capacity);
    std::size_t length = 0;
    if (positional) {
        length = Tavo::FormatInto(buffer.data(), capacity, format.c_str(), width, precision, value);
    } else if (widthStar && precisionStar) {
        length = Tavo::FormatInto(buffer.data(), capacity, format.c_str(), width, precision, value);
    } else if (widthStar) {
        length = Tavo::FormatInto(buffer.data(), capacity, format.c_str(), width, value);
    } else if (precisionStar) {
        length = Tavo::FormatInto(buffer.data(), capacity, format.c_str(), precision, value);
    } else {
        length = Tavo::FormatInto(buffer.data(), capacity, format.c_str(), value);
    }
    return std::string(buffer.data(), length);
}

template <class T>
void CheckAgainstSnprintf(const std::vector<T>& values, const TypeRules& rules) {
    static const std::vector<Spec> specs = GenerateSpecs();
    std::size_t row = 0;
    for (const Spec& spec : specs) {
        if (spec.conversion == 'p') {
            continue;  // replaced like any other foreign conversion; 'p' would need a pointer
        }
        const bool widthStar = spec.width == "*";
        const bool precisionStar = spec.precision == ".*";
        const int width = row % 2 == 0 ? 6 : -6;      // a negative width left-justifies
        const int precision = row % 3 == 0 ? -1 : 2;  // a negative precision is omitted
        ++row;
        char conversion = 0;
        const std::string fixed = FixedUp(spec, rules, conversion);
        const std::string sequential =
            "%" + spec.flags + spec.width + spec.precision + spec.modifier + spec.conversion;
        const std::string positional = "%3$" + spec.flags + (widthStar ? "*1$" : spec.width) +
                                       (precisionStar ? ".*2$" : spec.precision) + spec.modifier +
                                       spec.conversion;
        for (const T& value : values) {
            for (std::size_t capacity : {std::size_t(128), std::size_t(4)}) {
                const std::string expected =
                    WithHanded(value, rules, spec, conversion, [&](auto handed) {
                        return Reference(fixed, widthStar, width, precisionStar, precision, handed,
                                         capacity);
                    });
                SCOPED_TRACE("spec " + sequential + " fixed " + fixed + " capacity " +
                             std::to_string(capacity));
                EXPECT_EQ(Actual(sequential, false, widthStar, width, precisionStar, precision,
                                 value, capacity),
                          expected);
                EXPECT_EQ(Actual(positional, true, widthStar, width, precisionStar, precision,
                                 value, capacity),
                          expected);
            }
        }
    }
}

TEST(FormatDifferential, SignedIntegersPrintAsSnprintf) {
    CheckAgainstSnprintf<std::int32_t>({0, -42, 65, INT_MIN, INT_MAX},
                                       {"dciouxX", Kind::Integer, false});
}

TEST(FormatDifferential, UnsignedIntegersPrintAsSnprintf) {
    CheckAgainstSnprintf<std::uint32_t>({0u, 255u, 4000000000u}, {"ucdioxX", Kind::Integer, false});
}

TEST(FormatDifferential, SixtyFourBitIntegersPrintWhole) {
    CheckAgainstSnprintf<std::int64_t>(
        {-5, 5'000'000'000, std::numeric_limits<std::int64_t>::min()},
        {"dciouxX", Kind::Integer, true});
    CheckAgainstSnprintf<std::uint64_t>({1u, std::numeric_limits<std::uint64_t>::max()},
                                        {"ucdioxX", Kind::Integer, true});
}

TEST(FormatDifferential, DoublesPrintAsSnprintf) {
    CheckAgainstSnprintf<double>({0.5, -1e20, 1.0 / 3, -0.0, 1e-310, INFINITY, NAN, 123456789.125},
                                 {"gaefGAEF", Kind::Double, false});
}

TEST(FormatDifferential, TextsPrintAsSnprintf) {
    CheckAgainstSnprintf<std::string>({"", "hello", "a longer text"}, {"s", Kind::Text, false});
}

}  // namespace
