#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "binding/BindingProperty.h"

namespace {

using Tavo::BindingProperty;
using Kind = Tavo::BindingProperty::Kind;

void ExpectTooLong(const std::function<void()>& action) {
    try {
        action();
        ADD_FAILURE() << "no length error";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "vector<T> too long");
    }
}

TEST(BindingPropertyError, FailedLookupsReturnTheSharedEmptyValueAndCreateNothing) {
    BindingProperty scalar;
    scalar.SetSigned(std::int64_t{1});
    BindingProperty list;
    list.Append();
    BindingProperty object;
    object.Field("a");
    const BindingProperty* empty = &BindingProperty::EmptyValue();
    EXPECT_EQ(&scalar.ElementAt(0), empty);
    EXPECT_EQ(&scalar.Find("a"), empty);
    EXPECT_EQ(&list.ElementAt(1), empty);
    EXPECT_EQ(&list.Find("a"), empty);
    EXPECT_EQ(&object.Find("b"), empty);
    EXPECT_EQ(&object.ElementAt(0), empty);
    EXPECT_EQ(scalar.GetKind(), Kind::Signed);
    EXPECT_EQ(list.Size(), 1u);
    EXPECT_EQ(object.Size(), 1u);
    EXPECT_TRUE(scalar.Elements().empty());
    EXPECT_TRUE(scalar.Fields().empty());
    EXPECT_FALSE(BindingProperty().HasArena());
}

TEST(BindingPropertyError, ReserveAboveTheLimitRaisesTheLengthError) {
    BindingProperty list;
    list.MakeCollection();
    ExpectTooLong([&] { list.Reserve(BindingProperty::kMaxElements + 1); });
    ExpectTooLong([&] { list.Reserve(std::numeric_limits<std::size_t>::max()); });
    ExpectTooLong([&] { list.Element(BindingProperty::kMaxElements); });
    EXPECT_EQ(list.Size(), 0u);  // unchanged
    list.Append().SetBool(true);
    EXPECT_TRUE(list.ElementAt(0).GetBool());
}

TEST(BindingPropertyError, AsInt64OfUnrepresentableFloatsIsDefined) {
    struct Row {
        const char* name;
        double value;
        std::int64_t expected;
    };
    const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const Row rows[] = {
        {"nan gives the default", std::nan(""), 77},
        {"+inf saturates", std::numeric_limits<double>::infinity(), kMax},
        {"-inf saturates", -std::numeric_limits<double>::infinity(), kMin},
        {"2^63 saturates", 9223372036854775808.0, kMax},
        {"-2^63 fits", -9223372036854775808.0, kMin},
        {"1e300 saturates", 1e300, kMax},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BindingProperty value;
        value.SetFloat(row.value);
        EXPECT_EQ(value.AsInt64(77), row.expected);
    }
    BindingProperty text;
    text.SetString("99999999999999999999999");
    EXPECT_EQ(text.AsInt64(), kMax);  // strtoll saturates, no error
}

TEST(BindingPropertyError, SettersAcceptTextFromTheirOwnTree) {
    BindingProperty value;
    value.SetString("a text long enough to need its own block, not an inline one");
    value.SetString(value.GetString());
    EXPECT_EQ(value.GetString(), "a text long enough to need its own block, not an inline one");

    value.Field(value.GetString());  // the name is the string being replaced
    EXPECT_EQ((*value.Fields().begin()).key.View(),
              "a text long enough to need its own block, not an inline one");

    BindingProperty list;
    list.Append().SetString("element");
    list.Field(list.ElementAt(0).GetString()).SetBool(true);
    EXPECT_TRUE(list.Find("element").GetBool());

    BindingProperty blob;
    blob.SetBlob(std::vector<std::uint8_t>(100, 3));
    blob.SetBlob(blob.GetBlob());
    EXPECT_EQ(blob.Size(), 100u);
    EXPECT_EQ(blob.GetBlob()[99], 3);

    BindingProperty child;
    child.Append().SetString("kept");
    child.Element(0) = child.ElementAt(0);  // self by another path: a leaf in the same tree
    child.Append() = child.ElementAt(0);
    EXPECT_EQ(child.ElementAt(1).GetString(), "kept");
    EXPECT_EQ(&child.ElementAt(0).GetInternedString(), &child.ElementAt(1).GetInternedString());
}

TEST(BindingPropertyError, AssignmentsBetweenNestedValuesOfOneTreeAreSafe) {
    // Copy a tree into its own child.
    BindingProperty tree;
    tree.Field("name").SetString("root");
    tree.Field("child") = tree;
    EXPECT_EQ(tree.Find("child").Find("name").GetString(), "root");
    EXPECT_TRUE(tree.Find("child").Find("child").IsEmpty());

    // Copy a child over its own root.
    tree = tree.Find("child");
    EXPECT_EQ(tree.Find("name").GetString(), "root");
    EXPECT_TRUE(tree.Find("child").IsEmpty());

    // Move a grandchild into its parent's place.
    BindingProperty list;
    list.Append().Append().SetString("deep");
    list.Element(0) = std::move(list.Element(0).Element(0));
    EXPECT_EQ(list.ElementAt(0).GetString(), "deep");

    // Move a child over its own root.
    list.Element(0).Field("x").SetSigned(std::int64_t{5});
    list = std::move(list.Element(0));
    EXPECT_EQ(list.Find("x").GetSigned(), 5);

    // Move a root into its own child: the child goes with the cleared source.
    BindingProperty root;
    root.Append().SetBool(true);
    BindingProperty& inner = root.Element(0);
    inner = std::move(root);
    EXPECT_TRUE(root.IsEmpty());
}

TEST(BindingPropertyError, EmptyNamesAndTextsNeedNoRecord) {
    BindingProperty object;
    object.Field("").SetString("");
    EXPECT_EQ(object.Size(), 1u);
    EXPECT_EQ(object.Find("").GetKind(), Kind::String);
    EXPECT_EQ(&object.Find("").GetInternedString(), &Tavo::BindingInternedString::Empty());
    BindingProperty copy(object);
    EXPECT_TRUE(copy == object);
}

}  // namespace
