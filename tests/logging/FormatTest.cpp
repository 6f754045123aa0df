// Rendering of "%N" placeholders and printf conversions for every argument type.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "logging/Format.h"

namespace {

using Tavo::Failure;
using Tavo::Format;
using Tavo::Maybe;

struct Row {
    const char* what;
    std::string actual;
    const char* expected;
};

void Check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.actual, row.expected);
    }
}

struct Version {
    std::uint32_t major, minor, patch;
    std::string preRelease, build;
    std::string ToText() const {
        std::string text = Format("%1.%2.%3", major, minor, patch);
        if (!preRelease.empty()) {
            text += "-" + preRelease;
        }
        if (!build.empty()) {
            text += "+" + build;
        }
        return text;
    }
};

enum class Color : std::uint8_t { Red = 3 };
enum Small : std::int16_t { kMinusTwo = -2 };

TEST(Format, PlaceholdersUseTheTypeDefault) {
    const std::int64_t minusFive = -5;
    Check({
        {"texts", Format("Value %1 for '%2' of type %3 is out of range", "300", "level", "uint8"),
         "Value 300 for 'level' of type uint8 is out of range"},
        {"64-bit signed", Format("%1", minusFive), "-5"},
        {"64-bit unsigned", Format("%1", UINT64_C(18446744073709551615)), "18446744073709551615"},
        {"unsigned", Format("%1", 4000000000u), "4000000000"},
        {"double", Format("%1", 0.5), "0.5"},
        {"large double", Format("%1", 1e20), "1e+20"},
        {"float widens", Format("%1", 0.25f), "0.25"},
        {"reordered", Format("%2 %1", "a", "b"), "b a"},
        {"repeated", Format("%1-%1", 7), "7-7"},
        {"a number beyond the count is a width", Format("%12", "x"), "           x"},
        {"letters after the number stay text", Format("%1st", "fir"), "first"},
        {"enum widens", Format("%1 %2", Color::Red, kMinusTwo), "3 -2"},
        {"narrow integers widen", Format("%1 %2", std::int8_t(-3), std::uint16_t(65535)),
         "-3 65535"},
        {"bool", Format("%1", true), "1"},
    });
}

TEST(Format, TextArgumentsOfEveryForm) {
    const char* nullText = nullptr;
    const std::string owned = "owned";
    const char notTerminated[4] = {'a', 'b', 'c', 'd'};
    const std::string_view view = std::string_view("viewed-and-more").substr(0, 6);
    const std::string withNul("ab\0cd", 5);
    Check({
        {"null pointer", Format("[%1]", nullText), "[(null)]"},
        {"null pointer with width", Format("[%1$8s]", nullText), "[  (null)]"},
        {"std::string", Format("%1", owned), "owned"},
        {"array without NUL", Format("%1", notTerminated), "abcd"},
        {"view stops at its end", Format("%1|%1$.3s|%1$8s", view), "viewed|vie|  viewed"},
        {"embedded NUL ends the text", Format("%1", withNul), "ab"},
        {"record with a text form", Format("v%1", Version{18, 0, 0, "", ""}), "v18.0.0"},
        {"pre-release and build", Format("%1", Version{18, 2, 1, "beta", "7"}), "18.2.1-beta+7"},
    });
}

TEST(Format, ResultsAndFailures) {
    const Maybe<void> ok = Maybe<void>::Success();
    const Maybe<int> value = 5;
    const Maybe<void> failed = Failure(3, "Timed out");
    const Maybe<int> literalNull = Failure::Literal(7, nullptr);
    Check({
        {"success", Format("%1", ok), "Success"},
        {"value", Format("%1", value), "Success"},
        {"failure", Format("%1", failed), "Timed out (3)"},
        {"null literal message", Format("[%1]", literalNull), "[]"},
        {"failure itself", Format("%1", Failure(-2, "Bad")), "Bad (-2)"},
        {"failure in a field", Format("[%1$-16s]", failed), "[Timed out (3)   ]"},
    });
    const Failure made = Tavo::MakeFailure("Couldn't find '%1' (%2)", "x", 2);
    EXPECT_EQ(made.Code(), 0);
    EXPECT_STREQ(made.Message(), "Couldn't find 'x' (2)");
}

TEST(Format, PrintfConversions) {
    Check({
        {"percent", Format("100%% done"), "100% done"},
        {"escaped placeholder", Format("%%1", 5), "%1"},
        {"positional width", Format("%1$5d|", 42), "   42|"},
        {"positional left", Format("%1$-5d|", 42), "42   |"},
        {"hex", Format("%1$x", 255), "ff"},
        {"foreign conversion on an integer", Format("%1$s", 7), "7"},
        {"foreign conversion on a double", Format("%1$08x", 2.5), "000002.5"},
        {"width from an argument", Format("%*d", 5, 42), "   42"},
        {"width from a named argument", Format("%2$*1$d|", -4, 9), "9   |"},
        {"precision from an argument", Format("%.*f", 2, 3.14159), "3.14"},
        {"digits after * without $ are dropped", Format("%*3d", 4, 1), "   1"},
        {"number beyond the count is a width", Format("%3 x", 1, 2), "  1x"},
        {"sequential", Format("%s=%d", "n", 4), "n=4"},
        {"trailing lone percent", Format("n=%", 12), "n=12"},
        {"64-bit whole under %d", Format("%1$d", INT64_C(5000000000)), "5000000000"},
        {"64-bit under %hhx keeps printf's cut", Format("%1$hhx", INT64_C(0x1ff)), "ff"},
        {"64-bit as %c", Format("%1$c", INT64_C(65)), "A"},
        {"long double modifier on a double", Format("%1$Lf", 1.5), "1.500000"},
        {"wide-string modifier on a text", Format("%1$ls", "abc"), "abc"},
    });
}

TEST(Format, PercentNWritesNothing) {
    int untouched = 0;
    EXPECT_EQ(Format("a%nb%1$nc", untouched), "abc");
    EXPECT_EQ(untouched, 0);
}

}  // namespace
