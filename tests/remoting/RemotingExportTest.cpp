#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "binding/BindingApiExport.h"
#include "platform/MemoryAccounting.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {
namespace {

// Members of packed records are read by value.
template <class T>
T Copy(T value) {
    return value;
}

const ApiExportFunctionEntry* FindEntry(const PluginApiExport& block, std::string_view name) {
    for (std::uint32_t i = 0; i < block.functionCount; ++i) {
        if (name == Copy(block.functions[i].function.name)) {
            return &block.functions[i];
        }
    }
    return nullptr;
}

std::vector<std::uint32_t> Locations(const ApiExportFunctionEntry& entry) {
    std::vector<std::uint32_t> codes;
    for (auto* location = Copy(entry.locations); location != nullptr;
         location = Copy(location->next)) {
        codes.push_back(Copy(location->location));
    }
    return codes;
}

struct ArgumentRow {
    std::string name;
    std::uint32_t kind;
    std::uint32_t elementKind;
    std::string typeName;
    bool optional;
    bool operator==(const ArgumentRow&) const = default;
};

std::vector<ArgumentRow> Arguments(const ApiExportFunctionRecord& record) {
    std::vector<ArgumentRow> rows;
    for (auto* argument = Copy(record.arguments); argument != nullptr;
         argument = Copy(argument->next)) {
        rows.push_back({Copy(argument->name), Copy(argument->kind), Copy(argument->elementKind),
                        Copy(argument->typeName), Copy(argument->optional) != 0});
    }
    EXPECT_EQ(rows.size(), Copy(record.argumentCount));
    return rows;
}

class RemotingExport : public ::testing::Test {
protected:
    int calls_ = 0;
    RemotingApi api_;
    BindingApiExport exported_{(DeclareShop(api_, calls_), BuildApiExport(api_))};
};

TEST_F(RemotingExport, LinksOneEntryPerFunctionInDeclarationOrder) {
    const PluginApiExport& block = exported_.Block();
    const std::vector<std::string> names{"GetPart", "GetDotted", "GetX", "Search", "PlaceOrder",
                                         "Add",     "Fail",      "Echo", "Throw"};
    ASSERT_EQ(block.functionCount, names.size());
    for (std::uint32_t i = 0; i < block.functionCount; ++i) {
        const ApiExportFunctionEntry& entry = block.functions[i];
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(Copy(entry.function.name), names[i]);
        const ApiExportFunctionRecord* next = Copy(entry.function.next);
        EXPECT_EQ(next, i + 1 < block.functionCount ? &block.functions[i + 1].function : nullptr);
        EXPECT_EQ(Copy(entry.dispatch), &RemotingDispatch);
        EXPECT_EQ(Copy(entry.function.dispatchContext), api_.FindDispatchContext(names[i]));
        EXPECT_EQ(Copy(entry.function.reserved), 0u);
    }
    EXPECT_EQ(api_.FindDispatchContext("Nothing"), nullptr);
    // A plain registry has no dispatcher and exports no entry.
    BindingRegistry plain;
    plain.DeclareFunction("F", [] {});
    EXPECT_EQ(BuildApiExport(plain).Block().functionCount, 0u);
    EXPECT_EQ(BuildApiExport(plain).FunctionRecords().size(), 1u);
}

TEST_F(RemotingExport, DescribesArgumentsResultsAndRoutes) {
    const PluginApiExport& block = exported_.Block();
    const ApiExportFunctionEntry* part = FindEntry(block, "GetPart");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(Arguments(part->function),
              (std::vector<ArgumentRow>{{"id", 7, 0, "", false}, {"rest", 12, 0, "", false}}));
    EXPECT_EQ(Copy(part->function.returnKind), 13u);
    EXPECT_EQ(Locations(*part), (std::vector<std::uint32_t>{2, 2}));
    EXPECT_STREQ(Copy(part->pathTemplate), "/items/{id}/parts/{+rest}");
    EXPECT_EQ(Copy(part->method), 2u);
    ASSERT_EQ(Copy(part->textListCount), 1u);
    const ApiExportTextListEntry* names = Copy(part->textLists);
    ASSERT_EQ(Copy(names->count), 2u);
    EXPECT_STREQ(Copy(names->texts)[0], "id");
    EXPECT_STREQ(Copy(names->texts)[1], "rest");

    const ApiExportFunctionEntry* order = FindEntry(block, "PlaceOrder");
    ASSERT_NE(order, nullptr);
    EXPECT_EQ(
        Arguments(order->function),
        (std::vector<ArgumentRow>{{"order", 17, 0, "Order", false}, {"userId", 12, 0, "", true}}));
    EXPECT_EQ(Copy(order->function.returnKind), 17u);
    EXPECT_STREQ(Copy(order->function.returnTypeName), "Order");
    EXPECT_EQ(Locations(*order), (std::vector<std::uint32_t>{5, 0}));
    EXPECT_EQ(Copy(order->textLists), nullptr);

    const ApiExportFunctionEntry* echo = FindEntry(block, "Echo");
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(Copy(echo->function.argumentCount), 0u);  // request and response are no arguments
    EXPECT_EQ(Copy(echo->function.arguments), nullptr);
    EXPECT_EQ(Copy(echo->locations), nullptr);
    EXPECT_EQ(Copy(echo->method), 8u);
    EXPECT_STREQ(Copy(echo->methodName), "ECHO");
    EXPECT_EQ(Copy(FindEntry(block, "Fail")->function.returnKind), 0u);
}

TEST(RemotingExportRecord, CarriesTheDescriptionOfTheFunction) {
    RemotingApi api;
    api.DeclareFunction("List", [](std::vector<std::string> names) { return names; })
        .Route(HttpMethod::Get, "/list")
        .RestrictToGetAndHead()
        .Argument("names", BindingArgumentLocation::Query, "Names to list")
        .SetNameSpace("Shop")
        .SetDescription("Lists names.")
        .SetHelp("Returns its argument.")
        .SetThreadSafe()
        .SetAsync("ListResult")
        .AddTags({"a", "", "b"});
    // A second declaration of the name is ignored with all its settings.
    EXPECT_TRUE(api.DeclareFunction("List", [] {}).SetDescription("Other").Failed());

    const BindingApiExport exported = BuildApiExport(api);
    ASSERT_EQ(exported.Block().functionCount, 1u);
    const ApiExportFunctionEntry& entry = exported.Block().functions[0];
    const ApiExportFunctionRecord& record = entry.function;
    EXPECT_STREQ(Copy(record.nameSpace), "Shop");
    EXPECT_STREQ(Copy(record.description), "Lists names.");
    EXPECT_STREQ(Copy(record.help), "Returns its argument.");
    EXPECT_EQ(Copy(record.threadSafe), 1u);
    EXPECT_STREQ(Copy(record.asyncResultName), "ListResult");
    ASSERT_EQ(Copy(record.tagCount), 2u);
    EXPECT_STREQ(Copy(record.tags)[0], "a");
    EXPECT_STREQ(Copy(record.tags)[1], "b");
    EXPECT_EQ(Copy(record.returnKind), 15u);
    EXPECT_EQ(Copy(record.returnElementKind), 12u);
    EXPECT_STREQ(Copy(Copy(record.arguments)->description), "Names to list");
    EXPECT_EQ(Copy(entry.routeFlags), kBindingRouteGetOnly);
}

TEST(RemotingExportRecord, TextsAreCountedCopiesFreedWithTheExport) {
    RemotingApi api;
    api.DeclareFunction("Count", [](std::uint32_t n) { return n; })
        .Route(HttpMethod::Get, "/count/{n}")
        .Argument("n", BindingArgumentLocation::Path);
    const Memory::Stats before = Memory::ReadStats();
    std::optional<BindingApiExport> exported(BuildApiExport(api));
    const Memory::Stats during = Memory::ReadStats();
    EXPECT_GT(during.allocations - during.frees, before.allocations - before.frees);
    const char* name = Copy(exported->Block().functions[0].function.name);
    EXPECT_STREQ(name, "Count");
    EXPECT_NE(name, api.FindFunctionByName("Count")->name.c_str());
    exported.reset();
    const Memory::Stats after = Memory::ReadStats();
    EXPECT_EQ(after.allocations - after.frees, before.allocations - before.frees);
    EXPECT_EQ(after.bytesAllocated - after.bytesFreed, before.bytesAllocated - before.bytesFreed);
}

}  // namespace
}  // namespace Tavo::Testing
