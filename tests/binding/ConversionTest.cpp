#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/Converters.h"
#include "binding/HostValueConvert.h"
#include "tests/binding/BindingTestTypes.h"
#include "tests/binding/BindingTestValues.h"

namespace Tavo {
namespace {

using namespace Testing;

class Conversion : public ::testing::Test {
protected:
    Conversion() { RegisterAllKinds(registry_); }

    template <class T>
    T Convert(const BindingProperty& input, T start = T{}) {
        BindingResult context;
        T out = std::move(start);
        FromProperty(context, out, input, "value", registry_);
        EXPECT_TRUE(context.IsOk()) << context.ErrorMessage();
        return out;
    }

    BindingRegistry registry_;
};

// Every scalar at one of its limits and every container filled, with empty
// and repeated members: a start from which a rule that writes zero shows,
// and a round-trip case.
AllKinds Extremes() {
    AllKinds all;
    all.flag = true;
    all.i8 = INT8_MIN;
    all.u8 = UINT8_MAX;
    all.i16 = INT16_MIN;
    all.u16 = UINT16_MAX;
    all.i32 = INT32_MIN;
    all.u32 = UINT32_MAX;
    all.i64 = INT64_MIN;
    all.u64 = UINT64_MAX;
    all.f32 = std::numeric_limits<float>::max();
    all.f64 = std::numeric_limits<double>::lowest();
    all.text = "h\xC3\xA9llo \"quoted\"";
    all.object = Structure({{"list", Collection({Signed(-1), Unsigned(2), Float(0.5)})},
                            {"nothing", BindingProperty()},
                            {"bytes", Blob({0, 255})}});
    all.blob = {0, 255};
    all.numbers = {3, -2, 1};
    all.flags = {true, false, true};
    all.texts = {"", "b", "a"};
    all.inners = {{1, "one"}, {}, {-2, "minus two"}};
    all.grid = {{1}, {}, {2, 3}};
    all.counts = {{"z", 1}, {"a", -1}, {"", 0}};
    all.named = {{"b", {2, "bee"}}, {"a", {1, "ay"}}};
    all.state = LOGGING_OUT;
    all.tiny = Tiny::Big;
    all.shortEnum = Short::Minus;
    all.wide = Wide::Low;
    all.inner = {42, "answer"};
    return all;
}

// Each row converts one field from a default struct and from Extremes(); the
// field is read back through ToProperty, which also checks the dynamic kind
// each native kind becomes.
TEST_F(Conversion, ScalarFieldsTakeEveryInputTheirRuleAccepts) {
    const BindingProperty tree = Structure({{"a", Collection({Signed(1), String("x")})}});
    struct Row {
        const char* field;
        BindingProperty input;
        BindingProperty expected;
    };
    const Row rows[] = {
        // Signed integers.
        {"i32", Float(2.9), Signed(2)},
        {"i32", Float(-3.7), Signed(-3)},
        {"i32", String(" 42"), Signed(42)},
        {"i32", String("0x10"), Signed(16)},
        {"i32", String("017"), Signed(15)},
        {"i32", String(""), Signed(0)},
        {"i32", Unsigned(5), Signed(5)},
        {"i32", Enum<SessionState>(3), Signed(3)},
        {"i8", Signed(-128), Signed(-128)},
        {"i16", String("-0x10"), Signed(-16)},
        {"i64", String("-9223372036854775808"), Signed(INT64_MIN)},
        // Unsigned integers.
        {"u8", String("0x1F"), Unsigned(31)},
        {"u8", Unsigned(255), Unsigned(255)},
        {"u8", Signed(7), Unsigned(7)},
        {"u8", Float(3.7), Unsigned(3)},
        {"u16", Enum<SessionState>(2), Unsigned(2)},
        {"u32", Float(4294967295.0), Unsigned(UINT32_MAX)},
        {"u64", String("18446744073709551615"), Unsigned(UINT64_MAX)},
        {"u64", Float(1e19), Unsigned(10000000000000000000ull)},
        // Bool: the value or one of four exact texts.
        {"flag", Bool(false), Bool(false)},
        {"flag", String("1"), Bool(true)},
        {"flag", String("true"), Bool(true)},
        {"flag", String("0"), Bool(false)},
        {"flag", String("false"), Bool(false)},
        // Floating point, stored in the target's width.
        {"f64", String("1.5"), Float(1.5)},
        {"f64", String(""), Float(0)},
        {"f64", Signed(-3), Float(-3)},
        {"f64", Unsigned(UINT64_MAX), Float(18446744073709551615.0)},
        {"f64", Enum<SessionState>(2), Float(2)},
        {"f32", Float(1e38), Float(1e38f)},
        {"f32", Float(0.1), Float(0.1f)},
        // Texts and enum names.
        {"text", String("abc"), String("abc")},
        {"text", Enum<SessionState>(1), String("SUCCEEDED")},
        // Enums by name, by number and from another enum, in every width.
        {"state", String("SUCCEEDED"), Enum<SessionState>(1)},
        {"state", String("1"), Enum<SessionState>(1)},
        {"state", String("0x3"), Enum<SessionState>(3)},
        {"state", Unsigned(3), Enum<SessionState>(3)},
        {"state", Signed(0), Enum<SessionState>(0)},
        {"state", Enum<Tiny>(1), Enum<SessionState>(1)},
        {"tiny", Unsigned(200), Enum<Tiny>(200)},
        {"shortEnum", String("Minus"), Enum<Short>(-2)},
        {"wide", Signed(-7), Enum<Wide>(-7)},
        // Blobs from bytes or Base64 text; objects copy anything.
        {"blob", String("AQID"), Blob({1, 2, 3})},
        {"blob", Blob({9, 8}), Blob({9, 8})},
        {"blob", String(""), Blob({})},
        {"blob", String("+/9=YWJj"), Blob({0xFB, 0xFF})},  // "=" may stand anywhere
        {"object", tree, tree},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.field) + ", row " + std::to_string(&row - rows));
        for (const AllKinds& start : {AllKinds{}, Extremes()}) {
            const AllKinds all = Convert<AllKinds>(Structure({{row.field, row.input}}), start);
            EXPECT_EQ(ToProperty(all, registry_).Value().Find(row.field), row.expected);
        }
    }
    EXPECT_TRUE(std::isnan(Convert<double>(Float(std::nan("")))));
    EXPECT_TRUE(std::isnan(Convert<float>(String("nan"))));
}

