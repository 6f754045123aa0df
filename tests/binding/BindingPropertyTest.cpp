#include "binding/BindingProperty.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using Tavo::BindingProperty;
using Kind = Tavo::BindingProperty::Kind;

enum class Color { Red = -2 };

// Records every visitor call as one short token.
class RecordingVisitor : public Tavo::BindingPropertyVisitor {
public:
    std::string log;

    void VisitEmpty() override { Add("empty"); }
    void VisitBool(bool value) override { Add(value ? "true" : "false"); }
    void VisitSigned(std::int64_t value) override { Add("i" + std::to_string(value)); }
    void VisitUnsigned(std::uint64_t value) override { Add("u" + std::to_string(value)); }
    void VisitFloat(double value) override { Add("f" + std::to_string(value)); }
    void VisitString(const Tavo::BindingInternedString& value) override {
        Add("'" + std::string(value.View()) + "'");
    }
    void VisitBlob(std::span<const std::uint8_t> bytes) override {
        Add("blob" + std::to_string(bytes.size()));
    }
    void VisitEnum(const Tavo::BindingEnumPayload& value) override {
        Add("enum" + std::to_string(value.value));
    }
    void BeginCollection(std::size_t count) override { Add("[" + std::to_string(count)); }
    void BeginElement(std::size_t index) override { Add("<" + std::to_string(index)); }
    void EndElement(std::size_t index) override { Add(std::to_string(index) + ">"); }
    void EndCollection() override { Add("]"); }
    void BeginStructure(std::size_t count) override { Add("{" + std::to_string(count)); }
    void BeginField(const Tavo::BindingInternedString& key) override {
        Add(std::string(key.View()) + ":");
    }
    void EndField(const Tavo::BindingInternedString& key) override {
        Add(":" + std::string(key.View()));
    }
    void EndStructure() override { Add("}"); }

private:
    void Add(const std::string& token) { log += (log.empty() ? "" : " ") + token; }
};

std::string Visit(const BindingProperty& value) {
    RecordingVisitor visitor;
    value.Accept(visitor);
    return visitor.log;
}

// {"name": "n<i>", "id": i, "tags": ["a", "b"]} — a small tree to copy and move.
BindingProperty MakeRecord(int i) {
    BindingProperty value;
    value.Field("name").SetString("n" + std::to_string(i));
    value.Field("id").SetSigned(i);
    BindingProperty& tags = value.Field("tags");
    tags.Append().SetString("a");
    tags.Append().SetString("b");
    return value;
}

TEST(BindingProperty, DefaultIsAnEmptyRootWithoutArena) {
    BindingProperty value;
    EXPECT_EQ(value.GetKind(), Kind::Empty);
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_TRUE(value.OwnsArena());
    EXPECT_FALSE(value.HasArena());
    EXPECT_STREQ(BindingProperty::KindName(value.GetKind()), "empty");
}

TEST(BindingProperty, KindNamesCoverTheTenTagsAndNothingElse) {
    const char* names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                           "string", "blob", "enum",   "collection", "structure"};
    for (int tag = 0; tag < 10; ++tag) {
        EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(tag)), names[tag]);
    }
    EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(10)), "");
    EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(255)), "");
}

TEST(BindingProperty, SettersStoreExactlyWhatStrictGettersReturn) {
    BindingProperty value;
    value.SetSigned(std::int32_t{-1});
    EXPECT_EQ(value.GetSigned(), -1);
    EXPECT_EQ(value.GetUnsigned(7), 7u);  // strict: no conversion
    value.SetUnsigned(std::uint32_t{0xFFFFFFFFu});
    EXPECT_EQ(value.GetUnsigned(), 4294967295u);
    EXPECT_EQ(value.GetSigned(7), 7);
    value.SetFloat(2.5);
    EXPECT_EQ(value.GetFloat(), 2.5);
    value.SetSigned(std::int64_t{3});
    EXPECT_EQ(value.GetFloat(-1.0), -1.0);
    value.SetBool(true);
    EXPECT_TRUE(value.GetBool());
    EXPECT_EQ(value.Size(), 1u);
    value.SetEnum(-2, Tavo::StaticType::Anonymous<Color>());
    EXPECT_EQ(value.GetEnum().value, -2);
    EXPECT_EQ(value.GetEnum().type, &Tavo::StaticType::Anonymous<Color>());
    const std::uint8_t bytes[] = {1, 0, 2};
    value.SetBlob(bytes);
    ASSERT_EQ(value.GetBlob().size(), 3u);
    EXPECT_EQ(value.GetBlob()[2], 2);
    EXPECT_EQ(value.Size(), 3u);
    EXPECT_EQ(value.GetString("none"), "none");
}

