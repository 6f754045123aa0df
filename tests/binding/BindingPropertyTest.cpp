#include "binding/BindingProperty.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/BindingPropertyArena.h"
#include "detail/BindingPropertyAccess.h"
#include "tests/binding/BindingTestValues.h"

namespace {

using Tavo::BindingProperty;
using Kind = Tavo::BindingProperty::Kind;
using Text = Tavo::BindingInternedString;
using namespace Tavo::Testing;

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
    void VisitString(const Text& value) override { Add("'" + std::string(value.View()) + "'"); }
    void VisitBlob(std::span<const std::uint8_t> bytes) override {
        Add("blob" + std::to_string(bytes.size()));
    }
    void VisitEnum(const Tavo::BindingEnumPayload& e) override {
        Add("enum" + std::to_string(e.value));
    }
    void BeginCollection(std::size_t count) override { Add("[" + std::to_string(count)); }
    void BeginElement(std::size_t index) override { Add("<" + std::to_string(index)); }
    void EndElement(std::size_t index) override { Add(std::to_string(index) + ">"); }
    void EndCollection() override { Add("]"); }
    void BeginStructure(std::size_t count) override { Add("{" + std::to_string(count)); }
    void BeginField(const Text& key) override { Add(std::string(key.View()) + ":"); }
    void EndField(const Text& key) override { Add(":" + std::string(key.View())); }
    void EndStructure() override { Add("}"); }

private:
    void Add(const std::string& token) { log += (log.empty() ? "" : " ") + token; }
};

std::string Visit(const BindingProperty& value) {
    RecordingVisitor visitor;
    value.Accept(visitor);
    return visitor.log;
}

// {"name": "n<i>", "id": i, "tags": ["a", "b"]}: a small tree to copy and move.
BindingProperty MakeRecord(int i) {
    return Structure({{"name", String("n" + std::to_string(i))},
                      {"id", Signed(i)},
                      {"tags", Collection({String("a"), String("b")})}});
}

TEST(BindingProperty, DefaultIsAnEmptyRootAndSettersStoreWhatStrictGettersReturn) {
    BindingProperty value;
    EXPECT_EQ(value.GetKind(), Kind::Empty);
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_TRUE(value.OwnsArena());
    EXPECT_FALSE(value.HasArena());
    const char* names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                           "string", "blob", "enum",   "collection", "structure"};
    for (int tag = 0; tag <= 10; ++tag) {
        EXPECT_STREQ(BindingProperty::KindName(static_cast<Kind>(tag)), tag < 10 ? names[tag] : "");
    }

    // Setters store exactly what the strict getters return.
    value.SetSigned(std::int32_t{-1});
    EXPECT_EQ(value.GetSigned(), -1);
    EXPECT_EQ(value.GetUnsigned(7), 7u);  // strict: no conversion
    EXPECT_EQ(value.GetFloat(-1.0), -1.0);
    value.SetUnsigned(std::uint32_t{0xFFFFFFFFu});
    EXPECT_EQ(value.GetUnsigned(), 4294967295u);
    EXPECT_EQ(value.GetSigned(7), 7);
    value.SetFloat(2.5);
    EXPECT_EQ(value.GetFloat(), 2.5);
    value.SetEnum(-2, Tavo::StaticType::Anonymous<Color>());
    EXPECT_EQ(value.GetEnum().value, -2);
    EXPECT_EQ(value.GetEnum().type, &Tavo::StaticType::Anonymous<Color>());
    EXPECT_EQ(value.Size(), 1u);
    std::vector<std::uint8_t> bytes(1000, 7);
    value.SetBlob(std::move(bytes));  // taken over, not copied
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(value.Size(), 1000u);
    EXPECT_EQ(value.GetBlob()[999], 7);
}

TEST(BindingProperty, AsInt64ReadsEveryKindLenientlyAndNeverOverflows) {
    const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    struct Row {
        const char* name;
        BindingProperty value;
        std::int64_t expected;
    };
    const Row rows[] = {
        {"empty gives the default", BindingProperty(), 99},
        {"true", Bool(true), 1},
        {"unsigned above the signed range wraps", Unsigned(UINT64_MAX), -1},
        {"enum", Enum<Color>(-2), -2},
        {"float truncates toward zero", Float(-3.9), -3},
        // Floats beyond the range saturate; NaN has no value.
        {"nan gives the default", Float(std::nan("")), 99},
        {"+inf saturates", Float(INFINITY), kMax},
        {"2^63 saturates", Float(9223372036854775808.0), kMax},
        {"-2^63 fits", Float(-9223372036854775808.0), kMin},
        {"-1e300 saturates", Float(-1e300), kMin},
        // Texts read as strtoll with base detection.
        {"text 42abc", String("42abc"), 42},
        {"text 0x10", String("0x10"), 16},
        {"text 010 is octal", String("010"), 8},
        {"text with blanks and sign", String("  -7"), -7},
        {"text abc", String("abc"), 0},
        {"text beyond int64 saturates", String("99999999999999999999999"), kMax},
        {"blob gives the default", Blob({}), 99},
        {"collection gives the default", Collection({}), 99},
        {"structure gives the default", Structure({}), 99},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.value.AsInt64(99), row.expected);
    }
}

