#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "binding/BindingRegistry.h"
#include "tests/binding/BindingTestTypes.h"

namespace Tavo {
namespace {

using Testing::AllKinds;
using Testing::Inner;
using Testing::Session;
using Testing::SessionState;

template <class M>
std::size_t OffsetOf(M AllKinds::*member) {
    static const AllKinds sample;
    return static_cast<std::size_t>(reinterpret_cast<const char*>(&(sample.*member)) -
                                    reinterpret_cast<const char*>(&sample));
}

TEST(BindingRegistry, RepeatedDeclarationIsFailedAndDropsEverythingAddedThroughIt) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    auto again = registry.DeclareStruct<Session>("LoginSession");
    EXPECT_TRUE(again.Failed());
    again.AddField("extra", &Session::accountId).AddTag("late").SetDescription("late");

    const BindingTypeDescriptor* session = registry.FindTypeByName("LoginSession");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(again.Descriptor(), session);
    ASSERT_EQ(session->fields.size(), 3u);
    EXPECT_EQ(session->fields[2].name, "accountId");
    EXPECT_TRUE(session->tags.empty());
    EXPECT_EQ(session->description, "");

    auto enumAgain = registry.DeclareEnum<SessionState>("LoginSessionStates");
    EXPECT_TRUE(enumAgain.Failed());
    enumAgain.AddValue("EXTRA", 9);
    EXPECT_EQ(registry.FindTypeByName("LoginSessionStates")->values.size(), 4u);
}

TEST(BindingRegistry, RepeatedEnumValueKeepsOneEntryWithTheLastNumber) {
    BindingRegistry registry;
    const auto* states = registry.DeclareEnum<SessionState>("States")
                             .AddValue("ERROR", 3)
                             .AddValue("ERROR", 4, "again")
                             .Descriptor();
    ASSERT_EQ(states->values.size(), 1u);
    EXPECT_EQ(states->values.at("ERROR").value, 4);
    EXPECT_EQ(states->values.at("ERROR").description, "again");
    EXPECT_EQ(states->values.at("ERROR").owner, states);
}

TEST(BindingRegistry, TypeDeclaredWithVoidIdentityIsFoundByNameOnly) {
    BindingRegistry registry;
    const auto* declared =
        registry.DeclareStruct("Anonymous", 8, StaticType::Anonymous<void>()).Descriptor();
    EXPECT_EQ(registry.FindTypeByName("Anonymous"), declared);
    EXPECT_EQ(registry.FindTypeById(StaticType::Anonymous<void>()), nullptr);
}

TEST(BindingRegistry, LookupsByNameAndIdFindTheSameDescriptor) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    const BindingTypeDescriptor* byName = registry.FindTypeByName("LoginSession");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(registry.FindTypeById(StaticType::Anonymous<Session>()), byName);
    EXPECT_EQ(registry.FindTypeById(StaticType::Named<Session>()), byName);
    EXPECT_EQ(registry.FindType<Session>(), byName);
    EXPECT_EQ(byName->size, sizeof(Session));
    EXPECT_FALSE(byName->isEnum);
    EXPECT_EQ(byName->registry, &registry);
    EXPECT_EQ(registry.FindTypeByName("loginsession"), nullptr);
    EXPECT_EQ(registry.FindType<Inner>(), nullptr);
    EXPECT_EQ(registry.FindEventByName("LoginSession"), nullptr);
}

TEST(BindingRegistry, EnumValueNameIsTheFirstNameInByteOrderWithThatNumber) {
    BindingRegistry registry;
    registry.DeclareEnum<SessionState>("States")
        .AddValue("b-one", 1)
        .AddValue("a-one", 1)
        .AddValue("B-one", 1)
        .AddValue("two", 2);
    EXPECT_STREQ(registry.EnumValueName(StaticType::Anonymous<SessionState>(), 1), "B-one");
    EXPECT_STREQ(registry.EnumValueName(StaticType::Anonymous<SessionState>(), 2), "two");
    EXPECT_EQ(registry.EnumValueName(StaticType::Anonymous<SessionState>(), 7), nullptr);
    EXPECT_EQ(registry.EnumValueName(StaticType::Anonymous<Inner>(), 1), nullptr);
}

