#include "binding/StaticType.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"

// The readable names are made at compile time and checked here with
// static_assert, so that building this file checks them; CMake also compiles
// it with the other compiler (GCC or clang) where one is installed, and the
// fuzz preset builds it with clang: the texts must be the same under both.

namespace Sample {
struct Session {};
enum class State { Idle };
namespace Inner {
struct Session {};
}  // namespace Inner
template <class A, class B>
struct Pair {};
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
    // Eight upper-case digits, leading zeros kept.
    EXPECT_STREQ(Tavo::detail::FormatStaticTypeHashText(0x0000ABCDu).text, "#0000ABCD");
    EXPECT_STREQ(Tavo::detail::FormatStaticTypeHashText(0xFFFFFFFFu).text, "#FFFFFFFF");
}

template <class T>
constexpr bool NamedAs(std::string_view text) {
    return std::string_view(StaticType::Named<T>().name) == text;
}

// Full namespaces, "std::string" for the standard string, one spelling of
// integers, pointers and blanks, whichever compiler and standard library.
static_assert(NamedAs<std::string>("std::string"));
static_assert(NamedAs<Tavo::BindingProperty>("Tavo::BindingProperty"));
static_assert(NamedAs<Sample::Inner::Session>("Sample::Inner::Session"));
static_assert(NamedAs<Sample::State>("Sample::State"));
static_assert(NamedAs<std::vector<std::string>>("std::vector<std::string>"));
static_assert(NamedAs<std::vector<std::vector<int>>>("std::vector<std::vector<int>>"));
static_assert(
    NamedAs<Sample::Pair<std::string, const char*>>("Sample::Pair<std::string, const char*>"));
static_assert(NamedAs<int>("int"));
static_assert(NamedAs<unsigned int>("unsigned int"));
static_assert(NamedAs<long long>("long long"));
static_assert(NamedAs<unsigned long long>("unsigned long long"));
static_assert(NamedAs<long>("long"));
static_assert(NamedAs<unsigned short>("unsigned short"));
static_assert(NamedAs<signed char>("signed char"));
static_assert(NamedAs<unsigned char>("unsigned char"));
static_assert(NamedAs<bool>("bool"));
static_assert(NamedAs<void>("void"));
static_assert(NamedAs<const char*>("const char*"));
static_assert(NamedAs<const char* const*>("const char* const*"));
static_assert(NamedAs<int&>("int&"));
static_assert(NamedAs<void (*)(int, long)>("void(*)(int, long)"));
static_assert(NamedAs<std::basic_string<char16_t>>("std::basic_string<char16_t>"));

TEST(StaticType, NamedFlavourWritesTheTypeAsAReaderWould) {
    // The same, reported one by one when they differ.
    struct Row {
        const char* name;
        const char* expected;
    };
    const Row rows[] = {
        {StaticType::Named<std::string>().name, "std::string"},
        {StaticType::Named<std::vector<std::string>>().name, "std::vector<std::string>"},
        {StaticType::Named<Sample::Pair<std::string, const char*>>().name,
         "Sample::Pair<std::string, const char*>"},
        {StaticType::Named<std::uint64_t>().name,
         sizeof(long) == 8 ? "unsigned long" : "unsigned long long"},
        {StaticType::Named<const char* const*>().name, "const char* const*"},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(row.name, row.expected);
    }
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