TEST(BindingProperty, EmptyTextsNeedNoArenaAndEqualTextsShareOneRecord) {
    BindingProperty value = String("");
    EXPECT_EQ(value.GetKind(), Kind::String);
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_FALSE(value.HasArena());
    EXPECT_EQ(&value.GetInternedString(), &Text::Empty());
    value.SetString(static_cast<const char*>(nullptr));
    EXPECT_FALSE(value.HasArena());

    BindingProperty tree = Collection({String("same"), String(std::string("same"))});
    tree.Append().Field("same");
    tree.Append().Field("").SetString("");
    tree.Append().SetString(std::string_view("a\0b", 3));
    EXPECT_EQ(&tree.ElementAt(0).GetInternedString(), &tree.ElementAt(1).GetInternedString());
    EXPECT_EQ(&(*tree.ElementAt(2).Fields().begin()).key, &tree.ElementAt(0).GetInternedString());
    EXPECT_EQ(tree.ElementAt(0).GetInternedString().Hash(), Tavo::Fnv1a32("same"));
    EXPECT_EQ(&tree.ElementAt(3).Find("").GetInternedString(), &Text::Empty());
    EXPECT_EQ(tree.ElementAt(4).GetString(), std::string_view("a\0b", 3));
    EXPECT_EQ(BindingProperty(tree), tree);

    // The hash of every text is its FNV-1a, however the record was made:
    // read before or after the tree was copied, in the copy or the source.
    for (bool hashFirst : {true, false}) {
        SCOPED_TRACE(hashFirst);
        BindingProperty source;
        source.Field("key").SetString(std::string_view("a\0b", 3));
        source.Field("other").SetString("text");
        if (hashFirst) {
            EXPECT_EQ(source.Find("other").GetInternedString().Hash(), Tavo::Fnv1a32("text"));
        }
        const BindingProperty copy(source);
        const BindingProperty& readOnly = source;
        for (const BindingProperty* value : {&readOnly, &copy}) {
            for (BindingProperty::FieldRef field : value->Fields()) {
                EXPECT_EQ(field.key.Hash(), Tavo::Fnv1a32(field.key.View()));
                const Text& text = field.value.GetInternedString();
                EXPECT_EQ(text.Hash(), Tavo::Fnv1a32(text.View()));
            }
        }
    }
    EXPECT_EQ(Text::Empty().Hash(), Tavo::Fnv1a32(std::string_view()));
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

// Fields iterate in byte order of their names (unsigned bytes, as std::string
// compares them), whatever the insertion order and size.
TEST(BindingProperty, StructuresFindEveryFieldAndIterateInByteOrderOfNames) {
    BindingProperty object;
    std::set<std::string> names;
    auto add = [&](const std::string& name) {
        object.Field(name).SetString(name);
        names.insert(name);
    };
    for (const char* name : {"b", "a", "B", "ab", "\xC3\xA9", "", "a"}) {
        add(name);
    }
    // Common prefixes around 16 bytes, high bytes and NUL past them.
    const std::string prefix(16, 'p');
    for (const std::string& name :
         {prefix, prefix + "a", prefix + "\xFF", prefix.substr(0, 15) + "\xFF", prefix + "ab",
          prefix + std::string(1, '\0'), prefix + prefix + "\x80", prefix + prefix + "\x7F"}) {
        add(name);
    }
    for (int i = 0; i < 20000; ++i) {
        add("k" + std::to_string((i * 7919) % 20000));  // a scrambled order
    }
    ASSERT_EQ(object.Size(), names.size());
    std::vector<std::string> order;
    for (BindingProperty::FieldRef field : object.Fields()) {
        order.emplace_back(field.key.View());
    }
    EXPECT_TRUE(order == std::vector<std::string>(names.begin(), names.end()));
    for (const std::string& name : names) {
        ASSERT_EQ(object.Find(name).GetString(), name);
    }

    // Field on another kind replaces it with a structure.
    BindingProperty value = String("text");
    value.Field("x");
    EXPECT_EQ(value.GetKind(), Kind::Structure);
    EXPECT_EQ(value.Size(), 1u);
    EXPECT_NE(&value.Find("x"), &BindingProperty::EmptyValue());
}

TEST(BindingProperty, VisitorSeesKindsInIndexAndKeyOrder) {
    BindingProperty tree;
    tree.Field("b") = Collection({Signed(1), String("x")});
    tree.Field("a").SetBool(true);
    tree.Field("c");
    EXPECT_EQ(Visit(tree), "{3 a: true :a b: [2 <0 i1 0> <1 'x' 1> ] :b c: empty :c }");

    const BindingProperty leaves = Collection(
        {Unsigned(2), Float(0.5), Enum<Color>(-2), Blob({1, 2}), Collection({}), Structure({})});
    EXPECT_EQ(Visit(leaves),
              "[6 <0 u2 0> <1 f0.500000 1> <2 enum-2 2> <3 blob2 3> <4 [0 ] 4> <5 {0 } 5> ]");
}

TEST(BindingProperty, CopiesReinternIntoTheirTreeAndOutliveTheSource) {
    BindingProperty target;
    {
        const BindingProperty source = MakeRecord(1);
        target.Append().SetString("n1");
        target.Append() = source;
        EXPECT_FALSE(target.ElementAt(1).OwnsArena());
        // The copied text joined the target's existing record.
        EXPECT_EQ(&target.ElementAt(1).Find("name").GetInternedString(),
                  &target.ElementAt(0).GetInternedString());
    }
    EXPECT_EQ(target.ElementAt(1), MakeRecord(1));

    BindingProperty source = MakeRecord(2);
    const BindingProperty copy(source.Find("tags"));
    EXPECT_TRUE(copy.OwnsArena());
    source.Clear();
    EXPECT_EQ(copy, Collection({String("a"), String("b")}));
}

// A copy of a whole tree finds the target's records of texts it has met by
// the source record's address, and hangs each structure's fields as a chain
// balanced at the end. Every reference must still be counted exactly once
// (cleared one by one, the copy leaves only what the target held before),
// and copied structures take lookups and inserts like built ones.
TEST(BindingProperty, LargeCopiesCountEveryTextOnceAndKeepStructuresOpen) {
    BindingProperty source;
    for (int i = 0; i < 2000; ++i) {
        BindingProperty& item = source.Append();
        item.Field("name").SetString("name" + std::to_string(i % 100));
        item.Field("code").SetString("code" + std::to_string(i));
        item.Field("tags").Append().SetString("name" + std::to_string(i % 7));
    }
    std::set<std::string> names;
    BindingProperty& wide = source.Append();
    for (int i = 0; i < 300; ++i) {  // inserted out of order
        const std::string name = "f" + std::to_string(i * 7 % 300);
        names.insert(name);
        wide.Field(name).SetSigned(i);
    }
    BindingProperty target;
    target.Append().SetString("name5");
    Tavo::BindingPropertyArena& arena = Tavo::detail::BindingPropertyAccess::ArenaOf(target);
    target.Append() = source;
    ASSERT_EQ(target.ElementAt(1), source);
    EXPECT_EQ(&target.ElementAt(1).ElementAt(5).Find("name").GetInternedString(),
              &target.ElementAt(0).GetInternedString());
    EXPECT_EQ(arena.ReadStats().strings, 100u + 2000u + 3u + 300u);

    BindingProperty& copied = target.Element(1).Element(2000);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(copied.Find("f" + std::to_string(i)).GetSigned(-1), (i * 43) % 300)
            << "f" << i;  // field f(7k mod 300) holds k; 43 is 7's inverse mod 300
    }
    for (int i = 0; i < 300; ++i) {
        names.insert("g" + std::to_string(i));
        copied.Field("g" + std::to_string(i)).SetSigned(i);
    }
    std::vector<std::string> order;
    for (BindingProperty::FieldRef field : copied.Fields()) {
        order.emplace_back(field.key.View());
    }
    EXPECT_EQ(order, std::vector<std::string>(names.begin(), names.end()));

    for (BindingProperty& element : target.Element(1).Elements()) {
        element.Clear();
    }
    target.Element(1).Clear();
    EXPECT_EQ(arena.ReadStats().strings, 1u);
    EXPECT_EQ(target.ElementAt(0).GetString(), "name5");
}