TEST_F(Conversion, MissingFieldsStayAsTheyWereAndExtraFieldsAreIgnored) {
    const Session session = Convert<Session>(Structure({{"state", String("SUCCEEDED")},
                                                        {"summonerId", BindingProperty()},
                                                        {"unknown", String("ignored")}}),
                                             Session{LOGGING_OUT, 5, 6});
    EXPECT_EQ(session, (Session{SUCCEEDED, 5, 6}));
}

TEST_F(Conversion, ContainersLeaveEmptyElementsZeroAndSkipEmptyFields) {
    const BindingProperty input = Structure({
        {"numbers", Collection({Signed(1), BindingProperty(), Signed(3)})},
        {"flags", Collection({BindingProperty(), Bool(true)})},
        {"inners", Collection({BindingProperty(), Structure({{"number", Signed(4)}})})},
        {"grid", Collection({Collection({Unsigned(1), Unsigned(2)}), Collection({})})},
        {"counts", Structure({{"b", Signed(2)}, {"a", String("1")}, {"skip", BindingProperty()}})},
        {"named", Structure({{"x", Structure({{"label", String("ex")}})}})},
    });
    AllKinds start;
    start.numbers = {9, 9, 9, 9};
    start.counts["stale"] = 9;  // containers are cleared first
    const AllKinds all = Convert<AllKinds>(input, start);
    EXPECT_EQ(all.numbers, (std::vector<std::int32_t>{1, 0, 3}));
    EXPECT_EQ(all.flags, (std::vector<bool>{false, true}));
    EXPECT_EQ(all.inners, (std::vector<Inner>{{}, {4, ""}}));
    EXPECT_EQ(all.grid, (std::vector<std::vector<std::uint16_t>>{{1, 2}, {}}));
    EXPECT_EQ(all.counts, (std::map<std::string, std::int64_t>{{"a", 1}, {"b", 2}}));
    EXPECT_EQ(all.named, (std::unordered_map<std::string, Inner>{{"x", {0, "ex"}}}));
}

TEST_F(Conversion, TextsBecomeStringValues) {
    EXPECT_EQ(ToProperty("literal", registry_).Value(), String("literal"));
    EXPECT_EQ(ToProperty(static_cast<const char*>(nullptr), registry_).Value(), String(""));
    EXPECT_EQ(ToProperty(std::string("owned"), registry_).Value(), String("owned"));
}

