#include "binding/StaticType.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"

namespace Sample {
struct Session {};
enum class State { Idle };
namespace Inner {
struct Session {};
}  // namespace Inner
}  // namespace Sample

namespace {

using Tavo::StaticType;

TEST(Fnv1a32, MatchesKnownValues) {
    struct Row {
        const char* text;
        std::uint32_t hash;
    };
    const Row rows[] = {
        {"", 0x811C9DC5u},  // the seed, unchanged
        {"a", 0xE40C292Cu},
        {"foobar", 0xBF9CF968u},
        {"\xFF", 0x7A0B824Eu},  // bytes count as unsigned
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Tavo::Fnv1a32(row.text), row.hash);
        EXPECT_EQ(Tavo::Fnv1a32(std::string_view(row.text)), row.hash);
    }
}

TEST(Fnv1a32, RangeFormHashesEmbeddedNulBytes) {
    EXPECT_NE(Tavo::Fnv1a32(std::string_view("a\0b", 3)), Tavo::Fnv1a32("a"));
    EXPECT_EQ(Tavo::Fnv1a32("a\0b"), Tavo::Fnv1a32("a"));  // the text form stops at NUL
}

TEST(StaticType, HashTextIsEightUpperCaseDigitsWithLeadingZeros) {
    struct Row {
        std::uint32_t hash;
        const char* text;
    };
    const Row rows[] = {{0x0000ABCDu, "#0000ABCD"},
                        {0u, "#00000000"},
                        {0xFFFFFFFFu, "#FFFFFFFF"},
                        {0x1A2B3C4Du, "#1A2B3C4D"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_STREQ(Tavo::detail::FormatStaticTypeHashText(row.hash).text, row.text);
    }
}

template <class T>
void ExpectConsistentRecords() {
    const StaticType& anonymous = StaticType::Anonymous<T>();
    const StaticType& named = StaticType::Named<T>();
    char expected[16];
    std::snprintf(expected, sizeof expected, "#%08X", anonymous.hashCode);
    EXPECT_EQ(anonymous.hashCode, StaticType::HashCode<T>());
    EXPECT_EQ(named.hashCode, anonymous.hashCode);
    EXPECT_EQ(anonymous.name, anonymous.hashText);
    EXPECT_STREQ(anonymous.name, expected);
    EXPECT_EQ(named.name, StaticType::Name<T>());
    for (char c : named.hashText) {
        EXPECT_EQ(c, '\0');
    }
    EXPECT_EQ(&StaticType::Anonymous<T>(), &anonymous);  // one record per flavour
    EXPECT_EQ(&StaticType::Named<T>(), &named);
}

TEST(StaticType, BothFlavoursShareTheIdAndNameItTheirWay) {
    ExpectConsistentRecords<int>();
    ExpectConsistentRecords<void>();
    ExpectConsistentRecords<std::string>();
    ExpectConsistentRecords<Tavo::BindingProperty>();
    ExpectConsistentRecords<Sample::Session>();
    ExpectConsistentRecords<Sample::State>();
}

TEST(StaticType, IdIsTheHashOfTheSignatureAndAConstant) {
    static_assert(StaticType::HashCode<int>() == StaticType::Anonymous<int>().hashCode);
    constexpr std::uint32_t id = StaticType::HashCode<Sample::Session>();
    EXPECT_EQ(id, StaticType::Named<Sample::Session>().hashCode);
    // Name's text differs from HashCode's only in the function it names.
    EXPECT_NE(Tavo::Fnv1a32(StaticType::Name<int>()), StaticType::HashCode<int>());
}

TEST(StaticType, NamedFlavourShowsTheFullType) {
    EXPECT_NE(
        std::strstr(StaticType::Named<Sample::Inner::Session>().name, "Sample::Inner::Session"),
        nullptr);
    EXPECT_NE(std::strstr(StaticType::Named<Sample::State>().name, "Sample::State"), nullptr);
}

TEST(StaticType, DistinctTypesHaveDistinctIds) {
    const std::uint32_t ids[] = {
        StaticType::HashCode<int>(),
        StaticType::HashCode<unsigned int>(),
        StaticType::HashCode<unsigned long long>(),
        StaticType::HashCode<bool>(),
        StaticType::HashCode<void>(),
        StaticType::HashCode<const char*>(),
        StaticType::HashCode<std::string>(),
        StaticType::HashCode<Tavo::BindingProperty>(),
        StaticType::HashCode<std::vector<Tavo::BindingProperty>>(),
        StaticType::HashCode<std::vector<std::string>>(),
        StaticType::HashCode<Sample::Session>(),
        StaticType::HashCode<Sample::Inner::Session>(),
        StaticType::HashCode<Sample::State>(),
        StaticType::HashCode<const int>(),
        StaticType::HashCode<int*>(),
    };
    std::set<std::uint32_t> unique(std::begin(ids), std::end(ids));
    EXPECT_EQ(unique.size(), std::size(ids));
}

}  // namespace
