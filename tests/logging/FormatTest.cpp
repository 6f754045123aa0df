// Rendering of "%N" placeholders and printf conversions for every argument
// type, and where formatting stops.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "logging/Format.h"

namespace {

using Tavo::Failure;
using Tavo::Format;
using Tavo::FormatInto;
using Tavo::Maybe;

struct Row {
    const char* what;
    std::string actual;
    std::string expected;
};

void Check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.actual, row.expected);
    }
}

// Records with a text form of their own, as owned text or as a static text.
struct Version {
    std::string ToText() const { return "18.2.1-beta+7"; }
};
struct PluginKind {
    const char* ToText() const { return "backend"; }
};

enum class Color : std::uint8_t { Red = 3 };
enum Small : std::int16_t { kMinusTwo = -2 };

TEST(Format, PlaceholdersUseTheTypeDefault) {
    Check({
        {"texts", Format("Value %1 for '%2' of type %3 is out of range", "300", "level", "uint8"),
         "Value 300 for 'level' of type uint8 is out of range"},
        {"64-bit and unsigned", Format("%1 %2 %3", std::int64_t{-5}, UINT64_MAX, 4000000000u),
         "-5 18446744073709551615 4000000000"},
        {"double, and float widens", Format("%1 %2 %3", 0.5, 1e20, 0.25f), "0.5 1e+20 0.25"},
        {"reordered and repeated", Format("%2 %1-%1", "a", "b"), "b a-a"},
        {"letters after the number stay text", Format("%1st", "fir"), "first"},
        {"enums, narrow integers and bools widen",
         Format("%1 %2 %3 %4 %5", Color::Red, kMinusTwo, std::int8_t(-3), std::uint16_t(65535),
                true),
         "3 -2 -3 65535 1"},
    });
}

TEST(Format, TextsResultsAndFailures) {
    const char* nullText = nullptr;
    const char notTerminated[4] = {'a', 'b', 'c', 'd'};
    const std::string_view view = std::string_view("viewed-and-more").substr(0, 6);
    const Maybe<void> failed = Failure(3, "Timed out");
    Check({
        {"null pointer", Format("[%1|%1$8s]", nullText), "[(null)|  (null)]"},
        {"std::string, array without NUL", Format("%1 %2", std::string("own"), notTerminated),
         "own abcd"},
        {"view stops at its end", Format("%1|%1$.3s|%1$8s", view), "viewed|vie|  viewed"},
        {"embedded NUL ends the text", Format("%1", std::string("ab\0cd", 5)), "ab"},
        {"records with a text form", Format("v%1 %2|%2$8s", Version{}, PluginKind{}),
         "v18.2.1-beta+7 backend| backend"},
        {"success, value", Format("%1 %2", Maybe<void>::Success(), Maybe<int>(5)),
         "Success Success"},
        {"failure", Format("%1", failed), "Timed out (3)"},
        {"null literal message", Format("[%1]", Maybe<int>(Failure::Literal(7, nullptr))), "[]"},
        {"failure itself", Format("%1", Failure(-2, "Bad")), "Bad (-2)"},
        {"failure in a field", Format("[%1$-16s]", failed), "[Timed out (3)   ]"},
    });
    const Failure made = Tavo::MakeFailure("Couldn't find '%1' (%2)", "x", 2);
    EXPECT_EQ(made.Code(), 0);
    EXPECT_STREQ(made.Message(), "Couldn't find 'x' (2)");
}

TEST(Format, PrintfConversionsAreFixedUpForTheType) {
    int untouched = 0;
    Check({
        {"percent, escaped placeholder", Format("100%% done %%1", 5), "100% done %1"},
        {"positional width", Format("%1$-5d|%1$5d|", 42), "42   |   42|"},
        {"foreign conversion on an integer", Format("%1$s", 7), "7"},
        {"width from an argument", Format("%*d", 5, 42), "   42"},
        {"digits after * without $ are dropped", Format("%*3d", 4, 1), "   1"},
        {"number beyond the count is a width", Format("%3 x", 1, 2), "  1x"},
        {"sequential", Format("%s=%d", "n", 4), "n=4"},
        {"trailing lone percent", Format("n=%", 12), "n=12"},
        // A directive cut off by the end of the format keeps what was read and
        // takes the type's default conversion.
        {"cut off after a width", Format("n=%-5", 42), "n=42   "},
        {"cut off after a precision", Format("%08.3", 2.5), "000002.5"},
        {"cut off after a length modifier", Format("%l", -7), "-7"},
        {"cut off after flags, positional", Format("[%1$+", 3), "[+3"},
        {"cut off after a star", Format("<%*", 4, std::string("ab")), "<  ab"},
        {"%n writes nothing", Format("a%nb%1$nc", untouched), "abc"},
    });
    EXPECT_EQ(untouched, 0);
}