TEST(BindingProperty, BlobTakenOverLeavesTheSourceEmpty) {
    std::vector<std::uint8_t> bytes(1000, 7);
    BindingProperty value;
    value.SetBlob(std::move(bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(value.Size(), 1000u);
    EXPECT_EQ(value.GetBlob()[999], 7);
}

TEST(BindingProperty, AsInt64ReadsEveryKindLeniently) {
    struct Row {
        const char* name;
        std::function<void(BindingProperty&)> set;
        std::int64_t expected;
    };
    const Row rows[] = {
        {"empty gives the default", [](BindingProperty&) {}, 99},
        {"true", [](BindingProperty& v) { v.SetBool(true); }, 1},
        {"false", [](BindingProperty& v) { v.SetBool(false); }, 0},
        {"signed", [](BindingProperty& v) { v.SetSigned(std::int64_t{-5}); }, -5},
        {"unsigned above the signed range wraps",
         [](BindingProperty& v) { v.SetUnsigned(std::uint64_t{0xFFFFFFFFFFFFFFFFu}); }, -1},
        {"float truncates toward zero", [](BindingProperty& v) { v.SetFloat(-3.9); }, -3},
        {"string 42abc", [](BindingProperty& v) { v.SetString("42abc"); }, 42},
        {"string 0x10", [](BindingProperty& v) { v.SetString("0x10"); }, 16},
        {"string 010 is octal", [](BindingProperty& v) { v.SetString("010"); }, 8},
        {"string with space and sign", [](BindingProperty& v) { v.SetString("  -7"); }, -7},
        {"string abc", [](BindingProperty& v) { v.SetString("abc"); }, 0},
        {"empty string", [](BindingProperty& v) { v.SetString(""); }, 0},
        {"enum", [](BindingProperty& v) { v.SetEnum(-2, Tavo::StaticType::Anonymous<Color>()); },
         -2},
        {"blob gives the default",
         [](BindingProperty& v) { v.SetBlob(std::span<const std::uint8_t>()); }, 99},
        {"collection gives the default", [](BindingProperty& v) { v.Append(); }, 99},
        {"structure gives the default", [](BindingProperty& v) { v.Field("x"); }, 99},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BindingProperty value;
        row.set(value);
        EXPECT_EQ(value.AsInt64(99), row.expected);
    }
    BindingProperty collection;
    collection.Append();
    EXPECT_EQ(collection.AsInt64(0), 0);
}

TEST(BindingProperty, EmptyStringNeedsNoArena) {
    BindingProperty value;
    value.SetString("");
    EXPECT_EQ(value.GetKind(), Kind::String);
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_FALSE(value.HasArena());
    EXPECT_EQ(&value.GetInternedString(), &Tavo::BindingInternedString::Empty());
    value.SetString(static_cast<const char*>(nullptr));
    EXPECT_FALSE(value.HasArena());
}

TEST(BindingProperty, EqualTextsInOneTreeShareOneRecord) {
    BindingProperty tree;
    tree.Append().SetString("same");
    tree.Append().SetString(std::string("same"));
    tree.Append().Field("same");
    EXPECT_EQ(&tree.ElementAt(0).GetInternedString(), &tree.ElementAt(1).GetInternedString());
    EXPECT_EQ(&(*tree.ElementAt(2).Fields().begin()).key, &tree.ElementAt(0).GetInternedString());
    EXPECT_EQ(tree.ElementAt(0).GetInternedString().Hash(), Tavo::Fnv1a32("same"));
}

TEST(BindingProperty, StringsKeepEmbeddedNulBytes) {
    BindingProperty value;
    value.SetString(std::string_view("a\0b", 3));
    EXPECT_EQ(value.Size(), 3u);
    EXPECT_EQ(value.GetString(), std::string_view("a\0b", 3));
    EXPECT_EQ(value.AsInt64(5), 0);
}

TEST(BindingProperty, ElementAtReadsAndElementGrows) {
    BindingProperty list;
    list.Element(2).SetSigned(std::int64_t{3});
    EXPECT_EQ(list.Size(), 3u);
    EXPECT_TRUE(list.ElementAt(0).IsEmpty());
    EXPECT_FALSE(list.ElementAt(0).OwnsArena());
    EXPECT_EQ(&list.ElementAt(5), &BindingProperty::EmptyValue());
    EXPECT_EQ(list.Size(), 3u);
    list.Element(5);
    EXPECT_EQ(list.Size(), 6u);
    EXPECT_EQ(list.ElementAt(2).GetSigned(), 3);
}

TEST(BindingProperty, CollectionsKeepValuesAcrossGrowth) {
    BindingProperty list;
    for (int i = 0; i < 5000; ++i) {
        BindingProperty& element = list.Append();
        if (i % 3 == 0) {
            element.SetString("s" + std::to_string(i));
        } else if (i % 3 == 1) {
            element.Field("k").SetSigned(std::int64_t{i});
        } else {
            element.Append().SetSigned(std::int64_t{i});
        }
    }
    ASSERT_EQ(list.Size(), 5000u);
    for (int i = 0; i < 5000; ++i) {
        const BindingProperty& element = list.ElementAt(i);
        if (i % 3 == 0) {
            EXPECT_EQ(element.GetString(), "s" + std::to_string(i));
        } else if (i % 3 == 1) {
            EXPECT_EQ(element.Find("k").GetSigned(), i);
        } else {
            EXPECT_EQ(element.ElementAt(0).GetSigned(), i);
        }
    }
}

TEST(BindingProperty, ReserveKeepsElementsInPlaceWhileAppending) {
    BindingProperty list;
    list.MakeCollection();
    list.Reserve(100);
    const BindingProperty* first = &list.Append();
    for (int i = 1; i < 100; ++i) {
        list.Append();
    }
    EXPECT_EQ(&list.ElementAt(0), first);
    BindingProperty scalar;
    scalar.SetBool(true);
    scalar.Reserve(10);  // not a collection: nothing happens
    EXPECT_TRUE(scalar.GetBool());
}

TEST(BindingProperty, FieldsIterateInByteOrderOfNames) {
    BindingProperty object;
    for (const char* name : {"b", "a", "B", "ab", "\xC3\xA9", "", "a"}) {
        object.Field(name);
    }
    std::vector<std::string> names;
    for (BindingProperty::FieldRef field : object.Fields()) {
        names.emplace_back(field.key.View());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "B", "a", "ab", "b", "\xC3\xA9"}));
    EXPECT_EQ(object.Size(), 6u);
}