TEST(BindingProperty, MoveBetweenRootsSwapsWithoutCopyingAndFromAChildCopies) {
    BindingProperty source = MakeRecord(3);
    const BindingProperty* field = &source.Find("id");
    BindingProperty target = String("old");
    target = std::move(source);
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(&target.Find("id"), field);
    BindingProperty constructed(std::move(target));
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_FALSE(target.HasArena());
    EXPECT_EQ(&constructed.Find("id"), field);

    BindingProperty tree = Collection({MakeRecord(4)});
    field = &tree.ElementAt(0).Find("id");
    BindingProperty fromChild(std::move(tree.Element(0)));
    EXPECT_TRUE(fromChild.OwnsArena());
    EXPECT_NE(&fromChild.Find("id"), field);
    EXPECT_EQ(fromChild, MakeRecord(4));
    EXPECT_TRUE(tree.ElementAt(0).IsEmpty());
    EXPECT_EQ(tree.Size(), 1u);
    BindingProperty other = Collection({MakeRecord(5)});
    tree.Element(0) = std::move(other.Element(0));  // child to child across trees
    EXPECT_EQ(tree.ElementAt(0), MakeRecord(5));
    EXPECT_TRUE(other.ElementAt(0).IsEmpty());
}

TEST(BindingProperty, ClearEmptiesKeepingTheArenaAndEqualityComparesWholeTrees) {
    BindingProperty tree = MakeRecord(6);
    tree.Field("tags").Clear();
    EXPECT_EQ(tree, Structure({{"name", String("n6")}, {"id", Signed(6)}, {"tags", {}}}));
    tree.Clear();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_TRUE(tree.HasArena());
    tree.Field("again").SetString("works");
    EXPECT_EQ(tree.Find("again").GetString(), "works");

    EXPECT_FALSE(MakeRecord(1) == MakeRecord(2));
    EXPECT_FALSE(tree == Structure({{"again", String("works")}, {"more", {}}}));
    EXPECT_FALSE(Signed(1) == Unsigned(1));
}