TEST(BindingRegistry, FieldsRecordOffsetKindsAndReferencedDescriptor) {
    BindingRegistry registry;
    Testing::RegisterAllKinds(registry);
    const BindingTypeDescriptor* all = registry.FindType<AllKinds>();
    const BindingTypeDescriptor* inner = registry.FindType<Inner>();
    const BindingTypeDescriptor* states = registry.FindType<SessionState>();
    ASSERT_NE(all, nullptr);
    using K = BindingNativeKind;
    struct Row {
        const char* name;
        std::size_t offset;
        K kind;
        K elementKind;
        const BindingTypeDescriptor* descriptor;
    };
    const Row rows[] = {
        {"flag", OffsetOf(&AllKinds::flag), K::Bool, K::None, nullptr},
        {"i8", OffsetOf(&AllKinds::i8), K::Int8, K::None, nullptr},
        {"u8", OffsetOf(&AllKinds::u8), K::UInt8, K::None, nullptr},
        {"i16", OffsetOf(&AllKinds::i16), K::Int16, K::None, nullptr},
        {"u16", OffsetOf(&AllKinds::u16), K::UInt16, K::None, nullptr},
        {"i32", OffsetOf(&AllKinds::i32), K::Int32, K::None, nullptr},
        {"u32", OffsetOf(&AllKinds::u32), K::UInt32, K::None, nullptr},
        {"i64", OffsetOf(&AllKinds::i64), K::Int64, K::None, nullptr},
        {"u64", OffsetOf(&AllKinds::u64), K::UInt64, K::None, nullptr},
        {"f32", OffsetOf(&AllKinds::f32), K::Float, K::None, nullptr},
        {"f64", OffsetOf(&AllKinds::f64), K::Double, K::None, nullptr},
        {"text", OffsetOf(&AllKinds::text), K::String, K::None, nullptr},
        {"object", OffsetOf(&AllKinds::object), K::Object, K::None, nullptr},
        {"blob", OffsetOf(&AllKinds::blob), K::Blob, K::None, nullptr},
        {"numbers", OffsetOf(&AllKinds::numbers), K::Vector, K::Int32, nullptr},
        {"flags", OffsetOf(&AllKinds::flags), K::Vector, K::Bool, nullptr},
        {"texts", OffsetOf(&AllKinds::texts), K::Vector, K::String, nullptr},
        {"inners", OffsetOf(&AllKinds::inners), K::Vector, K::Struct, inner},
        {"grid", OffsetOf(&AllKinds::grid), K::Vector, K::Vector, nullptr},
        {"counts", OffsetOf(&AllKinds::counts), K::Map, K::Int64, nullptr},
        {"named", OffsetOf(&AllKinds::named), K::Map, K::Struct, inner},
        {"state", OffsetOf(&AllKinds::state), K::Enum, K::None, states},
        {"tiny", OffsetOf(&AllKinds::tiny), K::Enum, K::None, registry.FindTypeByName("Tiny")},
        {"wide", OffsetOf(&AllKinds::wide), K::Enum, K::None, registry.FindTypeByName("Wide")},
        {"inner", OffsetOf(&AllKinds::inner), K::Struct, K::None, inner},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const BindingFieldDescriptor* field = all->FindField(row.name);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->offset, row.offset);
        EXPECT_EQ(field->typeInfo.kind, row.kind);
        EXPECT_EQ(field->typeInfo.elementKind, row.elementKind);
        EXPECT_EQ(field->typeInfo.descriptor, row.descriptor);
        EXPECT_EQ(field->nameHash, Fnv1a32(row.name));
        EXPECT_EQ(field->owner, all);
        EXPECT_NE(field->converter, nullptr);
        EXPECT_EQ(field->overrideTypeInfo.kind, K::None);
        EXPECT_FALSE(field->optional);
    }
    EXPECT_EQ(registry.FindTypeByName("Tiny")->size, 1u);
    EXPECT_EQ(registry.FindTypeByName("Short")->size, 2u);
    EXPECT_EQ(registry.FindTypeByName("Wide")->size, 8u);
}