TEST(BindingProperty, FindsEveryFieldOfALargeStructure) {
    BindingProperty object;
    const int count = 20000;
    for (int i = 0; i < count; ++i) {
        int key = (i * 7919) % count;  // a scrambled insertion order
        object.Field("k" + std::to_string(key)).SetSigned(std::int64_t{key});
    }
    ASSERT_EQ(object.Size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(object.Find("k" + std::to_string(i)).GetSigned(-1), i);
    }
    std::string previous;
    std::size_t seen = 0;
    for (BindingProperty::FieldRef field : object.Fields()) {
        std::string name(field.key.View());
        EXPECT_LT(previous, name);
        previous = name;
        ++seen;
    }
    EXPECT_EQ(seen, object.Size());
}

TEST(BindingProperty, FieldOnAnotherKindReplacesItWithAStructure) {
    BindingProperty value;
    value.SetString("text");
    value.Field("x");
    EXPECT_EQ(value.GetKind(), Kind::Structure);
    EXPECT_EQ(value.Size(), 1u);
    EXPECT_TRUE(value.Find("x").IsEmpty());
    EXPECT_NE(&value.Find("x"), &BindingProperty::EmptyValue());
}

TEST(BindingProperty, VisitorSeesKindsInIndexAndKeyOrder) {
    BindingProperty tree;
    tree.Field("b").Append().SetSigned(std::int64_t{1});
    tree.Field("b").Append().SetString("x");
    tree.Field("a").SetBool(true);
    tree.Field("c");
    EXPECT_EQ(Visit(tree), "{3 a: true :a b: [2 <0 i1 0> <1 'x' 1> ] :b c: empty :c }");

    BindingProperty leaves;
    leaves.Append().SetUnsigned(std::uint64_t{2});
    leaves.Append().SetFloat(0.5);
    leaves.Append().SetEnum(-2, Tavo::StaticType::Anonymous<Color>());
    leaves.Append().SetBlob(std::vector<std::uint8_t>{1, 2});
    leaves.Append().MakeCollection();
    leaves.Append().MakeStructure();
    EXPECT_EQ(Visit(leaves),
              "[6 <0 u2 0> <1 f0.500000 1> <2 enum-2 2> <3 blob2 3> <4 [0 ] 4> <5 {0 } 5> ]");
}

TEST(BindingProperty, CopyIntoAnotherTreeReinternsAndOutlivesTheSource) {
    BindingProperty target;
    {
        BindingProperty source = MakeRecord(1);
        target.Append().SetString("n1");
        target.Append() = source;
        EXPECT_FALSE(target.ElementAt(1).OwnsArena());
        EXPECT_NE(target.ElementAt(1).Find("name").GetString().data(),
                  source.Find("name").GetString().data());
        // The copied text joined the target's existing record.
        EXPECT_EQ(&target.ElementAt(1).Find("name").GetInternedString(),
                  &target.ElementAt(0).GetInternedString());
    }
    EXPECT_TRUE(target.ElementAt(1) == MakeRecord(1));
    EXPECT_EQ(target.ElementAt(1).Find("tags").ElementAt(1).GetString(), "b");
}

