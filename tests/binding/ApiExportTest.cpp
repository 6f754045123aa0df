#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/BindingApiExport.h"
#include "tests/binding/BindingTestTypes.h"

namespace Tavo {
namespace {

using namespace Testing;

// Members of packed records are read by value: a reference to one may be
// misaligned.
template <class T>
T Copy(T value) {
    return value;
}

const ApiExportTypeEntry* FindType(const PluginApiExport& block, const char* name) {
    for (const ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        if (std::strcmp(type->name, name) == 0) {
            return type;
        }
    }
    return nullptr;
}

// Registration deduces each field's kinds from its member pointer; the host
// reads them, with the offsets the converters use, from the field entries,
// by index or by their links.
TEST(ApiExport, FieldEntriesCarryDeducedKindsOffsetsAndReferencedNames) {
    BindingRegistry registry;
    RegisterAllKinds(registry);
    const BindingApiExport exported = BuildApiExport(registry);
    const ApiExportTypeEntry* all = FindType(exported.Block(), "AllKinds");
    ASSERT_NE(all, nullptr);
    using K = BindingNativeKind;
    struct Row {
        const char* name;
        K kind;
        K elementKind;
        const char* typeName;
    };
    const Row rows[] = {
        {"flag", K::Bool, K::None, ""},        {"i8", K::Int8, K::None, ""},
        {"u8", K::UInt8, K::None, ""},         {"i16", K::Int16, K::None, ""},
        {"u16", K::UInt16, K::None, ""},       {"i32", K::Int32, K::None, ""},
        {"u32", K::UInt32, K::None, ""},       {"i64", K::Int64, K::None, ""},
        {"u64", K::UInt64, K::None, ""},       {"f32", K::Float, K::None, ""},
        {"f64", K::Double, K::None, ""},       {"text", K::String, K::None, ""},
        {"object", K::Object, K::None, ""},    {"blob", K::Blob, K::None, ""},
        {"numbers", K::Vector, K::Int32, ""},  {"flags", K::Vector, K::Bool, ""},
        {"texts", K::Vector, K::String, ""},   {"inners", K::Vector, K::Struct, "Inner"},
        {"grid", K::Vector, K::Vector, ""},    {"counts", K::Map, K::Int64, ""},
        {"named", K::Map, K::Struct, "Inner"}, {"state", K::Enum, K::None, "LoginSessionStates"},
        {"tiny", K::Enum, K::None, "Tiny"},    {"shortEnum", K::Enum, K::None, "Short"},
        {"wide", K::Enum, K::None, "Wide"},    {"inner", K::Struct, K::None, "Inner"},
    };
    const BindingTypeDescriptor* descriptor = registry.FindType<AllKinds>();
    ASSERT_EQ(all->count, std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const ApiExportFieldEntry& entry = all->fields[i];
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(entry.name, row.name);
        EXPECT_EQ(Copy(entry.next), i + 1 < std::size(rows) ? &all->fields[i + 1] : nullptr);
        EXPECT_EQ(Copy(entry.kind), static_cast<std::uint32_t>(row.kind));
        EXPECT_EQ(Copy(entry.elementKind), static_cast<std::uint32_t>(row.elementKind));
        EXPECT_STREQ(entry.typeName, row.typeName);
        EXPECT_EQ(Copy(entry.offset), descriptor->fields[i].offset);
    }
    // Enums take the width of their underlying type and list values by name.
    EXPECT_EQ(FindType(exported.Block(), "Tiny")->size, 1u);
    const ApiExportTypeEntry* states = FindType(exported.Block(), "LoginSessionStates");
    ASSERT_NE(states, nullptr);
    EXPECT_EQ(states->size, 4u);
    std::vector<std::pair<std::string, std::int32_t>> values;
    for (const ApiExportEnumValueEntry* v = states->enumValues; v != nullptr; v = v->next) {
        EXPECT_EQ(v, &states->enumValues[values.size()]);
        values.emplace_back(v->name, v->value);
    }
    EXPECT_EQ(states->count, values.size());
    EXPECT_EQ(values, (std::vector<std::pair<std::string, std::int32_t>>{
                          {"ERROR", 3}, {"IN_PROGRESS", 0}, {"LOGGING_OUT", 2}, {"SUCCEEDED", 1}}));
}

// An override replaces the field's kinds and referenced type; one whose kind
// is none is ignored whole.
TEST(ApiExport, OverrideTypeInfoReplacesKindsAndReferencedName) {
    BindingRegistry registry;
    RegisterSession(registry);
    const BindingTypeDescriptor* states = registry.FindType<SessionState>();
    registry.DeclareStruct<Inner>("Inner")
        .AddField("number", &Inner::number,
                  {"", 0, {BindingNativeKind::Vector, BindingNativeKind::Enum, states}, true})
        .AddField(
            "label", &Inner::label,
            {"The label", 0, {BindingNativeKind::None, BindingNativeKind::String, states}, false});
    const BindingApiExport exported = BuildApiExport(registry);
    const ApiExportTypeEntry* inner = FindType(exported.Block(), "Inner");
    ASSERT_NE(inner, nullptr);
    const ApiExportFieldEntry& number = inner->fields[0];
    EXPECT_EQ(Copy(number.kind), 15u);
    EXPECT_EQ(Copy(number.elementKind), 16u);
    EXPECT_STREQ(number.typeName, "LoginSessionStates");
    EXPECT_EQ(number.optional, 1);
    const ApiExportFieldEntry& label = inner->fields[1];
    EXPECT_EQ(Copy(label.kind), 12u);
    EXPECT_EQ(Copy(label.elementKind), 0u);
    EXPECT_STREQ(label.typeName, "");
    EXPECT_STREQ(label.description, "The label");
}

}  // namespace
}  // namespace Tavo
