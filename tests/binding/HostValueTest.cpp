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

// Bytes the counting hooks hold between construction and destruction.
class LiveBytes {
public:
    LiveBytes() : start_(InUse()) {}
    std::int64_t Delta() const { return InUse() - start_; }

private:
    static std::int64_t InUse() {
        const Memory::Stats stats = Memory::ReadStats();
        return static_cast<std::int64_t>(stats.bytesAllocated - stats.bytesFreed);
    }
    std::int64_t start_;
};

HostValue Borrowed(HostValueType type, const void* pointer, std::uint32_t count) {
    HostValue value{};
    value.type = static_cast<std::uint32_t>(type);
    value.payload.ref.pointer = pointer;
    value.payload.ref.count = count;
    return value;
}

TEST(HostValue, SettersOwnCopiesAndResetReleasesThem) {
    const LiveBytes live;
    char text[] = "hello";
    const std::uint8_t bytes[] = {1, 2, 3};
    HostValue value{};
    ASSERT_TRUE(SetString(value, text));
    text[0] = 'j';
    EXPECT_EQ(Copy(value.type), 6u);
    EXPECT_STREQ(static_cast<const char*>(value.payload.ref.pointer), "hello");
    EXPECT_EQ(Copy(value.payload.ref.count), 5u);
    EXPECT_GT(live.Delta(), 0);

    ASSERT_TRUE(SetBlob(value, bytes, sizeof bytes));  // releases the text first
    EXPECT_EQ(Copy(value.type), 8u);
    EXPECT_EQ(std::memcmp(value.payload.ref.pointer, bytes, 3), 0);
    SetSigned(value, -4);
    EXPECT_EQ(Copy(value.type), 2u);
    EXPECT_EQ(Copy(value.payload.i64), -4);
    EXPECT_EQ(live.Delta(), 0);

    ASSERT_TRUE(SetString(value, static_cast<const char*>(nullptr)));
    EXPECT_STREQ(static_cast<const char*>(value.payload.ref.pointer), "");
    SetNull(value);
    EXPECT_EQ(Copy(value.type), 0u);
    EXPECT_EQ(Copy(value.payload.u64), 0u);
    EXPECT_EQ(live.Delta(), 0);
}

TEST(HostValue, ResetReleasesNestedArraysMapsAndOwnedKeysOnly) {
    const LiveBytes live;
    static const char borrowedKey[] = "borrowed";
    HostValue root{};
    HostMapEntry* entries = AllocateHostMap(2);
    ASSERT_NE(entries, nullptr);
    ASSERT_TRUE(SetKey(entries[0], "owned"));
    entries[1].key = borrowedKey;
    HostValue* array = AllocateHostArray(2);
    ASSERT_TRUE(SetString(array[0], "deep"));
    array[1] = Borrowed(HostValueType::StringBorrowed, borrowedKey, 8);
    SetArray(entries[0].value, array, 2);
    SetBool(entries[1].value, false);
    SetMap(root, entries, 2);

    ResetHostValue(root);
    EXPECT_EQ(Copy(root.type), 0u);
    EXPECT_EQ(Copy(root.payload.ref.pointer), nullptr);
    EXPECT_EQ(live.Delta(), 0);
    EXPECT_STREQ(borrowedKey, "borrowed");
}

TEST(HostValue, ResetHandlesTreesFarDeeperThanTheConversionLimit) {
    const LiveBytes live;
    HostValue root{};
    HostValue* level = &root;
    for (int i = 0; i < 100000; ++i) {
        HostValue* child = AllocateHostArray(1);
        ASSERT_NE(child, nullptr);
        SetArray(*level, child, 1);
        level = child;
    }
    ResetHostValue(root);
    EXPECT_EQ(live.Delta(), 0);
}

