#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "binding/BindingApiExport.h"
#include "platform/MemoryAccounting.h"
#include "remoting/RemotingApi.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {
namespace {

// Members of packed records are read by value.
template <class T>
T Copy(T value) {
    return value;
}

// The entry's name, then its route's placeholder names (its text list).
// Arguments, results and routes are checked through `ulm-host describe`.
std::string NameAndPathNames(const ApiExportFunctionEntry& entry) {
    std::string text = Copy(entry.function.name);
    for (auto* list = Copy(entry.textLists); list != nullptr; list = Copy(list->next)) {
        for (std::uint32_t i = 0; i < Copy(list->count); ++i) {
            text += std::string(" ") + Copy(list->texts)[i];
        }
    }
    return text;
}

TEST(RemotingExport, LinksOneEntryPerFunctionWithItsDispatchContextAndPathNames) {
    int calls = 0;
    RemotingApi api;
    DeclareShop(api, calls);
    const BindingApiExport exported = BuildApiExport(api);
    const PluginApiExport& block = exported.Block();
    const std::vector<std::string> expected{"GetPart id rest", "GetDotted", "Search", "PlaceOrder",
                                            "Add a",           "Fail code", "Echo",   "Throw"};
    ASSERT_EQ(block.functionCount, expected.size());
    for (std::uint32_t i = 0; i < block.functionCount; ++i) {
        const ApiExportFunctionEntry& entry = block.functions[i];
        SCOPED_TRACE(expected[i]);
        EXPECT_EQ(NameAndPathNames(entry), expected[i]);
        EXPECT_EQ(Copy(entry.function.next),
                  i + 1 < block.functionCount ? &block.functions[i + 1].function : nullptr);
        EXPECT_EQ(Copy(entry.dispatch), &RemotingDispatch);
        EXPECT_EQ(Copy(entry.function.dispatchContext),
                  api.FindDispatchContext(Copy(entry.function.name)));
        EXPECT_EQ(Copy(entry.function.reserved), 0u);
    }
    // A plain registry has no dispatcher and exports no entry.
    BindingRegistry plain;
    plain.DeclareFunction("F", [] {});
    EXPECT_EQ(BuildApiExport(plain).Block().functionCount, 0u);
    EXPECT_EQ(BuildApiExport(plain).FunctionRecords().size(), 1u);
}

TEST(RemotingExport, CarriesTheDescriptionInCountedCopiesFreedWithTheExport) {
    RemotingApi api;
    api.DeclareFunction("List", [](std::vector<std::string> names) { return names; })
        .Route(HttpMethod::Get, "/list")
        .Argument("names", BindingArgumentLocation::Query)
        .SetNameSpace("Shop")
        .SetDescription("Lists names.")
        .SetHelp("Returns its argument.")
        .SetAsync("ListResult")
        .AddTags({"a", "", "b"});
    // A second declaration of the name is ignored with all its settings.
    EXPECT_TRUE(api.DeclareFunction("List", [] {}).SetDescription("Other").Failed());

    const Memory::Stats before = Memory::ReadStats();
    std::optional<BindingApiExport> exported(BuildApiExport(api));
    const Memory::Stats during = Memory::ReadStats();
    EXPECT_GT(during.allocations - during.frees, before.allocations - before.frees);
    ASSERT_EQ(exported->Block().functionCount, 1u);
    const ApiExportFunctionEntry& entry = exported->Block().functions[0];
    const ApiExportFunctionRecord& record = entry.function;
    EXPECT_EQ(Copy(record.returnKind), 15u);  // vector of string
    EXPECT_EQ(Copy(record.returnElementKind), 12u);
    EXPECT_NE(Copy(record.name), api.FindFunctionByName("List")->name.c_str());
    EXPECT_STREQ(Copy(record.nameSpace), "Shop");
    EXPECT_STREQ(Copy(record.description), "Lists names.");
    EXPECT_STREQ(Copy(record.help), "Returns its argument.");
    EXPECT_STREQ(Copy(record.asyncResultName), "ListResult");
    const char* const* tags = Copy(record.tags);
    EXPECT_EQ((std::vector<std::string>(tags, tags + Copy(record.tagCount))),
              (std::vector<std::string>{"a", "b"}));

    exported.reset();
    const Memory::Stats after = Memory::ReadStats();
    EXPECT_EQ(after.allocations - after.frees, before.allocations - before.frees);
    EXPECT_EQ(after.bytesAllocated - after.bytesFreed, before.bytesAllocated - before.bytesFreed);
}

}  // namespace
}  // namespace Tavo::Testing
