#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/BindingApiExport.h"
#include "binding/Builtins.h"
#include "binding/Converters.h"
#include "tests/binding/BindingTestValues.h"

namespace Tavo {
namespace {

using namespace Testing;
using Tags = std::vector<std::string>;

// What the host sees: the export block lists every built-in, once however
// often they are registered, in dependency order with its tags.
TEST(Builtins, ReachTheExportBlockOnceInDependencyOrderWithDescriptionsAndTags) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    RegisterBuiltins(registry);
    EXPECT_TRUE(registry.HasBuiltins());
    const Tags help{"$builtin", "help"};
    const Tags async{"$builtin", "async"};
    struct Row {
        const char* name;
        const char* description;
        Tags tags;
    };
    const Row rows[] = {
        {"BindingHelpFormat", "Help format for binding functions and types.", help},
        {"BindingFullTypeIdentifier", "Describes the type of a value.", help},
        {"BindingFullArgumentHelp", "Describes a function parameter.", help},
        {"BindingFullFunctionHelp", "Describes a function.", help},
        {"BindingFullEnumValueHelp", "Describes an enumerator.", help},
        {"BindingFullFieldHelp", "Describes a member of a struct.", help},
        {"BindingFullTypeHelp", "Describes a struct or enum type.", help},
        {"BindingFullEventHelp", "Describes an event.", help},
        {"BindingFullApiHelp", "Describes the exposed native API.", help},
        {"BindingAsyncState", "Possible states of an asynchronous operation.", async},
        {"BindingGenericEvent", "Represents generic data for an event.", {}},
        {"BindingCallbackEvent", "Represents the parameters of a call to a provided callback.", {}},
        {"BindingGenericAsyncEvent", "Represents generic data for an asynchronous event.", async},
        {"BindingAsyncFailureEvent", "Represents a failed asynchronous operation.", async},
        {"BindingAsyncCancelEvent", "Represents a cancelled asynchronous operation.", async},
    };
    const BindingApiExport exported = BuildApiExport(registry);
    const PluginApiExport& block = exported.Block();
    ASSERT_EQ(block.typeCount, std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ApiExportTypeEntry& type = block.types[i];
        SCOPED_TRACE(rows[i].name);
        EXPECT_STREQ(type.name, rows[i].name);
        EXPECT_EQ(type.next, i + 1 < std::size(rows) ? &block.types[i + 1] : nullptr);
        EXPECT_STREQ(type.description, rows[i].description);
        EXPECT_EQ(Tags(type.tags, type.tags + type.tagCount), rows[i].tags);
    }
    EXPECT_EQ(registry.FindTypeByName("BindingFullTypeHelp")->fields.size(), 7u);
    EXPECT_EQ(registry.FindTypeByName("BindingAsyncState")->values.size(), 6u);
    // Fields that name another built-in found its descriptor: it came first.
    const BindingTypeDescriptor* function = registry.FindTypeByName("BindingFullFunctionHelp");
    EXPECT_EQ(function->FindField("arguments")->typeInfo.descriptor,
              registry.FindTypeByName("BindingFullArgumentHelp"));

    ASSERT_EQ(block.eventCount, 1u);
    const ApiExportEventEntry& onCallback = block.events[0];
    EXPECT_STREQ(onCallback.name, "OnCallback");
    EXPECT_STREQ(onCallback.payloadName, "BindingCallbackEvent");
    EXPECT_STREQ(onCallback.description, "Fired when a callback is invoked.");
    EXPECT_EQ(Tags(onCallback.tags, onCallback.tags + onCallback.tagCount), Tags{"$builtin"});
    EXPECT_EQ(onCallback.next, nullptr);
    EXPECT_EQ(block.functionCount, 0u);
}

TEST(Builtins, ConvertLikeAnyRegisteredEnumOrStruct) {
    BindingRegistry registry;
    RegisterBuiltins(registry);
    const char* names[] = {"None", "Running", "Cancelling", "Cancelled", "Succeeded", "Failed"};
    for (std::int32_t number = 0; number < 6; ++number) {
        SCOPED_TRACE(names[number]);
        BindingResult context;
        BindingAsyncState::Type byName{}, byNumber{};
        FromProperty(context, byName, String(names[number]), "state", registry);
        FromProperty(context, byNumber, Signed(number), "state", registry);
        ASSERT_TRUE(context.IsOk()) << context.ErrorMessage();
        EXPECT_EQ(byName, number);
        EXPECT_EQ(byNumber, number);
        EXPECT_STREQ(
            registry.EnumValueName(StaticType::Anonymous<BindingAsyncState::Type>(), number),
            names[number]);
    }
    BindingGenericAsyncEvent event;
    event.asyncToken = 12;
    event.data = Collection({String("x")});
    EXPECT_EQ(ToProperty(event, registry).Value(),
              Structure({{"asyncToken", Unsigned(12)}, {"data", event.data}}));
}

}  // namespace
}  // namespace Tavo