TEST(HostValue, MapKeysComeOutInKeyOrderBothWays) {
    HostMapEntry entries[2] = {};
    entries[0].key = "b";
    entries[1].key = "a";
    SetSigned(entries[0].value, 2);
    SetSigned(entries[1].value, 1);
    const HostValue map = Borrowed(HostValueType::Map, entries, 2);

    const BindingResult property = PropertyFromHostValue(map, "body");
    ASSERT_TRUE(property.IsOk()) << property.ErrorMessage();
    std::vector<std::string> keys;
    for (const auto& field : property.Value().Fields()) {
        keys.emplace_back(field.key.View());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b"}));

    const LiveBytes live;
    HostValue back{};
    ASSERT_TRUE(HostValueFromProperty(back, property.Value(), nullptr));
    ASSERT_EQ(back.type, 10u);
    ASSERT_EQ(back.payload.ref.count, 2u);
    const auto* out = static_cast<const HostMapEntry*>(back.payload.ref.pointer);
    EXPECT_STREQ(out[0].key, "a");
    EXPECT_STREQ(out[1].key, "b");
    EXPECT_EQ(out[0].ownsKey, 1);
    EXPECT_EQ(Copy(out[1].value.payload.i64), 2);
    ResetHostValue(back);
    EXPECT_EQ(live.Delta(), 0);
}

TEST(HostValue, EveryCodeConvertsToItsKind) {
    static const char text[] = "text";
    static const std::uint8_t bytes[] = {7, 8};
    HostValue elements[3] = {};
    SetFloat(elements[0], 1.5);
    elements[1] = Borrowed(HostValueType::BlobBorrowed, bytes, 2);
    HostValue values[] = {
        {},
        Borrowed(HostValueType::StringBorrowed, text, 99),
        Borrowed(HostValueType::Array, elements, 3),
        Borrowed(HostValueType::BlobBorrowed, nullptr, 0),
    };
    SetBool(values[0], true);
    const BindingProperty expected[] = {
        Bool(true),
        String("text"),  // read up to the NUL: the length is not used
        Collection({Float(1.5), Blob({7, 8}), BindingProperty()}),
        Blob({}),
    };
    for (std::size_t i = 0; i < std::size(values); ++i) {
        SCOPED_TRACE(i);
        const BindingResult result = PropertyFromHostValue(values[i], "v");
        ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
        EXPECT_EQ(result.Value(), expected[i]);
    }
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
    struct Row {
        const char* label;
        HostValue value;
        const char* message;
    };
    const Row rows[] = {
        {"unknown code", Borrowed(static_cast<HostValueType>(42), nullptr, 0),
         "Couldn't assign value to 'body' of type object because the input is of an "
         "incompatible type ''."},
        {"null text", Borrowed(HostValueType::StringOwned, nullptr, 3),
         "Couldn't assign value to 'body' of type string because the input's pointer is null."},
        {"null bytes", Borrowed(HostValueType::BlobOwned, nullptr, 3),
         "Couldn't assign value to 'body' of type blob because the input's pointer is null."},
        {"null elements", Borrowed(HostValueType::Array, nullptr, 1),
         "Couldn't assign value to 'body' of type collection because the input's pointer is "
         "null."},
        {"null entries", Borrowed(HostValueType::Map, nullptr, 2),
         "Couldn't assign value to 'body' of type structure because the input's pointer is "
         "null."},
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
        BindingProperty out;
        std::string error;
        EXPECT_FALSE(PropertyFromHostValue(out, row.value, "body", error));
        EXPECT_EQ(error, row.message);
        const BindingResult result = PropertyFromHostValue(row.value, "body");
        EXPECT_FALSE(result.IsOk());
        EXPECT_EQ(result.ErrorMessage(), row.message);
    }
}

TEST(HostValue, EnumsBecomeNamesWithARegistryAndNumbersWithout) {
    BindingRegistry registry;
    RegisterSession(registry);
    const BindingProperty named = Enum<SessionState>(1);
    const BindingProperty unnamed = Enum<SessionState>(9);
    const LiveBytes live;
    HostValue value{};
    ASSERT_TRUE(HostValueFromProperty(value, named, &registry));
    EXPECT_EQ(Copy(value.type), 6u);
    EXPECT_STREQ(static_cast<const char*>(value.payload.ref.pointer), "SUCCEEDED");
    ResetHostValue(value);
    ASSERT_TRUE(HostValueFromProperty(value, unnamed, &registry));
    EXPECT_EQ(Copy(value.type), 2u);
    EXPECT_EQ(Copy(value.payload.i64), 9);
    ASSERT_TRUE(HostValueFromProperty(value, named, nullptr));
    EXPECT_EQ(Copy(value.type), 2u);
    EXPECT_EQ(Copy(value.payload.i64), 1);
    EXPECT_EQ(live.Delta(), 0);
}

TEST(HostValue, OverDeepPropertyIsRefusedWithoutLeaking) {
    BindingProperty root;
    BindingProperty* level = &root;
    for (int i = 0; i < 1500; ++i) {
        level = &level->Append();
    }
    const LiveBytes live;
    HostValue value{};
    EXPECT_FALSE(HostValueFromProperty(value, root, nullptr));
    EXPECT_EQ(Copy(value.type), 0u);
    EXPECT_EQ(live.Delta(), 0);
}

}  // namespace
}  // namespace Tavo