TEST(Format, StopsWhereAConversionCannotBeMade) {
    // "%" + 58 flags + "d" is 60 characters: not a conversion.
    const std::string sixty = "<%" + std::string(58, '-') + "d>";
    const std::string fiftyNine = "<%" + std::string(57, '-') + "d>";
    const std::string longWidth = "<%1$" + std::string(70, '1') + "d>";
    Check({
        {"second sequential missing", Format("%s and %s", "one"), "one and "},
        {"no arguments at all", Format("a%1b"), "a"},
        {"positional star beyond the count", Format("x%1$*5$dy", 3), "x"},
        {"star from a double", Format("x%*dy", 2.5, 3), "x"},
        {"star numbered zero", Format("x%*0$dy", 3), "x"},
        {"60-character directive", Format(sixty.c_str(), 1), "<"},
        {"59-character directive", Format(fiftyNine.c_str(), 1), "<1>"},
        {"long width", Format(longWidth.c_str(), 1), "<"},
    });
    char buffer[8] = "junk";
    EXPECT_EQ(FormatInto(buffer, sizeof buffer, nullptr, 1), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(FormatInto(nullptr, 8, "abc"), 0u);
    const Tavo::FormatArgDescriptor* const* noDescriptors = nullptr;
    const void* const* noValues = nullptr;
    EXPECT_EQ(FormatInto(buffer, sizeof buffer, "a%1", noDescriptors, noValues, std::size_t{3}),
              1u);
    EXPECT_STREQ(buffer, "a");
}

TEST(Format, OutputIsCutAtCapacityMinusOne) {
    const std::string big(5000, 'x');
    EXPECT_EQ(Format("%1", big).size(), 4095u);
    // A hostile `*` width or precision fills the buffer, no more.
    EXPECT_EQ(Format("%*d", 1'000'000'000, 7), std::string(4095, ' '));
    EXPECT_EQ(Format("%.*f", 1'000'000'000, 1.5), "1.5" + std::string(4092, '0'));
    const std::string minimum = Format("[%*d]", INT32_MIN, 7);
    EXPECT_EQ(minimum.substr(0, 3), "[7 ");
    EXPECT_EQ(minimum.size(), 4095u);

    char small[6];
    EXPECT_EQ(FormatInto(small, sizeof small, "abcdefgh"), 5u);
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(FormatInto(small, sizeof small, "ab%1cd", 123456), 5u);
    EXPECT_STREQ(small, "ab123");
    char one[1] = {'z'};
    EXPECT_EQ(FormatInto(one, 1, "%1", 5), 0u);
    EXPECT_EQ(one[0], '\0');
}

// Differentially: FormatInto must print exactly what snprintf prints for the
// same directive after the type fix-up.

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
    const char conversions[] = "diouxXcsgGeEfFaA%yp";  // 19: modifiers rotate across rows
    std::vector<Spec> specs;
    for (const char* f : flags) {
        for (const char* w : widths) {
            for (const char* p : precisions) {
                for (const char* c = conversions; *c != '\0'; ++c) {
                    // Every modifier meets every conversion across the table.
                    specs.push_back({f, w, p, modifiers[(specs.size() * 7 + 3) % 9], *c});
                }
            }
        }
    }
    return specs;
}

// The fixed-up directive for a T, written independently of the formatter: a
// conversion outside `allowed` becomes its first; the length modifier matches
// the value handed over ("ll" for 64-bit integers, "h"/"hh" kept for integers,
// none for "%c", doubles and texts); '*' stays for snprintf to take.
template <class T>
std::string FixedUp(const Spec& spec, const char* allowed, char& conversion) {
    conversion = std::strchr(allowed, spec.conversion) != nullptr ? spec.conversion : allowed[0];
    std::string modifier;
    if (std::is_integral_v<T> && conversion != 'c') {
        if (spec.modifier == "h" || spec.modifier == "hh") {
            modifier = spec.modifier;
        } else if (sizeof(T) == 8) {
            modifier = "ll";
        }
    }
    return "%" + spec.flags + spec.width + spec.precision + modifier + conversion;
}

// Calls `print` with the `*` values the sequential directive takes, then the value.
template <class V, class Print>
std::string WithStars(const Spec& spec, int width, int precision, const V& value, Print print) {
    const bool widthStar = spec.width == "*";
    const bool precisionStar = spec.precision == ".*";
    if (widthStar && precisionStar) {
        return print(width, precision, value);
    }
    if (widthStar) {
        return print(width, value);
    }
    return precisionStar ? print(precision, value) : print(value);
}

// Calls `use` with what snprintf is handed for `value` under the fixed-up
// conversion: an int for "%c" and "h"/"hh", the whole 64-bit value otherwise.
template <class T, class Use>
std::string Handed(const T& value, const Spec& spec, char conversion, Use use) {
    if constexpr (std::is_integral_v<T>) {
        const bool narrow = spec.modifier == "h" || spec.modifier == "hh" || sizeof(T) < 8;
        if (conversion == 'c') {
            return use(static_cast<int>(value));
        } else if constexpr (std::is_signed_v<T>) {
            return narrow ? use(static_cast<int>(value)) : use(static_cast<long long>(value));
        } else {
            return narrow ? use(static_cast<unsigned>(value))
                          : use(static_cast<unsigned long long>(value));
        }
    } else if constexpr (std::is_same_v<T, std::string>) {
        return use(value.c_str());
    } else {
        return use(value);
    }
}

template <class T>
void CheckAgainstSnprintf(const std::vector<T>& values, const char* allowed) {
    static const std::vector<Spec> specs = GenerateSpecs();
    for (std::size_t row = 0; row < specs.size(); ++row) {
        const Spec& spec = specs[row];
        if (spec.conversion == 'p') {
            continue;  // replaced like any other foreign conversion; 'p' would need a pointer
        }
        const int width = row % 2 == 0 ? 6 : -6;      // a negative width left-justifies
        const int precision = row % 3 == 0 ? -1 : 2;  // a negative precision is omitted
        char conversion = 0;
        const std::string fixed = FixedUp<T>(spec, allowed, conversion);
        const std::string sequential =
            "%" + spec.flags + spec.width + spec.precision + spec.modifier + spec.conversion;
        const std::string positional =
            "%3$" + spec.flags + (spec.width == "*" ? "*1$" : spec.width) +
            (spec.precision == ".*" ? ".*2$" : spec.precision) + spec.modifier + spec.conversion;
        for (const T& value : values) {
            for (std::size_t capacity : {std::size_t(128), std::size_t(4)}) {
                SCOPED_TRACE("spec " + sequential + " fixed " + fixed + " capacity " +
                             std::to_string(capacity));
                std::vector<char> buffer(capacity);
                const auto snprintfInto = [&](auto... args) {
                    const int length =
                        std::snprintf(buffer.data(), capacity, fixed.c_str(), args...);
                    return length < 0 ? std::string("<error>")
                                      : std::string(buffer.data(),
                                                    std::min(std::size_t(length), capacity - 1));
                };
                const auto formatInto = [&](const std::string& format) {
                    return [&buffer, capacity, format = format.c_str()](const auto&... args) {
                        return std::string(buffer.data(), Tavo::FormatInto(buffer.data(), capacity,
                                                                           format, args...));
                    };
                };
                const std::string expected = Handed(value, spec, conversion, [&](auto v) {
                    return WithStars(spec, width, precision, v, snprintfInto);
                });
                EXPECT_EQ(WithStars(spec, width, precision, value, formatInto(sequential)),
                          expected);
                EXPECT_EQ(formatInto(positional)(width, precision, value), expected);
            }
        }
    }
}

TEST(FormatDifferential, IntegersPrintAsSnprintfAndSixtyFourBitOnesWhole) {
    CheckAgainstSnprintf<std::int32_t>({0, -42, 65, INT_MIN, INT_MAX}, "dciouxX");
    CheckAgainstSnprintf<std::uint32_t>({0u, 255u, 4000000000u}, "ucdioxX");
    CheckAgainstSnprintf<std::int64_t>({-5, 5'000'000'000, INT64_MIN}, "dciouxX");
    CheckAgainstSnprintf<std::uint64_t>({1u, UINT64_MAX}, "ucdioxX");
}

TEST(FormatDifferential, DoublesAndTextsPrintAsSnprintf) {
    CheckAgainstSnprintf<double>({0.5, -1e20, 1.0 / 3, -0.0, 1e-310, INFINITY, NAN, 123456789.125},
                                 "gaefGAEF");
    CheckAgainstSnprintf<std::string>({"", "hello", "a longer text"}, "s");
}

}  // namespace