struct Sparse {
    std::int32_t count = 0;
    double ratio = 0.0;
    std::string name;
    std::vector<std::int32_t> list;
    Testing::SessionState state = Testing::IN_PROGRESS;
    bool kept = false;
};

TEST_F(Conversion, OmitWhenDefaultDropsOnlyDefaultValues) {
    registry_.DeclareStruct<Sparse>("Sparse")
        .AddField("count", &Sparse::count, "", kBindingOmitWhenDefault)
        .AddField("ratio", &Sparse::ratio, "", kBindingOmitWhenDefault)
        .AddField("name", &Sparse::name, "", kBindingOmitWhenDefault)
        .AddField("list", &Sparse::list, "", kBindingOmitWhenDefault)
        .AddField("state", &Sparse::state, "", kBindingOmitWhenDefault)
        .AddField("kept", &Sparse::kept);
    Sparse sparse;
    sparse.ratio = -0.0;
    BindingResult result = ToProperty(sparse, registry_);
    ASSERT_TRUE(result.IsOk());
    EXPECT_EQ(result.Value(), Structure({{"kept", Bool(false)}}));

    sparse.ratio = std::nan("");
    sparse.list = {0};
    sparse.state = Testing::ERROR;
    result = ToProperty(sparse, registry_);
    EXPECT_EQ(result.Value().Size(), 4u);
    EXPECT_FALSE(result.Value().Find("ratio").IsEmpty());
    EXPECT_FALSE(result.Value().Find("list").IsEmpty());
}

// Native -> dynamic -> host -> dynamic -> native keeps every value.
TEST_F(Conversion, RoundTripThroughHostValuesKeepsEveryValue) {
    const std::pair<const char*, AllKinds> cases[] = {{"defaults", AllKinds{}},
                                                      {"extremes", Extremes()}};
    for (const auto& [label, original] : cases) {
        SCOPED_TRACE(label);
        const BindingResult dynamic = ToProperty(original, registry_);
        ASSERT_TRUE(dynamic.IsOk()) << dynamic.ErrorMessage();

        HostValue host{};
        ASSERT_TRUE(HostValueFromProperty(host, dynamic.Value(), &registry_));
        const BindingResult back = PropertyFromHostValue(host, "<value>");
        ResetHostValue(host);
        ASSERT_TRUE(back.IsOk()) << back.ErrorMessage();

        BindingResult context;
        AllKinds copy;
        FromProperty(context, copy, back.Value(), "<value>", registry_);
        ASSERT_TRUE(context.IsOk()) << context.ErrorMessage();
        EXPECT_EQ(copy, original);
    }
}

// Failures: the first one stops the conversion and its message survives.
class ConversionError : public Conversion {};

// The messages word for word, with %1, %2 and %3 for what each row fills in.
constexpr const char* kRange = "Value %1 for '%2' of type %3 is out of range";
constexpr const char* kFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr const char* kInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr const char* kBoolOptions =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
constexpr const char* kNotEnumValue = "%1 is not a valid %2 enumeration value for '%3'.";
constexpr const char* kNotCollection =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr const char* kNotStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
constexpr const char* kNotBase64 =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";

std::string Fill(std::string pattern, std::initializer_list<std::string_view> values) {
    int number = 1;
    for (std::string_view value : values) {
        const std::string mark = "%" + std::to_string(number++);
        pattern.replace(pattern.find(mark), mark.size(), value);
    }
    return pattern;
}

