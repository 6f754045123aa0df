#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/Converters.h"
#include "tests/binding/BindingTestTypes.h"
#include "tests/binding/BindingTestValues.h"

namespace Tavo {
namespace {

using namespace Testing;

class ConversionError : public ::testing::Test {
protected:
    ConversionError() { RegisterAllKinds(registry_); }
    BindingRegistry registry_;
};

TEST_F(ConversionError, FieldRulesReportTheirMessagesWordForWord) {
    struct Row {
        const char* field;
        BindingProperty input;
        const char* message;
    };
    const Row rows[] = {
        // Integer texts: format first, then range.
        {"u8", String("300"), "Value 300 for 'u8' of type uint8 is out of range"},
        {"u8", String("12abc"), "Value 12abc for 'u8' of type uint8 is in an incorrect format"},
        {"u8", String(" "), "Value   for 'u8' of type uint8 is in an incorrect format"},
        {"u64", String("-1"), "Value -1 for 'u64' of type uint64 is out of range"},
        {"u64", String(" -1"), "Value  -1 for 'u64' of type uint64 is out of range"},
        {"u64", String("18446744073709551616"),
         "Value 18446744073709551616 for 'u64' of type uint64 is out of range"},
        {"i64", String("9223372036854775808"),
         "Value 9223372036854775808 for 'i64' of type int64 is out of range"},
        {"i32", String("5 "), "Value 5  for 'i32' of type int32 is in an incorrect format"},
        // Integers from numbers and enums.
        {"i8", Signed(200), "Value 200 for 'i8' of type int8 is out of range"},
        {"i32", Unsigned(3000000000u), "Value 3000000000 for 'i32' of type int32 is out of range"},
        {"u32", Float(-1.0), "Value -1 for 'u32' of type uint32 is out of range"},
        {"u32", Signed(-1), "Value -1 for 'u32' of type uint32 is out of range"},
        {"i32", Float(2147483648.0), "Value 2.14748e+09 for 'i32' of type int32 is out of range"},
        {"i32", Float(std::nan("")), "Value nan for 'i32' of type int32 is out of range"},
        {"i64", Float(9223372036854775808.0),
         "Value 9.22337e+18 for 'i64' of type int64 is out of range"},
        {"u64", Float(18446744073709551616.0),
         "Value 1.84467e+19 for 'u64' of type uint64 is out of range"},
        {"i8", Enum<SessionState>(300), "Value 300 for 'i8' of type int8 is out of range"},
        {"u8", Enum<SessionState>(-1), "Value -1 for 'u8' of type uint8 is out of range"},
        {"i32", Bool(true),
         "Couldn't assign value to 'i32' of type int32 because the input is of an invalid type "
         "bool."},
        {"u16", Collection({}),
         "Couldn't assign value to 'u16' of type uint16 because the input is of an invalid type "
         "collection."},
        // Floating point.
        {"f32", String("1e39"), "Value 1e39 for 'f32' of type float is out of range"},
        {"f64", String("1e400"), "Value 1e400 for 'f64' of type double is out of range"},
        {"f64", String("1.5x"), "Value 1.5x for 'f64' of type double is in an incorrect format"},
        {"f64", Float(INFINITY), "Value inf for 'f64' of type double is out of range"},
        {"f32", Float(1e39), "Value 1e+39 for 'f32' of type float is out of range"},
        {"f32", Blob({}),
         "Couldn't assign value to 'f32' of type float because the input is of an invalid type "
         "blob."},
        // Bool.
        {"flag", String("TRUE"),
         "Value TRUE for 'flag' of type bool is in an incorrect format. Options are \"true\", "
         "\"false\", \"1\", \"0\"."},
        {"flag", Signed(1),
         "Couldn't assign value to 'flag' of type bool because the input is of an invalid type "
         "signed."},
        // Enums.
        {"state", Signed(7), "7 is not a valid LoginSessionStates enumeration value for 'state'."},
        {"state", String("BOGUS"),
         "BOGUS is not a valid LoginSessionStates enumeration value for 'state'."},
        {"state", String("7"),
         "7 is not a valid LoginSessionStates enumeration value for 'state'."},
        {"state", Unsigned(4294967297u),
         "4294967297 is not a valid LoginSessionStates enumeration value for 'state'."},
        {"state", Enum<Tiny>(9),
         "9 is not a valid LoginSessionStates enumeration value for 'state'."},
        {"state", Float(1.0),
         "Couldn't assign value to 'state' of enum type because the input is of an invalid type "
         "float."},
        // Blobs and strings.
        {"blob", String("AQ-D"),
         "Couldn't assign string value to 'blob' of type blob because the input has invalid "
         "base64 characters."},
        {"blob", Signed(1),
         "Couldn't assign value to 'blob' of type blob because the input is not a blob."},
        {"text", Unsigned(5), "Couldn't assign value to 'text' because the input is not a string."},
        {"text", Enum<SessionState>(9), "9 is not a valid enumeration value for 'text'."},
        // Containers report under the name of the field that holds them.
        {"numbers", String("1,2"),
         "Couldn't assign value to 'numbers' of type vector because the input not a collection."},
        {"numbers", Collection({Signed(1), String("x")}),
         "Value x for 'numbers' of type int32 is in an incorrect format"},
        {"counts", Collection({}),
         "Couldn't assign value to 'counts' of type map because the input not a structure."},
        {"counts", Structure({{"a", Float(0.5)}, {"b", String("no")}}),
         "Value no for 'counts' of type int64 is in an incorrect format"},
        {"inner", String("x"),
         "Couldn't assign value to 'inner' of type Inner because the input not a structure."},
        {"inners", Collection({String("x")}),
         "Couldn't assign value to 'inners' of type Inner because the input not a structure."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        BindingResult context;
        AllKinds all;
        FromProperty(context, all, Structure({{row.field, row.input}}), "<value>", registry_);
        EXPECT_FALSE(context.IsOk());
        EXPECT_EQ(context.ErrorMessage(), row.message);
        EXPECT_EQ(context.Value().Size(), 1u);
    }
}

TEST_F(ConversionError, EmptyTopLevelInputIsRequiredExceptForCollectionsAndObjects) {
    struct Row {
        const char* label;
        void (*convert)(BindingResult&, const BindingRegistry&);
        const char* message;
    };
    const BindingProperty empty;
    const Row rows[] = {
        {"struct",
         [](BindingResult& c, const BindingRegistry& r) {
             Session s;
             FromProperty(c, s, BindingProperty(), "<value>", r);
         },
         "A value for '<value>' is required."},
        {"integer",
         [](BindingResult& c, const BindingRegistry& r) {
             std::int32_t i = 0;
             FromProperty(c, i, BindingProperty(), "<value>", r);
         },
         "A value for '<value>' is required."},
        {"enum",
         [](BindingResult& c, const BindingRegistry& r) {
             SessionState s{};
             FromProperty(c, s, BindingProperty(), "<value>", r);
         },
         "A value for '<value>' is required."},
        {"vector",
         [](BindingResult& c, const BindingRegistry& r) {
             std::vector<std::int32_t> v;
             FromProperty(c, v, BindingProperty(), "<value>", r);
         },
         "Couldn't assign value to '<value>' of type vector because the input not a collection."},
        {"vector of bool",
         [](BindingResult& c, const BindingRegistry& r) {
             std::vector<bool> v;
             FromProperty(c, v, BindingProperty(), "<value>", r);
         },
         "A value for '<value>' is required."},
        {"map",
         [](BindingResult& c, const BindingRegistry& r) {
             std::map<std::string, bool> m;
             FromProperty(c, m, BindingProperty(), "<value>", r);
         },
         "Couldn't assign value to '<value>' of type map because the input not a structure."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        BindingResult context;
        row.convert(context, registry_);
        EXPECT_EQ(context.ErrorMessage(), row.message);
    }
    BindingResult context;
    BindingProperty object = String("old");
    FromProperty(context, object, empty, "<value>", registry_);
    EXPECT_TRUE(context.IsOk());
    EXPECT_TRUE(object.IsEmpty());
}

TEST_F(ConversionError, UnregisteredStructsFailInBothDirections) {
    BindingRegistry empty;
    BindingResult context;
    Inner inner;
    FromProperty(context, inner, Structure({{"number", Signed(1)}}), "<value>", empty);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to '<value>' because the input is an unregistered structure "
              "or not a structure at all.");

    const char* unregistered =
        "Couldn't convert native value because it's an unregistered structure.";
    EXPECT_EQ(ToProperty(inner, empty).ErrorMessage(), unregistered);
    const BindingResult list = ToProperty(std::vector<Inner>{{}, {}}, empty);
    EXPECT_FALSE(list.IsOk());
    EXPECT_EQ(list.ErrorMessage(), unregistered);
    EXPECT_EQ(list.Value().Size(), 1u);

    SessionState state{};
    FromProperty(context = BindingResult(), state, Signed(1), "s", empty);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to 's' because its enumeration type is not registered.");
}

struct Keyed {
    std::uint32_t id = 0;
    std::string name;
};

TEST_F(ConversionError, MissingRequiredFieldNamesTheStructAndTheField) {
    registry_.DeclareStruct<Keyed>("Keyed")
        .AddField("id", &Keyed::id, "", kBindingRequired)
        .AddField("name", &Keyed::name);
    BindingResult context;
    Keyed keyed;
    FromProperty(context, keyed, Structure({{"name", String("n")}, {"id", BindingProperty()}}),
                 "<value>", registry_);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to '<value>' of type Keyed because the input structure "
              "doesn't have required field 'id'.");
    EXPECT_EQ(keyed.name, "");
}

TEST_F(ConversionError, FirstFailureSurvivesAndStopsTheConversion) {
    AllKinds all;
    all.u8 = 9;
    all.text = "kept";
    BindingResult context;
    FromProperty(context, all,
                 Structure({{"text", String("new")},
                            {"flag", Bool(true)},
                            {"i8", Signed(200)},
                            {"u8", String("300")},
                            {"i32", Signed(4)}}),
                 "<value>", registry_);
    EXPECT_EQ(context.ErrorMessage(), "Value 200 for 'i8' of type int8 is out of range");
    EXPECT_TRUE(all.flag);  // converted before the failure
    EXPECT_EQ(all.i8, 0);   // the failed target is zeroed
    EXPECT_EQ(all.u8, 9);   // never reached
    EXPECT_EQ(all.i32, 0);
    EXPECT_EQ(all.text, "kept");
}

TEST_F(ConversionError, FailedContextMakesConvertersDoNothing) {
    BindingResult context;
    context.Fail("earlier");
    std::int32_t number = 5;
    FromProperty(context, number, Signed(6), "n", registry_);
    std::string text = "kept";
    FromProperty(context, text, String("new"), "t", registry_);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(context.ErrorMessage(), "earlier");
}

struct Node {
    std::int32_t value = 0;
    std::vector<Node> children;
};

TEST_F(ConversionError, DeeplyNestedInputIsRefusedBeforeTheStackRunsOut) {
    registry_.DeclareStruct<Node>("Node")
        .AddField("value", &Node::value)
        .AddField("children", &Node::children);
    BindingProperty root;
    BindingProperty* level = &root;
    for (int i = 0; i < 5000; ++i) {
        level = &level->Field("children").Append();
        level->MakeStructure();
    }
    BindingResult context;
    Node node;
    FromProperty(context, node, root, "<value>", registry_);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to 'children' because the input is nested more than 1000 "
              "structures deep.");

    BindingProperty shallow;
    shallow.Field("children").Append().Field("value").SetSigned(std::int64_t{3});
    FromProperty(context = BindingResult(), node, shallow, "<value>", registry_);
    ASSERT_TRUE(context.IsOk()) << context.ErrorMessage();
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0].value, 3);
}

}  // namespace
}  // namespace Tavo
