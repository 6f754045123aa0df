// The JSON writer's floats, against RapidJSON's own conversion.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "detail/RapidJson.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"

namespace {

using Tavo::BindingProperty;

// RapidJSON's text for `value`, as its writers produce it.
std::string DtoaText(double value) {
    char buffer[32];
    return std::string(buffer, rapidjson::internal::dtoa(value, buffer));
}

// Writes `values` as one array and compares it with dtoa's texts joined.
void ExpectDtoaTexts(const std::vector<double>& values) {
    BindingProperty list;
    list.MakeCollection();
    std::string expected = "[";
    for (double value : values) {
        list.Append().SetFloat(value);
        if (expected.size() > 1) {
            expected += ',';
        }
        expected += DtoaText(value);
    }
    expected += ']';
    const std::string written = Tavo::WriteJson(list);
    if (written == expected) {
        return;
    }
    // Name the first value that differs.
    for (double value : values) {
        BindingProperty one;
        one.MakeCollection();
        one.Append().SetFloat(value);
        ASSERT_EQ(Tavo::WriteJson(one), "[" + DtoaText(value) + "]")
            << "for " << std::hexfloat << value;
    }
    FAIL() << "the array differs, no single value does";
}

// Every layout the digits can take: whole numbers up to 21 digits (and
// zeros added), a point inside the digits, up to 6 zeros after "0.", and
// exponents of one or more digits, with one digit or several; each power of
// ten from the least subnormal to the largest double, its neighbours and
// multiples; signs and zeros.
TEST(JsonWriterFloats, PlaceEveryLayoutAsRapidJsonsConversion) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.5,
                                  1e21,
                                  1e22,
                                  123e19,
                                  1.5e21,
                                  1e-6,
                                  1e-7,
                                  1.5e-6,
                                  1.5e-7,
                                  0.001234,
                                  0.1,
                                  9.5,
                                  1e-323,
                                  5e-324,
                                  1.7976931348623157e308,
                                  2.2250738585072014e-308,
                                  4503599627370496.5,
                                  9007199254740993.0,
                                  123456789012345678.0};
    for (int exponent = -324; exponent <= 308; ++exponent) {
        const double power = std::pow(10.0, exponent);
        for (double value : {power, 1.5 * power, 3.0 * power, 1.2345678901234567 * power,
                             std::nextafter(power, 0.0),
                             std::nextafter(power, std::numeric_limits<double>::infinity())}) {
            if (std::isfinite(value)) {
                values.push_back(value);
                values.push_back(-value);
            }
        }
    }
    ExpectDtoaTexts(values);
}

// Each binary exponent of a double, subnormal ones included, and the
// neighbours of its power of two: the scaling by a cached power of ten
// depends on the exponent alone.
TEST(JsonWriterFloats, WriteEveryBinaryExponentAsRapidJsonsConversion) {
    std::vector<double> values;
    for (int exponent = -1074; exponent <= 1023; ++exponent) {
        const double power = std::ldexp(1.0, exponent);
        for (double value : {power, 1.5 * power, std::nextafter(power, 0.0),
                             std::nextafter(power, std::numeric_limits<double>::infinity())}) {
            if (std::isfinite(value) && value != 0) {
                values.push_back(value);
            }
        }
    }
    ExpectDtoaTexts(values);
}

TEST(JsonWriterFloats, WriteRandomDoublesAsRapidJsonsConversion) {
    std::uint64_t state = 0x2545F4914F6CDD1Du;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::vector<double> values;
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = next();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        switch (i % 4) {
            case 0:  // any finite double
                break;
            case 1:  // decimals of a few places, as measured data has them
                value =
                    static_cast<double>(static_cast<std::int64_t>(bits % 2000000000) - 1000000000) /
                    std::pow(10.0, static_cast<int>(next() % 16));
                break;
            case 2:  // whole numbers of any size up to 2^64
                value = static_cast<double>(bits >> (next() % 64));
                break;
            default:  // magnitudes around 1
                value =
                    std::ldexp(static_cast<double>(bits >> 11), -52 - static_cast<int>(next() % 8));
        }
        if (std::isfinite(value)) {
            values.push_back(value);
        }
    }
    ExpectDtoaTexts(values);
}

// Indents of every depth: those copied as one block, those copied from the
// precomputed run, and those deeper than the run.
TEST(JsonWriterLayout, IndentsEveryDepthAsRapidJsonsPrettyWriter) {
    std::string json;
    for (int level = 0; level < 40; ++level) {
        json += level % 2 == 0 ? "[1," : "{\"k\":";
    }
    json += "2.5";
    for (int level = 39; level >= 0; --level) {
        json += level % 2 == 0 ? "]" : "}";
    }
    rapidjson::Document document;
    document.Parse(json.c_str());
    ASSERT_FALSE(document.HasParseError());
    rapidjson::StringBuffer pretty;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(pretty);
    document.Accept(writer);
    const Tavo::BindingResult read = Tavo::ParseJson(json);
    ASSERT_TRUE(read.IsOk());
    EXPECT_EQ(Tavo::WriteJson(read.Value(), nullptr, "\n"), pretty.GetString());
}

}  // namespace