TEST_F(ConversionError, FieldRulesReportTheirMessagesWordForWord) {
    struct Row {
        const char* field;
        BindingProperty input;
        std::string message;
    };
    const Row rows[] = {
        // Integer texts: format first, then range; a text shows up to an embedded NUL.
        {"u8", String("300"), Fill(kRange, {"300", "u8", "uint8"})},
        {"u8", String("12abc"), Fill(kFormat, {"12abc", "u8", "uint8"})},
        {"u8", String(std::string_view("12\0abc", 6)), Fill(kFormat, {"12", "u8", "uint8"})},
        {"u8", String(" "), Fill(kFormat, {" ", "u8", "uint8"})},
        {"u64", String("-1"), Fill(kRange, {"-1", "u64", "uint64"})},
        {"u64", String(" -1"), Fill(kRange, {" -1", "u64", "uint64"})},
        {"u64", String("18446744073709551616"),
         Fill(kRange, {"18446744073709551616", "u64", "uint64"})},
        {"i64", String("9223372036854775808"),
         Fill(kRange, {"9223372036854775808", "i64", "int64"})},
        {"i32", String("5 "), Fill(kFormat, {"5 ", "i32", "int32"})},
        // Integers from numbers (floats printed as by %g) and enums.
        {"i8", Signed(200), Fill(kRange, {"200", "i8", "int8"})},
        {"i32", Unsigned(3000000000u), Fill(kRange, {"3000000000", "i32", "int32"})},
        {"u32", Float(-1.0), Fill(kRange, {"-1", "u32", "uint32"})},
        {"u32", Signed(-1), Fill(kRange, {"-1", "u32", "uint32"})},
        {"i32", Float(2147483648.0), Fill(kRange, {"2.14748e+09", "i32", "int32"})},
        {"i32", Float(std::nan("")), Fill(kRange, {"nan", "i32", "int32"})},
        {"i64", Float(9223372036854775808.0), Fill(kRange, {"9.22337e+18", "i64", "int64"})},
        {"u64", Float(18446744073709551616.0), Fill(kRange, {"1.84467e+19", "u64", "uint64"})},
        {"i8", Enum<SessionState>(300), Fill(kRange, {"300", "i8", "int8"})},
        {"u8", Enum<SessionState>(-1), Fill(kRange, {"-1", "u8", "uint8"})},
        {"i32", Bool(true), Fill(kInvalidType, {"i32", "int32", "bool"})},
        // Floating point.
        {"f32", String("1e39"), Fill(kRange, {"1e39", "f32", "float"})},
        {"f64", String("1e400"), Fill(kRange, {"1e400", "f64", "double"})},
        {"f64", String("1.5x"), Fill(kFormat, {"1.5x", "f64", "double"})},
        {"f64", Float(INFINITY), Fill(kRange, {"inf", "f64", "double"})},
        {"f32", Float(1e39), Fill(kRange, {"1e+39", "f32", "float"})},
        {"f32", Blob({}), Fill(kInvalidType, {"f32", "float", "blob"})},
        // Bool.
        {"flag", String("TRUE"), Fill(kBoolOptions, {"TRUE", "flag"})},
        {"flag", Signed(1), Fill(kInvalidType, {"flag", "bool", "signed"})},
        // Enums.
        {"state", Signed(7), Fill(kNotEnumValue, {"7", "LoginSessionStates", "state"})},
        {"state", String("BOGUS"), Fill(kNotEnumValue, {"BOGUS", "LoginSessionStates", "state"})},
        {"state", String("7"), Fill(kNotEnumValue, {"7", "LoginSessionStates", "state"})},
        {"state", Unsigned(4294967297u),
         Fill(kNotEnumValue, {"4294967297", "LoginSessionStates", "state"})},
        {"state", Enum<Tiny>(9), Fill(kNotEnumValue, {"9", "LoginSessionStates", "state"})},
        {"state", Float(1.0),
         "Couldn't assign value to 'state' of enum type because the input is of an invalid type "
         "float."},
        // Blobs and strings.
        {"blob", String("AQ-D"), Fill(kNotBase64, {"blob"})},  // only A-Z, a-z, 0-9, +, / and =
        {"blob", String("YW_j"), Fill(kNotBase64, {"blob"})},
        {"blob", String("YW Jj"), Fill(kNotBase64, {"blob"})},
        {"blob", String("YWJj\xC3\xA9"), Fill(kNotBase64, {"blob"})},
        {"blob", String(std::string_view("YW\0j", 4)), Fill(kNotBase64, {"blob"})},
        {"blob", Signed(1),
         "Couldn't assign value to 'blob' of type blob because the input is not a blob."},
        {"text", Unsigned(5), "Couldn't assign value to 'text' because the input is not a string."},
        {"text", Enum<SessionState>(9), "9 is not a valid enumeration value for 'text'."},
        // Containers report under the name of the field that holds them.
        {"numbers", String("1,2"), Fill(kNotCollection, {"numbers"})},
        {"numbers", Collection({Signed(1), String("x")}), Fill(kFormat, {"x", "numbers", "int32"})},
        {"counts", Collection({}), Fill(kNotStructure, {"counts", "map"})},
        {"counts", Structure({{"a", Float(0.5)}, {"b", String("no")}}),
         Fill(kFormat, {"no", "counts", "int64"})},
        {"inner", String("x"), Fill(kNotStructure, {"inner", "Inner"})},
        {"inners", Collection({String("x")}), Fill(kNotStructure, {"inners", "Inner"})},
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

// Converts an empty value into a fresh T at the top level; returns the message.
template <class T>
std::string FromEmpty(const BindingRegistry& registry) {
    BindingResult context;
    T target{};
    FromProperty(context, target, BindingProperty(), "<value>", registry);
    return std::string(context.ErrorMessage());
}

TEST_F(ConversionError, EmptyTopLevelInputIsRequiredExceptForCollectionsAndObjects) {
    const std::string required = "A value for '<value>' is required.";
    EXPECT_EQ(FromEmpty<Session>(registry_), required);
    EXPECT_EQ(FromEmpty<std::int32_t>(registry_), required);
    EXPECT_EQ(FromEmpty<SessionState>(registry_), required);
    EXPECT_EQ(FromEmpty<std::vector<bool>>(registry_), required);
    EXPECT_EQ(FromEmpty<std::vector<std::int32_t>>(registry_), Fill(kNotCollection, {"<value>"}));
    EXPECT_EQ((FromEmpty<std::map<std::string, bool>>(registry_)),
              Fill(kNotStructure, {"<value>", "map"}));

    BindingResult context;
    BindingProperty object = String("old");
    FromProperty(context, object, BindingProperty(), "<value>", registry_);
    EXPECT_TRUE(context.IsOk());
    EXPECT_TRUE(object.IsEmpty());
}

TEST_F(ConversionError, UnregisteredTypesFailInBothDirections) {
    BindingRegistry empty;
    BindingResult context;
    Inner inner;
    FromProperty(context, inner, Structure({{"number", Signed(1)}}), "<value>", empty);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to '<value>' because the input is an unregistered structure "
              "or not a structure at all.");
    SessionState state{};
    FromProperty(context = BindingResult(), state, Signed(1), "s", empty);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to 's' because its enumeration type is not registered.");
    const BindingResult list = ToProperty(std::vector<Inner>{{}, {}}, empty);
    EXPECT_EQ(list.Value(),
              Structure({{"error", String("Couldn't convert native value because it's an "
                                          "unregistered structure.")}}));
}

TEST_F(ConversionError, MissingRequiredFieldNamesTheStructAndTheField) {
    BindingRegistry registry;
    registry.DeclareStruct<Inner>("Keyed")
        .AddField("number", &Inner::number, "", kBindingRequired)
        .AddField("label", &Inner::label);
    BindingResult context;
    Inner inner;
    FromProperty(context, inner, Structure({{"label", String("n")}, {"number", {}}}), "<value>",
                 registry);
    EXPECT_EQ(context.ErrorMessage(),
              "Couldn't assign value to '<value>' of type Keyed because the input structure "
              "doesn't have required field 'number'.");
    EXPECT_EQ(inner.label, "");  // fields are taken in registration order
}

// Later fields and converters handed the failed context do nothing; the failed
// target is zeroed and what came before stays converted.
TEST_F(ConversionError, FirstFailureSurvivesAndStopsTheConversion) {
    AllKinds all;
    all.u8 = 9;
    BindingResult context;
    FromProperty(context, all,
                 Structure({{"flag", Bool(true)}, {"i8", Signed(200)}, {"u8", String("300")}}),
                 "<value>", registry_);
    const std::string first = "Value 200 for 'i8' of type int8 is out of range";
    EXPECT_EQ(context.ErrorMessage(), first);
    EXPECT_TRUE(all.flag);
    EXPECT_EQ(all.i8, 0);
    EXPECT_EQ(all.u8, 9);
    std::string text = "kept";
    FromProperty(context, text, String("new"), "t", registry_);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(context.ErrorMessage(), first);
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

    const BindingProperty shallow =
        Structure({{"children", Collection({Structure({{"value", Signed(3)}})})}});
    FromProperty(context = BindingResult(), node, shallow, "<value>", registry_);
    ASSERT_TRUE(context.IsOk()) << context.ErrorMessage();
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0].value, 3);
}

}  // namespace
}  // namespace Tavo
