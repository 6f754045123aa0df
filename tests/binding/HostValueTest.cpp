#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/HostValueConvert.h"
#include "platform/MemoryAccounting.h"
#include "tests/binding/BindingTestTypes.h"
#include "tests/binding/BindingTestValues.h"

namespace Tavo {
namespace {

// Members of packed records are read by value: a reference to one may be
// misaligned.
template <class T>
T Copy(T value) {
    return value;
}

using namespace Testing;

// Bytes the counting hooks hold: owned payloads, keys and arrays.
std::int64_t LiveBytes() {
    const Memory::Stats stats = Memory::ReadStats();
    return static_cast<std::int64_t>(stats.bytesAllocated - stats.bytesFreed);
}

HostValue Borrowed(HostValueType type, const void* pointer, std::uint32_t count) {
    HostValue value{};
    value.type = static_cast<std::uint32_t>(type);
    value.payload.ref.pointer = pointer;
    value.payload.ref.count = count;
    return value;
}

// Setters and resets release what the record owns, nested arrays, maps and
// owned keys included, and leave borrowed texts and keys alone.
TEST(HostValue, SettersOwnCopiesAndResetsReleaseOnlyWhatIsOwned) {
    const std::int64_t live = LiveBytes();
    char text[] = "hello";
    HostValue value{};
    ASSERT_TRUE(SetString(value, text));
    text[0] = 'j';
    EXPECT_EQ(Copy(value.type), 6u);
    EXPECT_STREQ(static_cast<const char*>(value.payload.ref.pointer), "hello");
    EXPECT_EQ(Copy(value.payload.ref.count), 5u);
    const std::uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(SetBlob(value, bytes, sizeof bytes));  // releases the text first
    EXPECT_EQ(Copy(value.type), 8u);
    ASSERT_TRUE(SetString(value, static_cast<const char*>(nullptr)));
    EXPECT_STREQ(static_cast<const char*>(value.payload.ref.pointer), "");
    SetSigned(value, -4);
    EXPECT_EQ(LiveBytes(), live);

    static const char borrowed[] = "borrowed";
    HostMapEntry* entries = AllocateHostMap(2);
    ASSERT_NE(entries, nullptr);
    ASSERT_TRUE(SetKey(entries[0], "owned"));
    entries[1].key = borrowed;
    HostValue* array = AllocateHostArray(2);
    ASSERT_TRUE(SetString(array[0], "deep"));
    array[1] = Borrowed(HostValueType::StringBorrowed, borrowed, 8);
    SetArray(entries[0].value, array, 2);
    SetMap(value, entries, 2);
    ResetHostValue(value);
    EXPECT_EQ(Copy(value.type), 0u);
    EXPECT_EQ(LiveBytes(), live);
    EXPECT_STREQ(borrowed, "borrowed");
}

TEST(HostValue, DeepTreesAreResetWholeAndOverDeepPropertiesRefusedWithoutLeaking) {
    BindingProperty deep;
    BindingProperty* node = &deep;
    for (int i = 0; i < 1500; ++i) {
        node = &node->Append();
    }
    const std::int64_t live = LiveBytes();
    HostValue root{};
    EXPECT_FALSE(HostValueFromProperty(root, deep, nullptr));
    EXPECT_EQ(Copy(root.type), 0u);
    EXPECT_EQ(LiveBytes(), live);

    HostValue* level = &root;
    for (int i = 0; i < 100000; ++i) {  // far deeper than any conversion accepts
        HostValue* child = AllocateHostArray(1);
        ASSERT_NE(child, nullptr);
        SetArray(*level, child, 1);
        level = child;
    }
    ResetHostValue(root);
    EXPECT_EQ(LiveBytes(), live);
}

TEST(HostValue, EveryCodeConvertsToItsKind) {
    static const char text[] = "text";
    static const std::uint8_t bytes[] = {7, 8};
    HostValue elements[3] = {};
    SetFloat(elements[0], 1.5);
    elements[1] = Borrowed(HostValueType::BlobBorrowed, bytes, 2);
    HostMapEntry entries[2] = {};
    entries[0].key = "b";
    entries[1].key = "a";
    SetSigned(entries[0].value, 2);
    SetUnsigned(entries[1].value, 1);
    HostValue values[] = {
        {},
        Borrowed(HostValueType::StringBorrowed, text, 99),
        Borrowed(HostValueType::Array, elements, 3),
        Borrowed(HostValueType::BlobBorrowed, nullptr, 0),
        Borrowed(HostValueType::Map, entries, 2),
    };
    SetBool(values[0], true);
    const BindingProperty expected[] = {
        Bool(true),
        String("text"),  // read up to the NUL: the length is not used
        Collection({Float(1.5), Blob({7, 8}), BindingProperty()}),
        Blob({}),
        Structure({{"a", Unsigned(1)}, {"b", Signed(2)}}),
    };
    for (std::size_t i = 0; i < std::size(values); ++i) {
        SCOPED_TRACE(i);
        const BindingResult result = PropertyFromHostValue(values[i], "v");
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        EXPECT_EQ(result.Value(), expected[i]);
    }
}

TEST(HostValue, StructuresBecomeMapsInKeyOrderAndEnumsNamesOrNumbers) {
    BindingRegistry registry;
    RegisterSession(registry);
    const BindingProperty input =
        Structure({{"b", Enum<SessionState>(1)}, {"a", Enum<SessionState>(9)}});
    const std::int64_t live = LiveBytes();
    HostValue value{};
    ASSERT_TRUE(HostValueFromProperty(value, input, &registry));
    ASSERT_EQ(Copy(value.type), 10u);
    ASSERT_EQ(Copy(value.payload.ref.count), 2u);
    const auto* out = static_cast<const HostMapEntry*>(value.payload.ref.pointer);
    EXPECT_STREQ(out[0].key, "a");
    EXPECT_STREQ(out[1].key, "b");
    EXPECT_EQ(out[0].ownsKey, 1);
    EXPECT_EQ(Copy(out[1].value.type), 6u);
    EXPECT_STREQ(static_cast<const char*>(out[1].value.payload.ref.pointer), "SUCCEEDED");
    // A value without a name, or without a registry to name it, goes as a number.
    EXPECT_EQ(Copy(out[0].value.type), 2u);
    EXPECT_EQ(Copy(out[0].value.payload.i64), 9);
    ResetHostValue(value);
    ASSERT_TRUE(HostValueFromProperty(value, Enum<SessionState>(1), nullptr));
    EXPECT_EQ(Copy(value.type), 2u);
    EXPECT_EQ(Copy(value.payload.i64), 1);
    EXPECT_EQ(LiveBytes(), live);
}

TEST(HostValue, MalformedHostValuesFailClearly) {
    HostValue deep{};
    HostValue* level = &deep;
    std::vector<HostValue> chain(1200);
    for (HostValue& next : chain) {
        *level = Borrowed(HostValueType::Array, &next, 1);
        level = &next;
    }
    HostMapEntry keyless[1] = {};
    HostValue elements[1] = {};
    auto nullPointer = [](const char* type) {
        return "Couldn't assign value to 'body' of type " + std::string(type) +
               " because the input's pointer is null.";
    };
    struct Row {
        const char* label;
        HostValue value;
        std::string message;
    };
    const Row rows[] = {
        {"unknown code", Borrowed(static_cast<HostValueType>(42), nullptr, 0),
         "Couldn't assign value to 'body' of type object because the input is of an "
         "incompatible type ''."},
        {"null text", Borrowed(HostValueType::StringOwned, nullptr, 3), nullPointer("string")},
        {"null bytes", Borrowed(HostValueType::BlobOwned, nullptr, 3), nullPointer("blob")},
        {"null elements", Borrowed(HostValueType::Array, nullptr, 1), nullPointer("collection")},
        {"null entries", Borrowed(HostValueType::Map, nullptr, 2), nullPointer("structure")},
        {"entry without key", Borrowed(HostValueType::Map, keyless, 1),
         "Couldn't assign value to 'body' of type structure because entry 0 of the input has no "
         "key."},
        {"count beyond a collection", Borrowed(HostValueType::Array, elements, 0xF0000000u),
         "Couldn't assign value to 'body' of type collection because the input's 4026531840 "
         "elements are more than it can hold."},
        {"too deep", deep,
         "Couldn't assign value to 'body' because the input is nested more than 1000 levels "
         "deep."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const BindingResult result = PropertyFromHostValue(row.value, "body");
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage(), row.message);
    }
}

}  // namespace
}  // namespace Tavo