TEST(BindingRegistry, FieldOptionsAreKeptAndAZeroOverrideStaysZero) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    const BindingTypeDescriptor* states = registry.FindType<SessionState>();
    const auto* inner =
        registry.DeclareStruct<Inner>("Inner")
            .AddField(
                "number", &Inner::number,
                {.description = "The number",
                 .flags = kBindingRequired | kBindingOmitWhenDefault,
                 .overrideTypeInfo = {BindingNativeKind::Enum, BindingNativeKind::None, states},
                 .optional = true})
            .AddField(
                "label", &Inner::label,
                {.description = "",
                 .flags = 0,
                 .overrideTypeInfo = {BindingNativeKind::None, BindingNativeKind::String, states},
                 .optional = false})
            .Descriptor();
    const BindingFieldDescriptor& number = inner->fields[0];
    EXPECT_EQ(number.description, "The number");
    EXPECT_EQ(number.flags, kBindingRequired | kBindingOmitWhenDefault);
    EXPECT_EQ(number.overrideTypeInfo.kind, BindingNativeKind::Enum);
    EXPECT_EQ(number.overrideTypeInfo.descriptor, states);
    EXPECT_TRUE(number.optional);
    const BindingFieldDescriptor& label = inner->fields[1];
    EXPECT_EQ(label.overrideTypeInfo.kind, BindingNativeKind::None);
    EXPECT_EQ(label.overrideTypeInfo.elementKind, BindingNativeKind::None);
    EXPECT_EQ(label.overrideTypeInfo.descriptor, nullptr);
}

TEST(BindingRegistry, TagsKeepTheirOrderAndEmptyTagsAreIgnored) {
    BindingRegistry registry;
    const auto* inner = registry.DeclareStruct<Inner>("Inner")
                            .AddTag("one")
                            .AddTag("")
                            .AddTags({"two", "", "three"})
                            .Descriptor();
    EXPECT_EQ(inner->tags, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(BindingRegistry, EventsAreDeclaredOnceAndFoundByName) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    auto first = registry.DeclareEvent<Session>("OnSession")
                     .SetDescription("Fired on a session change.")
                     .AddTag("tclient");
    EXPECT_FALSE(first.Failed());
    auto second = registry.DeclareEvent("OnSession", nullptr).SetDescription("ignored");
    EXPECT_TRUE(second.Failed());
    const BindingEventDescriptor* event = registry.FindEventByName("OnSession");
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(second.Descriptor(), event);
    EXPECT_EQ(event->payload, registry.FindType<Session>());
    EXPECT_EQ(event->description, "Fired on a session change.");
    EXPECT_EQ(event->tags, std::vector<std::string>{"tclient"});
    EXPECT_TRUE(registry.SetEventDescription("OnSession", "changed"));
    EXPECT_EQ(event->description, "changed");
    EXPECT_FALSE(registry.SetEventDescription("OnNothing", "x"));
    EXPECT_TRUE(registry.SetTypeDescription("LoginSession", "The login session."));
    EXPECT_EQ(registry.FindTypeByName("LoginSession")->description, "The login session.");
}

TEST(BindingRegistry, TypesAndEventsIterateInDeclarationOrder) {
    BindingRegistry registry;
    registry.DeclareStruct<Inner>("Zeta");
    Testing::RegisterSession(registry);
    registry.DeclareEvent("b", nullptr);
    registry.DeclareEvent("a", nullptr);
    std::vector<std::string> types;
    for (const BindingTypeDescriptor* type : registry.Types()) {
        types.push_back(type->name);
    }
    EXPECT_EQ(types, (std::vector<std::string>{"Zeta", "LoginSessionStates", "LoginSession"}));
    const auto events = registry.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->name, "b");
    EXPECT_EQ(events[1]->name, "a");
}

TEST(BindingNativeKind, NamesStopAtTheLastCodeAndCharactersAreNotIntegers) {
    EXPECT_STREQ(BindingNativeKindName(BindingNativeKind::Bool), "bool");
    EXPECT_STREQ(BindingNativeKindName(BindingNativeKind::Map), "map");
    EXPECT_STREQ(BindingNativeKindName(BindingNativeKind::None), "");
    EXPECT_STREQ(BindingNativeKindName(static_cast<BindingNativeKind>(20)), "");
    static_assert(NativeKindOf<long long>() == BindingNativeKind::Int64);
    static_assert(NativeKindOf<unsigned char>() == BindingNativeKind::UInt8);
    static_assert(NativeKindOf<char>() == BindingNativeKind::None);
    static_assert(NativeKindOf<long double>() == BindingNativeKind::None);
    static_assert(NativeKindOf<std::vector<char>>() == BindingNativeKind::None);
}

}  // namespace
}  // namespace Tavo