TEST(BindingProperty, CopyConstructionMakesAnIndependentRoot) {
    BindingProperty source = MakeRecord(2);
    BindingProperty copy(source.Find("tags"));
    EXPECT_TRUE(copy.OwnsArena());
    source.Clear();
    EXPECT_EQ(copy.Size(), 2u);
    EXPECT_EQ(copy.ElementAt(0).GetString(), "a");
}

TEST(BindingProperty, MoveBetweenRootsSwapsWithoutCopying) {
    BindingProperty source = MakeRecord(3);
    const BindingProperty* field = &source.Find("id");
    const char* text = source.Find("name").GetString().data();
    BindingProperty target;
    target.SetString("old");
    target = std::move(source);
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(&target.Find("id"), field);
    EXPECT_EQ(target.Find("name").GetString().data(), text);

    BindingProperty constructed(std::move(target));
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_FALSE(target.HasArena());
    EXPECT_EQ(&constructed.Find("id"), field);
}

TEST(BindingProperty, MoveFromAChildCopiesAndEmptiesTheChild) {
    BindingProperty tree;
    tree.Append() = MakeRecord(4);
    BindingProperty& child = tree.Element(0);
    const BindingProperty* field = &child.Find("id");
    BindingProperty target(std::move(child));
    EXPECT_TRUE(target.OwnsArena());
    EXPECT_NE(&target.Find("id"), field);
    EXPECT_TRUE(target == MakeRecord(4));
    EXPECT_TRUE(tree.ElementAt(0).IsEmpty());
    EXPECT_EQ(tree.Size(), 1u);

    BindingProperty other;
    other.Append() = MakeRecord(5);
    tree.Element(0) = std::move(other.Element(0));  // child to child across trees
    EXPECT_TRUE(tree.ElementAt(0) == MakeRecord(5));
    EXPECT_TRUE(other.ElementAt(0).IsEmpty());
}

TEST(BindingProperty, ClearKeepsKindEmptyAndArena) {
    BindingProperty tree = MakeRecord(6);
    tree.Clear();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_TRUE(tree.HasArena());
    tree.Field("again").SetString("works");
    EXPECT_EQ(tree.Find("again").GetString(), "works");

    BindingProperty nested = MakeRecord(7);
    nested.Field("tags").Clear();
    EXPECT_TRUE(nested.Find("tags").IsEmpty());
    EXPECT_EQ(nested.Find("name").GetString(), "n7");
}

TEST(BindingProperty, EqualityComparesWholeTrees) {
    EXPECT_TRUE(MakeRecord(1) == MakeRecord(1));
    EXPECT_FALSE(MakeRecord(1) == MakeRecord(2));
    BindingProperty a = MakeRecord(1);
    a.Field("tags").Append();
    EXPECT_FALSE(a == MakeRecord(1));
    BindingProperty s;
    s.SetSigned(std::int64_t{1});
    BindingProperty u;
    u.SetUnsigned(std::uint64_t{1});
    EXPECT_FALSE(s == u);
}

TEST(BindingResult, StartsOkAndEmpty) {
    Tavo::BindingResult result;
    EXPECT_TRUE(result.IsOk());
    EXPECT_TRUE(result.Value().IsEmpty());
    EXPECT_TRUE(result.Value().OwnsArena());
    EXPECT_EQ(result.ErrorMessage(), "");
}

TEST(BindingResult, FailHoldsTheMessageInAnErrorStructure) {
    Tavo::BindingResult result;
    result.Value().SetString("partial");
    result.Fail("could not convert 'x'");
    EXPECT_FALSE(result.IsOk());
    EXPECT_EQ(result.ErrorMessage(), "could not convert 'x'");
    EXPECT_EQ(Visit(result.Value()), "{1 error: 'could not convert 'x'' :error }");

    result.Fail(result.ErrorMessage());  // a message taken from the result itself
    EXPECT_EQ(result.ErrorMessage(), "could not convert 'x'");

    Tavo::BindingResult moved;
    moved = std::move(result);
    EXPECT_FALSE(moved.IsOk());
    EXPECT_EQ(moved.ErrorMessage(), "could not convert 'x'");

    moved.SetOk();
    EXPECT_TRUE(moved.IsOk());
    EXPECT_TRUE(moved.Value().IsEmpty());
    EXPECT_EQ(moved.ErrorMessage(), "");
}

TEST(BindingResult, ErrorMessageIsEmptyWhenTheErrorIsNotAString) {
    Tavo::BindingResult result;
    result.Fail("x");
    result.Value().Field("error").SetSigned(std::int64_t{1});
    EXPECT_EQ(result.ErrorMessage(), "");
}

}  // namespace
