#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "tests/binding/BindingTestTypes.h"

namespace Tavo {
namespace {

using Testing::Inner;
using Testing::Session;
using Testing::SessionState;

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

TEST(BindingRegistry, LookupsFindOneDescriptorByNameAndBothIdentities) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    const BindingTypeDescriptor* byName = registry.FindTypeByName("LoginSession");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(registry.FindTypeById(StaticType::Anonymous<Session>()), byName);
    EXPECT_EQ(registry.FindTypeById(StaticType::Named<Session>()), byName);
    EXPECT_EQ(byName->registry, &registry);
    EXPECT_EQ(registry.FindTypeByName("loginsession"), nullptr);
    EXPECT_EQ(registry.FindType<Inner>(), nullptr);
    EXPECT_EQ(registry.FindEventByName("LoginSession"), nullptr);

    // A type declared under the identity of void is reachable by name only.
    const auto* anonymous =
        registry.DeclareStruct("Anonymous", 8, StaticType::Anonymous<void>()).Descriptor();
    EXPECT_EQ(registry.FindTypeByName("Anonymous"), anonymous);
    EXPECT_EQ(registry.FindTypeById(StaticType::Anonymous<void>()), nullptr);
}

TEST(BindingRegistry, EnumValuesAreKeptByNameAndLookedUpByNumber) {
    BindingRegistry registry;
    const auto* states = registry.DeclareEnum<SessionState>("States")
                             .AddValue("b-one", 1)
                             .AddValue("a-one", 1)
                             .AddValue("B-one", 1)
                             .AddValue("ERROR", 3)
                             .AddValue("ERROR", 4, "again")
                             .Descriptor();
    // A repeated name keeps one entry with the last number.
    ASSERT_EQ(states->values.size(), 4u);
    EXPECT_EQ(states->values.at("ERROR").value, 4);
    EXPECT_EQ(states->values.at("ERROR").description, "again");
    // A number with several names gives the first name in byte order.
    const StaticType& type = StaticType::Anonymous<SessionState>();
    EXPECT_STREQ(registry.EnumValueName(type, 1), "B-one");
    EXPECT_STREQ(registry.EnumValueName(type, 4), "ERROR");
    EXPECT_EQ(registry.EnumValueName(type, 3), nullptr);
    EXPECT_EQ(registry.EnumValueName(StaticType::Anonymous<Inner>(), 1), nullptr);
}

// What the export shows of events (payload, description, tags, order) is
// checked where the framework registers its own.
TEST(BindingRegistry, EventsAreDeclaredOnceAndEmptyTagsAreIgnored) {
    BindingRegistry registry;
    Testing::RegisterSession(registry);
    registry.DeclareEvent<Session>("OnSession").SetDescription("first").AddTags({"a", "", "b"});
    auto again = registry.DeclareEvent("OnSession", nullptr).SetDescription("ignored");
    EXPECT_TRUE(again.Failed());
    const BindingEventDescriptor* event = registry.FindEventByName("OnSession");
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(again.Descriptor(), event);
    EXPECT_EQ(event->payload, registry.FindType<Session>());
    EXPECT_EQ(event->description, "first");
    EXPECT_EQ(event->tags, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(registry.Events().size(), 1u);
}

}  // namespace
}  // namespace Tavo
