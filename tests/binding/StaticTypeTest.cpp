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

TEST(Fnv1a32, MatchesKnownValuesInBothForms) {
    struct Row {
        const char* text;
        std::uint32_t hash;
    };
    // The empty text keeps the seed; bytes count as unsigned.
    const Row rows[] = {
        {"", 0x811C9DC5u}, {"a", 0xE40C292Cu}, {"foobar", 0xBF9CF968u}, {"\xFF", 0x7A0B824Eu}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Tavo::Fnv1a32(row.text), row.hash);
        EXPECT_EQ(Tavo::Fnv1a32(std::string_view(row.text)), row.hash);
    }
}

template <class T>
void ExpectBothFlavoursShareTheId() {
    const StaticType& anonymous = StaticType::Anonymous<T>();
    const StaticType& named = StaticType::Named<T>();
    char expected[16];
    std::snprintf(expected, sizeof expected, "#%08X", anonymous.hashCode);
    EXPECT_EQ(anonymous.hashCode, StaticType::HashCode<T>());
    EXPECT_EQ(named.hashCode, anonymous.hashCode);
    EXPECT_STREQ(anonymous.name, expected);
    EXPECT_EQ(named.name, StaticType::Name<T>());
}

TEST(StaticType, BothFlavoursShareTheIdAndNameItTheirWay) {
    ExpectBothFlavoursShareTheId<int>();
    ExpectBothFlavoursShareTheId<void>();
    ExpectBothFlavoursShareTheId<Tavo::BindingProperty>();
    ExpectBothFlavoursShareTheId<Sample::State>();
    static_assert(StaticType::HashCode<int>() == StaticType::Anonymous<int>().hashCode);
    EXPECT_NE(
        std::strstr(StaticType::Named<Sample::Inner::Session>().name, "Sample::Inner::Session"),
        nullptr);
    // Eight upper-case digits, leading zeros kept.
    EXPECT_STREQ(Tavo::detail::FormatStaticTypeHashText(0x0000ABCDu).text, "#0000ABCD");
    EXPECT_STREQ(Tavo::detail::FormatStaticTypeHashText(0xFFFFFFFFu).text, "#FFFFFFFF");
}

template <class... T>
std::size_t DistinctIds() {
    return std::set<std::uint32_t>{StaticType::HashCode<T>()...}.size();
}

TEST(StaticType, DistinctTypesHaveDistinctIds) {
    EXPECT_EQ((DistinctIds<int, unsigned int, unsigned long long, bool, void, const char*,
                           std::string, Tavo::BindingProperty, std::vector<Tavo::BindingProperty>,
                           std::vector<std::string>, Sample::Session, Sample::Inner::Session,
                           Sample::State, const int, int*>()),
              15u);
}

}  // namespace
