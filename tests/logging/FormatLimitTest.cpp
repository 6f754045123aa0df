// Where formatting stops: missing arguments, over-long directives, `*`
// values that are not integers, and the buffer's capacity.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "logging/Format.h"

namespace {

using Tavo::Format;
using Tavo::FormatInto;

TEST(FormatLimits, StopsWhereAnArgumentIsMissing) {
    struct Row {
        const char* what;
        std::string actual;
        const char* expected;
    } rows[] = {
        {"second sequential", Format("%s and %s", "one"), "one and "},
        {"no arguments at all", Format("a%1b"), "a"},
        {"positional star beyond the count", Format("x%1$*5$dy", 3), "x"},
        {"star from a double", Format("x%*dy", 2.5, 3), "x"},
        {"star from a text", Format("x%2$*1$dy", "w", 3), "x"},
        {"star numbered zero", Format("x%*0$dy", 3), "x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(FormatLimits, DirectiveOfSixtyCharactersStops) {
    // "%" + 58 flags + "d" is 60 characters: not a conversion.
    const std::string sixty = "<%" + std::string(58, '-') + "d>";
    EXPECT_EQ(Format(sixty.c_str(), 1), "<");
    const std::string fiftyNine = "<%" + std::string(57, '-') + "d>";
    EXPECT_EQ(Format(fiftyNine.c_str(), 1), "<1>");
    const std::string longWidth = "<%1$" + std::string(70, '1') + "d>";
    EXPECT_EQ(Format(longWidth.c_str(), 1), "<");
}

TEST(FormatLimits, OutputIsCutAtCapacityMinusOne) {
    const std::string big(5000, 'x');
    EXPECT_EQ(Format("%1", big).size(), 4095u);
    EXPECT_EQ(Format(big.c_str()).size(), 4095u);
    EXPECT_EQ(Format("%1$5000d", 1).size(), 4095u);

    char small[6];
    EXPECT_EQ(FormatInto(small, sizeof small, "abcdefgh"), 5u);
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(FormatInto(small, sizeof small, "ab%1cd", 123456), 5u);
    EXPECT_STREQ(small, "ab123");
    char one[1] = {'z'};
    EXPECT_EQ(FormatInto(one, 1, "%1", 5), 0u);
    EXPECT_EQ(one[0], '\0');
    char version[33];
    EXPECT_EQ(FormatInto(version, sizeof version, "%1.%2.%3", 18u, 0u, 0u), 6u);
    EXPECT_STREQ(version, "18.0.0");
}

TEST(FormatLimits, NullFormatAndNullBuffersAreHarmless) {
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

TEST(FormatLimits, HugeStarFieldsAreCutNotPrinted) {
    // A hostile width or precision must not make the formatter pad or print a
    // billion characters; the visible result is what the buffer can hold.
    const auto start = std::chrono::steady_clock::now();
    const std::string padded = Format("%*d", 1'000'000'000, 7);
    const std::string precise = Format("%.*f", 1'000'000'000, 1.5);
    const std::string minimum = Format("[%*d]", INT32_MIN, 7);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(padded, std::string(4095, ' '));
    EXPECT_EQ(precise, "1.5" + std::string(4092, '0'));
    EXPECT_EQ(minimum.substr(0, 3), "[7 ");
    EXPECT_EQ(minimum.size(), 4095u);
    // Generous: a cut field costs microseconds, an uncut one seconds.
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
