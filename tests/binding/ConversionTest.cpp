#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
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

TEST_F(Conversion, IntegersAcceptEveryRuleOfTheirRange) {
    struct Row {
        const char* label;
        BindingProperty input;
        std::int64_t expected;
    };
    const Row int32Rows[] = {
        {"float truncates toward zero", Float(2.9), 2},
        {"negative float truncates toward zero", Float(-3.7), -3},
        {"decimal text", String("-12"), -12},
        {"leading blank", String(" 42"), 42},
        {"hexadecimal text", String("0x10"), 16},
        {"octal text", String("017"), 15},
        {"empty text", String(""), 0},
        {"unsigned", Unsigned(5), 5},
        {"enum value", Enum<SessionState>(3), 3},
        {"lowest", Signed(INT32_MIN), INT32_MIN},
    };
    for (const Row& row : int32Rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Convert<std::int32_t>(row.input), row.expected);
    }
    EXPECT_EQ(Convert<std::uint8_t>(String("0x1F")), 31);
    EXPECT_EQ(Convert<std::uint8_t>(Unsigned(255)), 255);
    EXPECT_EQ(Convert<std::uint8_t>(Signed(7)), 7);
    EXPECT_EQ(Convert<std::uint8_t>(Float(3.7)), 3);
    EXPECT_EQ(Convert<std::int8_t>(Signed(-128)), -128);
    EXPECT_EQ(Convert<std::int64_t>(String("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(Convert<std::uint64_t>(String("18446744073709551615")), UINT64_MAX);
    EXPECT_EQ(Convert<std::uint64_t>(Float(1e19)), 10000000000000000000ull);
    EXPECT_EQ(Convert<std::uint16_t>(Enum<SessionState>(2)), 2);
}

TEST_F(Conversion, BoolAcceptsBoolAndFourExactTexts) {
    EXPECT_TRUE(Convert<bool>(Bool(true)));
    EXPECT_TRUE(Convert<bool>(String("1")));
    EXPECT_TRUE(Convert<bool>(String("true")));
    EXPECT_FALSE(Convert<bool>(String("0"), true));
    EXPECT_FALSE(Convert<bool>(String("false"), true));
}

TEST_F(Conversion, FloatingPointAcceptsNumbersTextsAndNaN) {
    EXPECT_EQ(Convert<double>(String("1.5")), 1.5);
    EXPECT_EQ(Convert<double>(String("")), 0.0);
    EXPECT_EQ(Convert<double>(Signed(-3)), -3.0);
    EXPECT_EQ(Convert<double>(Unsigned(UINT64_MAX)), 18446744073709551615.0);
    EXPECT_EQ(Convert<double>(Enum<SessionState>(2)), 2.0);
    EXPECT_EQ(Convert<float>(Float(1e38)), 1e38f);
    EXPECT_EQ(Convert<float>(Float(0.1)), 0.1f);
    EXPECT_TRUE(std::isnan(Convert<double>(Float(std::nan("")))));
    EXPECT_TRUE(std::isnan(Convert<float>(String("nan"))));
}

TEST_F(Conversion, StringsTakeTextsAndEnumNames) {
    EXPECT_EQ(Convert<std::string>(String("abc")), "abc");
    EXPECT_EQ(Convert<std::string>(Enum<SessionState>(1)), "SUCCEEDED");
}

TEST_F(Conversion, EnumsTakeNamesNumbersAndOtherEnumValues) {
    struct Row {
        const char* label;
        BindingProperty input;
        SessionState expected;
    };
    const Row rows[] = {
        {"name", String("SUCCEEDED"), SUCCEEDED},
        {"number as text", String("1"), SUCCEEDED},
        {"hexadecimal number as text", String("0x3"), ERROR},
        {"unsigned", Unsigned(3), ERROR},
        {"signed", Signed(2), LOGGING_OUT},
        {"enum value", Enum<Tiny>(1), SUCCEEDED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Convert<SessionState>(row.input), row.expected);
    }
    EXPECT_EQ(Convert<Tiny>(Unsigned(200)), Tiny::Big);
    EXPECT_EQ(Convert<Short>(String("Minus")), Short::Minus);
    EXPECT_EQ(Convert<Wide>(Signed(-7)), Wide::Low);
}

TEST_F(Conversion, BlobsTakeBytesAndBase64Text) {
    EXPECT_EQ(Convert<std::vector<std::uint8_t>>(String("AQID")),
              (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(Convert<std::vector<std::uint8_t>>(Blob({9, 8})), (std::vector<std::uint8_t>{9, 8}));
    EXPECT_TRUE(Convert<std::vector<std::uint8_t>>(String(""), {7}).empty());
}

TEST_F(Conversion, ObjectsCopyAnyInputAndReplaceWhatTheyHeld) {
    const BindingProperty tree = Structure({{"a", Collection({Signed(1), String("x")})}});
    EXPECT_EQ(Convert<BindingProperty>(tree, String("old")), tree);
    EXPECT_TRUE(Convert<BindingProperty>(BindingProperty(), String("old")).IsEmpty());
}

TEST_F(Conversion, SessionConvertsFromNamesAndNumbers) {
    const Session session = Convert<Session>(Structure(
        {{"state", String("SUCCEEDED")}, {"summonerId", Unsigned(7)}, {"accountId", Unsigned(9)}}));
    EXPECT_EQ(session, (Session{SUCCEEDED, 7, 9}));
}

TEST_F(Conversion, MissingFieldsStayAsTheyWereAndExtraFieldsAreIgnored) {
    const Session session = Convert<Session>(Structure({{"state", Unsigned(1)},
                                                        {"summonerId", BindingProperty()},
                                                        {"unknown", String("ignored")}}),
                                             Session{LOGGING_OUT, 5, 6});
    EXPECT_EQ(session, (Session{SUCCEEDED, 5, 6}));
}

TEST_F(Conversion, EmptyElementsOfACollectionLeaveZeroValues) {
    const BindingProperty input = Structure({
        {"numbers", Collection({Signed(1), BindingProperty(), Signed(3)})},
        {"flags", Collection({BindingProperty(), Bool(true)})},
        {"inners", Collection({BindingProperty(), Structure({{"number", Signed(4)}})})},
        {"grid", Collection({Collection({Unsigned(1), Unsigned(2)}), Collection({})})},
    });
    const AllKinds all = Convert<AllKinds>(input);
    EXPECT_EQ(all.numbers, (std::vector<std::int32_t>{1, 0, 3}));
    EXPECT_EQ(all.flags, (std::vector<bool>{false, true}));
    EXPECT_EQ(all.inners, (std::vector<Inner>{{}, {4, ""}}));
    EXPECT_EQ(all.grid, (std::vector<std::vector<std::uint16_t>>{{1, 2}, {}}));
}

TEST_F(Conversion, MapsTakeEveryNonEmptyField) {
    const BindingProperty input = Structure({
        {"counts", Structure({{"b", Signed(2)}, {"a", String("1")}, {"skip", BindingProperty()}})},
        {"named", Structure({{"x", Structure({{"label", String("ex")}})}})},
    });
    AllKinds start;
    start.counts["stale"] = 9;
    const AllKinds all = Convert<AllKinds>(input, start);
    EXPECT_EQ(all.counts, (std::map<std::string, std::int64_t>{{"a", 1}, {"b", 2}}));
    ASSERT_EQ(all.named.size(), 1u);
    EXPECT_EQ(all.named.at("x").label, "ex");
}

TEST_F(Conversion, NativeValuesBecomeDynamicValuesOfTheirKind) {
    AllKinds all;
    all.flag = true;
    all.i8 = -5;
    all.u16 = 65535;
    all.f32 = 0.5f;
    all.text = "hello";
    all.blob = {1, 2};
    all.flags = {true, false};
    all.counts = {{"b", 2}, {"a", -1}};
    all.state = SUCCEEDED;
    all.wide = Wide::Low;
    all.inner = {3, "three"};
    const BindingResult result = ToProperty(all, registry_);
    ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
    const BindingProperty& value = result.Value();
    EXPECT_EQ(value.Size(), registry_.FindType<AllKinds>()->fields.size());
    EXPECT_EQ(value.Find("flag"), Bool(true));
    EXPECT_EQ(value.Find("i8"), Signed(-5));
    EXPECT_EQ(value.Find("u16"), Unsigned(65535));
    EXPECT_EQ(value.Find("f32"), Float(0.5));
    EXPECT_EQ(value.Find("text"), String("hello"));
    EXPECT_EQ(value.Find("blob"), Blob({1, 2}));
    EXPECT_EQ(value.Find("flags"), Collection({Bool(true), Bool(false)}));
    EXPECT_EQ(value.Find("counts"), Structure({{"a", Signed(-1)}, {"b", Signed(2)}}));
    EXPECT_EQ(value.Find("state"), Enum<SessionState>(1));
    EXPECT_EQ(value.Find("wide"), Enum<Wide>(-7));
    EXPECT_EQ(value.Find("inner"), Structure({{"number", Signed(3)}, {"label", String("three")}}));
    EXPECT_TRUE(value.Find("object").IsEmpty());
    EXPECT_EQ(value.Find("numbers"), Collection({}));
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

// One table drives every round trip: native -> dynamic -> host -> dynamic -> native.
std::vector<std::pair<const char*, AllKinds>> RoundTripCases() {
    std::vector<std::pair<const char*, AllKinds>> cases;
    cases.emplace_back("defaults", AllKinds{});

    AllKinds limits;
    limits.flag = true;
    limits.i8 = INT8_MIN;
    limits.u8 = UINT8_MAX;
    limits.i16 = INT16_MIN;
    limits.u16 = UINT16_MAX;
    limits.i32 = INT32_MIN;
    limits.u32 = UINT32_MAX;
    limits.i64 = INT64_MIN;
    limits.u64 = UINT64_MAX;
    limits.f32 = std::numeric_limits<float>::max();
    limits.f64 = std::numeric_limits<double>::lowest();
    limits.tiny = Tiny::Big;
    limits.shortEnum = Short::Minus;
    limits.wide = Wide::Low;
    limits.state = Testing::LOGGING_OUT;
    cases.emplace_back("limits", limits);

    AllKinds filled;
    filled.i64 = INT64_MAX;
    filled.f32 = 0.1f;
    filled.f64 = 1e-300;
    filled.text = "h\xC3\xA9llo \"quoted\"";
    filled.object = Structure({{"list", Collection({Signed(-1), Unsigned(2), Float(0.5)})},
                               {"text", String("x")},
                               {"nothing", BindingProperty()},
                               {"bytes", Blob({0, 255})}});
    filled.blob = {0, 1, 2, 254, 255};
    filled.numbers = {3, -2, 1};
    filled.flags = {true, false, true};
    filled.texts = {"", "b", "a"};
    filled.inners = {{1, "one"}, {}, {-2, "minus two"}};
    filled.grid = {{1}, {}, {2, 3}};
    filled.counts = {{"z", 1}, {"a", -1}, {"", 0}};
    filled.named = {{"b", {2, "bee"}}, {"a", {1, "ay"}}};
    filled.state = SUCCEEDED;
    filled.inner = {42, "answer"};
    cases.emplace_back("filled", filled);
    return cases;
}

TEST_F(Conversion, RoundTripThroughHostValuesKeepsEveryValue) {
    for (const auto& [label, original] : RoundTripCases()) {
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

}  // namespace
}  // namespace Tavo
