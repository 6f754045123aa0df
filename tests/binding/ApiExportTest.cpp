#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/BindingApiExport.h"
#include "binding/Builtins.h"
#include "tests/binding/BindingTestTypes.h"

namespace Tavo {
namespace {

// Members of packed records are read by value: a reference to one may be
// misaligned.
template <class T>
T Copy(T value) {
    return value;
}

using namespace Testing;

std::vector<std::string> TagsOf(const char* const* tags, std::uint32_t count) {
    return {tags, tags + count};
}

const ApiExportTypeEntry* FindType(const PluginApiExport& block, const char* name) {
    for (const ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        if (std::strcmp(type->name, name) == 0) {
            return type;
        }
    }
    return nullptr;
}

TEST(ApiExport, ListsTheBuiltinsWithTheirTagsAndTheCallbackEvent) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    const BindingApiExport exported = BuildApiExport(registry);
    const PluginApiExport& block = exported.Block();
    EXPECT_EQ(block.functions, nullptr);
    EXPECT_EQ(block.functionCount, 0u);
    ASSERT_EQ(block.typeCount, 15u);

    const std::vector<std::string> help{"$builtin", "help"};
    const std::vector<std::string> async{"$builtin", "async"};
    for (std::uint32_t i = 0; i < block.typeCount; ++i) {
        const ApiExportTypeEntry& type = block.types[i];
        SCOPED_TRACE(type.name);
        const std::string name = type.name;
        std::vector<std::string> expected;
        if (name.starts_with("BindingFull") || name == "BindingHelpFormat") {
            expected = help;
        } else if (name == "BindingAsyncState" || name.starts_with("BindingGenericAsync") ||
                   name.starts_with("BindingAsyncFailure") ||
                   name.starts_with("BindingAsyncCancel")) {
            expected = async;
        }
        EXPECT_EQ(TagsOf(type.tags, type.tagCount), expected);
        EXPECT_EQ(type.tags == nullptr, type.tagCount == 0);
    }
    ASSERT_EQ(block.eventCount, 1u);
    EXPECT_STREQ(block.events[0].name, "OnCallback");
    EXPECT_STREQ(block.events[0].payloadName, "BindingCallbackEvent");
    EXPECT_STREQ(block.events[0].description, "Fired when a callback is invoked.");
    EXPECT_EQ(TagsOf(block.events[0].tags, block.events[0].tagCount),
              std::vector<std::string>{"$builtin"});
    EXPECT_EQ(block.events[0].next, nullptr);
}

TEST(ApiExport, LinksAndCountsWalkTheSameEntries) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    RegisterAllKinds(registry);
    const BindingApiExport exported = BuildApiExport(registry);
    const PluginApiExport& block = exported.Block();
    std::uint32_t types = 0;
    for (const ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        EXPECT_EQ(type, &block.types[types]);
        ++types;
        const bool hasFields = type->fields != nullptr;
        EXPECT_TRUE(!hasFields || type->enumValues == nullptr);
        std::uint32_t entries = 0;
        if (hasFields) {
            for (const ApiExportFieldEntry* f = type->fields; f != nullptr; f = f->next) {
                EXPECT_EQ(f, &type->fields[entries]);
                ++entries;
            }
        } else {
            for (const ApiExportEnumValueEntry* v = type->enumValues; v != nullptr; v = v->next) {
                EXPECT_EQ(v, &type->enumValues[entries]);
                ++entries;
            }
        }
        EXPECT_EQ(entries, type->count) << type->name;
    }
    EXPECT_EQ(types, block.typeCount);
    EXPECT_EQ(types, registry.Types().size());
}

TEST(ApiExport, FieldEntriesCarryOffsetsKindsAndReferencedNames) {
    BindingRegistry registry;
    RegisterAllKinds(registry);
    const BindingApiExport exported = BuildApiExport(registry);
    const ApiExportTypeEntry* all = FindType(exported.Block(), "AllKinds");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->size, sizeof(AllKinds));
    EXPECT_EQ(all->enumValues, nullptr);
    const BindingTypeDescriptor* descriptor = registry.FindType<AllKinds>();
    ASSERT_EQ(all->count, descriptor->fields.size());
    struct Row {
        const char* name;
        std::uint32_t kind;
        std::uint32_t elementKind;
        const char* typeName;
    };
    const Row rows[] = {
        {"flag", 1, 0, ""},          {"u64", 9, 0, ""},
        {"text", 12, 0, ""},         {"object", 13, 0, ""},
        {"blob", 14, 0, ""},         {"texts", 15, 12, ""},
        {"inners", 15, 17, "Inner"}, {"named", 19, 17, "Inner"},
        {"counts", 19, 8, ""},       {"state", 16, 0, "LoginSessionStates"},
        {"inner", 17, 0, "Inner"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ApiExportFieldEntry* entry = all->fields;
        while (entry != nullptr && std::strcmp(entry->name, row.name) != 0) {
            entry = entry->next;
        }
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(Copy(entry->kind), row.kind);
        EXPECT_EQ(Copy(entry->elementKind), row.elementKind);
        EXPECT_STREQ(entry->typeName, row.typeName);
        EXPECT_EQ(Copy(entry->offset), descriptor->FindField(row.name)->offset);
        EXPECT_EQ(entry->optional, 0);
        EXPECT_STREQ(entry->description, "");
    }
}

TEST(ApiExport, EnumValuesComeInAscendingNameOrder) {
    BindingRegistry registry;
    RegisterSession(registry);
    const BindingApiExport exported = BuildApiExport(registry);
    const ApiExportTypeEntry* states = FindType(exported.Block(), "LoginSessionStates");
    ASSERT_NE(states, nullptr);
    EXPECT_EQ(states->fields, nullptr);
    EXPECT_EQ(states->size, 4u);
    std::vector<std::pair<std::string, std::int32_t>> values;
    for (const ApiExportEnumValueEntry* v = states->enumValues; v != nullptr; v = v->next) {
        values.emplace_back(v->name, v->value);
    }
    EXPECT_EQ(values, (std::vector<std::pair<std::string, std::int32_t>>{
                          {"ERROR", 3}, {"IN_PROGRESS", 0}, {"LOGGING_OUT", 2}, {"SUCCEEDED", 1}}));
}

TEST(ApiExport, OverrideTypeInfoReplacesKindsAndReferencedName) {
    BindingRegistry registry;
    RegisterSession(registry);
    const BindingTypeDescriptor* states = registry.FindType<SessionState>();
    registry.DeclareStruct<Inner>("Inner")
        .AddField("number", &Inner::number,
                  {"", 0, {BindingNativeKind::Vector, BindingNativeKind::Enum, states}, true})
        .AddField("label", &Inner::label, "The label");
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
    EXPECT_STREQ(label.typeName, "");
    EXPECT_STREQ(label.description, "The label");
}

TEST(ApiExport, EmptyRegistryGivesAnEmptyBlockAndMovingKeepsPointers) {
    BindingRegistry empty;
    const BindingApiExport nothing = BuildApiExport(empty);
    EXPECT_EQ(nothing.Block().types, nullptr);
    EXPECT_EQ(nothing.Block().typeCount, 0u);
    EXPECT_EQ(nothing.Block().events, nullptr);

    BindingRegistry registry;
    RegisterSession(registry);
    BindingApiExport first = BuildApiExport(registry);
    const ApiExportTypeEntry* types = first.Block().types;
    BindingApiExport moved = std::move(first);
    EXPECT_EQ(moved.Block().types, types);
    EXPECT_STREQ(moved.Block().types[1].fields[0].name, "state");
}

}  // namespace
}  // namespace Tavo