TEST(BindingResult, FailHoldsTheMessageInAnErrorStructureUntilSetOk) {
    Tavo::BindingResult result;
    EXPECT_TRUE(result.IsOk());
    EXPECT_TRUE(result.Value().IsEmpty());
    result.Value().SetString("partial");
    result.Fail("could not convert 'x'");
    EXPECT_FALSE(result.IsOk());
    EXPECT_EQ(result.Value(), Structure({{"error", String("could not convert 'x'")}}));
    result.Fail(result.ErrorMessage());  // a message taken from the result itself
    Tavo::BindingResult moved;
    moved = std::move(result);
    EXPECT_FALSE(moved.IsOk());
    EXPECT_EQ(moved.ErrorMessage(), "could not convert 'x'");

    moved.Value().Field("error").SetSigned(std::int64_t{1});
    EXPECT_EQ(moved.ErrorMessage(), "");  // the error is not a text
    moved.SetOk();
    EXPECT_TRUE(moved.IsOk());
    EXPECT_TRUE(moved.Value().IsEmpty());
}

TEST(BindingPropertyError, FailedLookupsReturnTheSharedEmptyValueAndCreateNothing) {
    const BindingProperty values[] = {Signed(1), Collection({{}}), Structure({{"a", {}}})};
    for (const BindingProperty& value : values) {
        SCOPED_TRACE(BindingProperty::KindName(value.GetKind()));
        EXPECT_EQ(&value.ElementAt(1), &BindingProperty::EmptyValue());
        EXPECT_EQ(&value.Find("b"), &BindingProperty::EmptyValue());
        EXPECT_EQ(value.Size(), 1u);
    }
    EXPECT_TRUE(values[0].Elements().empty());
    EXPECT_TRUE(values[0].Fields().empty());
}

TEST(BindingPropertyError, GrowingBeyondTheLimitRaisesTheLengthErrorAndChangesNothing) {
    BindingProperty list = Collection({});
    const std::function<void()> actions[] = {
        [&] { list.Reserve(BindingProperty::kMaxElements + 1); },
        [&] { list.Reserve(std::numeric_limits<std::size_t>::max()); },
        [&] { list.Element(BindingProperty::kMaxElements); },
    };
    for (const auto& action : actions) {
        try {
            action();
            ADD_FAILURE() << "no length error";
        } catch (const std::length_error& error) {
            EXPECT_STREQ(error.what(), "vector<T> too long");
        }
    }
    EXPECT_EQ(list.Size(), 0u);
    list.Append().SetBool(true);
    EXPECT_TRUE(list.ElementAt(0).GetBool());
}

