#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/Builtins.h"
#include "binding/Converters.h"
#include "tests/binding/BindingTestValues.h"

namespace Tavo {
namespace {

using namespace Testing;
using Tags = std::vector<std::string>;

TEST(Builtins, RegisterEveryTypeInDependencyOrderWithSizesDescriptionsAndTags) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    EXPECT_TRUE(registry.HasBuiltins());
    namespace Help = BindingHelpProvider;
    const Tags help{"$builtin", "help"};
    const Tags async{"$builtin", "async"};
    struct Row {
        const char* name;
        std::uint32_t size;
        const char* description;
        Tags tags;
    };
    const Row rows[] = {
        {"BindingHelpFormat", sizeof(Help::HelpFormat),
         "Help format for binding functions and types.", help},
        {"BindingFullTypeIdentifier", sizeof(Help::FullTypeIdentifier),
         "Describes the type of a value.", help},
        {"BindingFullArgumentHelp", sizeof(Help::FullArgumentHelp),
         "Describes a function parameter.", help},
        {"BindingFullFunctionHelp", sizeof(Help::FullFunctionHelp), "Describes a function.", help},
        {"BindingFullEnumValueHelp", sizeof(Help::FullEnumValueHelp), "Describes an enumerator.",
         help},
        {"BindingFullFieldHelp", sizeof(Help::FullFieldHelp), "Describes a member of a struct.",
         help},
        {"BindingFullTypeHelp", sizeof(Help::FullTypeHelp), "Describes a struct or enum type.",
         help},
        {"BindingFullEventHelp", sizeof(Help::FullEventHelp), "Describes an event.", help},
        {"BindingFullApiHelp", sizeof(Help::FullApiHelp), "Describes the exposed native API.",
         help},
        {"BindingAsyncState", 4, "Possible states of an asynchronous operation.", async},
        {"BindingGenericEvent",
         sizeof(BindingGenericEvent),
         "Represents generic data for an event.",
         {}},
        {"BindingCallbackEvent",
         sizeof(BindingCallbackEvent),
         "Represents the parameters of a call to a provided callback.",
         {}},
        {"BindingGenericAsyncEvent", sizeof(BindingGenericAsyncEvent),
         "Represents generic data for an asynchronous event.", async},
        {"BindingAsyncFailureEvent", sizeof(BindingAsyncFailureEvent),
         "Represents a failed asynchronous operation.", async},
        {"BindingAsyncCancelEvent", sizeof(BindingAsyncCancelEvent),
         "Represents a cancelled asynchronous operation.", async},
    };
    const auto types = registry.Types();
    ASSERT_EQ(types.size(), std::size(rows));
    for (std::size_t i = 0; i < types.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(types[i]->name, rows[i].name);
        EXPECT_EQ(types[i]->size, rows[i].size);
        EXPECT_EQ(types[i]->description, rows[i].description);
        EXPECT_EQ(types[i]->tags, rows[i].tags);
    }
    // Fields that name another built-in found its descriptor: it came first.
    const BindingTypeDescriptor* function = registry.FindTypeByName("BindingFullFunctionHelp");
    EXPECT_EQ(function->FindField("arguments")->typeInfo.descriptor,
              registry.FindTypeByName("BindingFullArgumentHelp"));
    EXPECT_EQ(function->FindField("returns")->typeInfo.descriptor,
              registry.FindTypeByName("BindingFullTypeIdentifier"));
    EXPECT_EQ(function->FindField("tags")->typeInfo.elementKind, BindingNativeKind::String);

    const BindingEventDescriptor* onCallback = registry.FindEventByName("OnCallback");
    ASSERT_NE(onCallback, nullptr);
    EXPECT_EQ(onCallback->payload, registry.FindTypeByName("BindingCallbackEvent"));
    EXPECT_EQ(onCallback->description, "Fired when a callback is invoked.");
    EXPECT_EQ(onCallback->tags, Tags{"$builtin"});
}

TEST(Builtins, SecondRegistrationChangesNothing) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    RegisterBuiltins(registry);
    EXPECT_EQ(registry.Types().size(), 15u);
    EXPECT_EQ(registry.Events().size(), 1u);
    EXPECT_EQ(registry.FindTypeByName("BindingFullTypeHelp")->fields.size(), 7u);
    EXPECT_EQ(registry.FindTypeByName("BindingAsyncState")->values.size(), 6u);
}

TEST(Builtins, AsyncStateConvertsByNameAndNumber) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    const char* names[] = {"None", "Running", "Cancelling", "Cancelled", "Succeeded", "Failed"};
    for (std::int32_t number = 0; number < 6; ++number) {
        SCOPED_TRACE(names[number]);
        BindingResult context;
        BindingAsyncState::Type byName{};
        FromProperty(context, byName, String(names[number]), "state", registry);
        BindingAsyncState::Type byNumber{};
        FromProperty(context, byNumber, Signed(number), "state", registry);
        ASSERT_TRUE(context.IsOk()) << context.ErrorMessage();
        EXPECT_EQ(byName, number);
        EXPECT_EQ(byNumber, number);
        const BindingResult back = ToProperty(byName, registry);
        EXPECT_STREQ(registry.EnumValueName(*back.Value().GetEnum().type, number), names[number]);
    }
}

TEST(Builtins, GenericAsyncEventBecomesTokenAndData) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    BindingGenericAsyncEvent event;
    event.asyncToken = 12;
    event.data = Collection({String("x")});
    const BindingResult result = ToProperty(event, registry);
    ASSERT_TRUE(result.IsOk()) << result.ErrorMessage();
    EXPECT_EQ(result.Value(),
              Structure({{"asyncToken", Unsigned(12)}, {"data", Collection({String("x")})}}));

    BindingResult context;
    BindingGenericAsyncEvent copy;
    FromProperty(context, copy, result.Value(), "event", registry);
    EXPECT_TRUE(context.IsOk());
    EXPECT_EQ(copy.asyncToken, 12u);
    EXPECT_EQ(copy.data, event.data);
}

}  // namespace
}  // namespace Tavo