TEST(BindingPropertyError, SettersAndAssignmentsAcceptValuesFromTheirOwnTree) {
    const std::string_view longText = "a text long enough to need its own block, not an inline one";
    BindingProperty value = String(longText);
    value.SetString(value.GetString());
    EXPECT_EQ(value.GetString(), longText);
    value.Field(value.GetString());  // the name is the string being replaced
    EXPECT_EQ((*value.Fields().begin()).key.View(), longText);

    BindingProperty list = Collection({String("element")});
    list.Field(list.ElementAt(0).GetString()).SetBool(true);
    EXPECT_EQ(list, Structure({{"element", Bool(true)}}));

    BindingProperty blob;
    blob.SetBlob(std::vector<std::uint8_t>(100, 3));
    blob.SetBlob(blob.GetBlob());
    EXPECT_EQ(blob.Size(), 100u);
    EXPECT_EQ(blob.GetBlob()[99], 3);

    BindingProperty child = Collection({String("kept")});
    child.Element(0) = child.ElementAt(0);  // self by another path: a leaf in the same tree
    child.Append() = child.ElementAt(0);
    EXPECT_EQ(child.ElementAt(1).GetString(), "kept");
    EXPECT_EQ(&child.ElementAt(0).GetInternedString(), &child.ElementAt(1).GetInternedString());

    // Copy a tree into its own child, then that child over its root.
    BindingProperty tree = Structure({{"name", String("root")}});
    tree.Field("child") = tree;  // the copy already holds the new, empty "child"
    const BindingProperty copy = Structure({{"name", String("root")}, {"child", {}}});
    EXPECT_EQ(tree.Find("child"), copy);
    tree = tree.Find("child");
    EXPECT_EQ(tree, copy);

    // Move a grandchild into its parent's place, then a child over its root.
    BindingProperty nested = Collection({Collection({String("deep")})});
    nested.Element(0) = std::move(nested.Element(0).Element(0));
    EXPECT_EQ(nested.ElementAt(0).GetString(), "deep");
    nested.Element(0).Field("x").SetSigned(std::int64_t{5});
    nested = std::move(nested.Element(0));
    EXPECT_EQ(nested, Structure({{"x", Signed(5)}}));

    // Move a root into its own child: the child goes with the cleared source.
    BindingProperty root = Collection({Bool(true)});
    BindingProperty& inner = root.Element(0);
    inner = std::move(root);
    EXPECT_TRUE(root.IsEmpty());
}

// Nests `depth` containers over a string, alternating collections and
// structures when `mixed`; returns the visit the tree must produce.
std::string BuildNested(BindingProperty& root, std::size_t depth, bool mixed) {
    std::string visit;
    std::vector<const char*> closers;
    BindingProperty* current = &root;
    for (std::size_t level = 0; level < depth; ++level) {
        const bool field = mixed && level % 2 == 1;
        current = field ? &current->Field("next") : &current->Append();
        visit += field ? "{1 next: " : "[1 <0 ";
        closers.push_back(field ? " :next }" : " 0> ]");
    }
    current->SetString("bottom");
    visit += "'bottom'";
    for (auto closer = closers.rbegin(); closer != closers.rend(); ++closer) {
        visit += *closer;
    }
    return visit;
}

// Trees built from outside input can be nested far deeper than any reader
// allows: every walk over a tree must go without the call stack.
TEST(BindingPropertyDepth, DeepTreesCopyVisitCompareClearAndDrop) {
    for (const bool mixed : {false, true}) {
        SCOPED_TRACE(mixed ? "collections and structures" : "collections");
        BindingProperty tree;
        const std::string visit = BuildNested(tree, 100000, mixed);
        BindingProperty copy(tree);
        EXPECT_TRUE(copy == tree);
        EXPECT_TRUE(Visit(copy) == visit);  // not EXPECT_EQ: the texts are megabytes long

        // Into a child of another tree, then cleared there (a child's release walk).
        BindingProperty holder;
        holder.Append() = tree;
        EXPECT_TRUE(Visit(holder.ElementAt(0)) == visit);
        holder.Element(0).Clear();
        EXPECT_TRUE(holder.ElementAt(0).IsEmpty());

        // A setter on a deep root releases the old tree in place; `tree` is
        // dropped whole at the end of the scope.
        copy.SetString("flat");
        EXPECT_EQ(copy.GetString(), "flat");
    }
}

}  // namespace
