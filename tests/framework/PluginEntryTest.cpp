#include "framework/PluginEntry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/ApiVersionText.h"
#include "framework/AppModule.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using namespace Tavo;
using namespace Tavo::Client;
using namespace Tavo::Testing;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Strings = std::vector<std::string>;

TEST(PluginLoad, AcceptsHostsOfTheSameMajorAndWritesThePluginVersion) {
    for (PluginApiVersion host : {PluginApiVersion{18, 0, 0}, {18, 0, 5}, {18, 3, 0}}) {
        SCOPED_TRACE(ToText(host));
        PluginLoadRecord record{host.major, host.minor, host.patch, nullptr,
                                nullptr,    nullptr,    nullptr};
        void* handle = LoadPlugin<ProbeModule>(&record, "vex-heartbeat");
        ASSERT_NE(handle, nullptr);
        const PluginApiVersion written{record.apiMajor, record.apiMinor, record.apiPatch};
        EXPECT_EQ(ToText(written), "18.0.0");
        record.callbacks->Shutdown(handle);
    }
}

TEST(PluginLoadDeathTest, RefusesAnotherMajorWithTheFatalReport) {
    for (PluginApiVersion host : {PluginApiVersion{17, 9, 9}, {19, 0, 0}}) {
        SCOPED_TRACE(ToText(host));
        PluginLoadRecord record{host.major, host.minor, host.patch, nullptr,
                                nullptr,    nullptr,    nullptr};
        EXPECT_DEATH(LoadPlugin<ProbeModule>(&record, "vex-heartbeat"),
                     "Expression: ALE-EECF0606\n\nDescription: vex-heartbeat which supports plugin "
                     "API 18.0.0 is not compatible with core's plugin API " +
                         ToText(host));
    }
}

TEST(PluginLoad, RecordPointsIntoTheModuleItReturns) {
    LoadedModule loaded;
    const PluginLoadRecord& record = loaded.Record();
    ProbeModule& module = loaded.Module();
    EXPECT_EQ(record.module, static_cast<AppModule*>(&module));
    EXPECT_EQ(record.callbacks, &module.Callbacks());
    EXPECT_TRUE(record.callbacks->Initialize && record.callbacks->Shutdown &&
                record.callbacks->GetMemoryStats);
    EXPECT_EQ(record.shortName, module.Name().shortName.c_str());
    EXPECT_STREQ(record.shortName, "vex-heartbeat");
    EXPECT_EQ(record.apiExport, &module.ApiExport());
    EXPECT_EQ(module.Name().fullName, "ulm-be-vex-heartbeat");
    EXPECT_EQ(module.Name().typeName, "backend");

    LogCapture log;
    EXPECT_EQ(LoadPlugin<ProbeModule>(nullptr, "vex-heartbeat"), nullptr);
    EXPECT_EQ(log.Matching("no load record").size(), 1u);
}

TEST(PluginLoad, NamesTheModuleByThePluginTypeItIsGiven) {
    // The export TAVO_PLUGIN_EXPORT writes passes the type its library's full
    // name declares; a backend plugin is the default.
    const struct {
        PluginType type;
        const char* fullName;
    } rows[] = {
        {kBackendPluginType, "ulm-be-counter"},
        {kFrontendPluginType, "ulm-fe-counter"},
        {PluginType{"other", ""}, "ulm-xx-counter"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fullName);
        PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
        void* handle = LoadPlugin<ProbeModule>(&record, "counter", row.type);
        ASSERT_NE(handle, nullptr);
        const PluginName& name = static_cast<AppModule*>(handle)->Name();
        EXPECT_EQ(name.fullName, row.fullName);
        EXPECT_EQ(name.typeName, row.type.typeName);
        EXPECT_STREQ(record.shortName, "counter");
        record.callbacks->Shutdown(handle);
    }
}

// "name [tag, tag]"
std::string WithTags(const char* name, const char* const* tags, std::uint32_t count) {
    std::string text = std::string(name) + " [";
    for (std::uint32_t i = 0; i < count; ++i) {
        text += std::string(i > 0 ? ", " : "") + tags[i];
    }
    return text + "]";
}

TEST(PluginLoad, ExportBlockWalkedByLinksHoldsTheFrameworkTypesAndEvents) {
    LoadedModule loaded;
    const PluginApiExport& block = *loaded.Record().apiExport;
    EXPECT_EQ(block.functionCount, 0u);
    Strings types;
    std::map<std::string, Strings> members;  // field names, or enum value names
    for (const ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        types.push_back(WithTags(type->name, type->tags, type->tagCount));
        Strings& names = members[type->name];
        for (auto* field = type->fields; field != nullptr; field = field->next) {
            names.push_back(field->name);
        }
        for (auto* value = type->enumValues; value != nullptr; value = value->next) {
            names.push_back(value->name);
        }
        EXPECT_EQ(names.size(), type->count) << type->name;
    }
    EXPECT_EQ(types.size(), block.typeCount);
    // The built-ins, then the framework types in order, then the plugin's own.
    const auto first = std::find(types.begin(), types.end(), "PluginManagerState [tclient]");
    EXPECT_THAT(Strings(types.begin(), first), Contains(StartsWith("BindingHelpFormat [")));
    EXPECT_THAT(Strings(first, types.end()),
                ElementsAre("PluginManagerState [tclient]", "PluginManagerResource [tclient]",
                            "PluginResourceEventType [tclient]", "PluginResourceEvent [tclient]",
                            "PluginLcdsEvent [tclient]", "PluginLcdsResponse [tclient]",
                            "PluginServiceProxyResponse [tclient]",
                            "ProbeRecord [Plugins, Plugin vex-heartbeat]"));
    EXPECT_THAT(members["PluginResourceEventType"], ElementsAre("Create", "Delete", "Update"));
    EXPECT_THAT(members["PluginResourceEvent"], ElementsAre("uri", "eventType", "data"));

    Strings events;  // "name [tags]: payload | description"
    for (auto* event = block.events; event != nullptr; event = event->next) {
        events.push_back(WithTags(event->name, event->tags, event->tagCount) + ": " +
                         event->payloadName + " | " + event->description);
    }
    EXPECT_EQ(events.size(), block.eventCount);
    EXPECT_THAT(events,
                ElementsAre(StartsWith("OnCallback ["),
                            "OnJsonApiEvent [tclient]: PluginResourceEvent | Fired when a "
                            "resource is changed.",
                            "OnLcdsEvent [tclient]: PluginLcdsEvent | Fired when a message "
                            "is received over the LCDS connection.",
                            "OnServiceProxyUuidEvent [tclient]: PluginServiceProxyResponse "
                            "| Fired when a uuid-based service proxy message is received.",
                            "OnServiceProxyMethodEvent [tclient]: "
                            "PluginServiceProxyResponse | Fired when a method-based "
                            "service proxy message is received.",
                            "OnServiceProxyAsyncEvent [tclient]: PluginServiceProxyResponse "
                            "| Fired when an async service proxy message is received."));
}

TEST(PluginFullName, PrefixFollowsTheTypeNameExactly) {
    struct Row {
        PluginType type;
        const char* fullName;
        bool logsError;
    };
    const Row rows[] = {
        {{"backend", ""}, "ulm-be-vex-heartbeat", false},
        {{"frontend", ""}, "ulm-fe-vex-heartbeat", false},
        {{"backend", "x"}, "ulm-be-vex-heartbeat", false},  // the qualifier takes no part
        {{"Backend", ""}, "ulm-xx-vex-heartbeat", true},
        {{"", ""}, "ulm-xx-vex-heartbeat", true},
        {{nullptr, nullptr}, "ulm-xx-vex-heartbeat", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type.ToText());
        LogCapture log;
        EXPECT_EQ(GetFullNameFromShortNameAndType("vex-heartbeat", row.type), row.fullName);
        EXPECT_EQ(log.Lines().size(), row.logsError ? 1u : 0u);
        EXPECT_EQ(log.Contains(LogLevel::Error, LogGroup::DBG,
                               "            Plugin Manager| GetFullNameFromShortNameAndType("
                               "\"vex-heartbeat\", \"" +
                                   row.type.ToText() + "\") called with an unknown type"),
                  row.logsError);
    }
}

TEST(PluginMemoryStatsCallback, WritesSixCountersThenEightZeroBytes) {
    LoadedModule loaded;
    PluginMemoryStats stats;
    std::memset(&stats, 0xAB, sizeof stats);
    const Memory::Stats before = Memory::ReadStats();
    loaded.Record().callbacks->GetMemoryStats(nullptr, &stats);
    const Memory::Stats after = Memory::ReadStats();

    unsigned char bytes[sizeof stats];
    std::memcpy(bytes, &stats, sizeof stats);
    EXPECT_THAT(std::vector<unsigned char>(bytes + 48, bytes + 56), ::testing::Each(0));
    EXPECT_TRUE(before.allocations <= stats.allocations && stats.allocations <= after.allocations);
    EXPECT_TRUE(before.frees <= stats.frees && stats.frees <= after.frees);
    EXPECT_GE(stats.peakBytes, before.peakBytes);

    loaded.Record().callbacks->GetMemoryStats(nullptr, nullptr);  // ignored, no crash
}

TEST(PluginInitialize, StartsTheModuleAndPassesItsVerdict) {
    struct Row {
        const char* name;
        std::function<bool()> start;
        bool initialized;
        std::size_t exceptionLines;
    };
    const Row rows[] = {
        {"default start", nullptr, true, 0},
        {"start refuses", [] { return false; }, false, 0},
        {"start throws", []() -> bool { throw std::runtime_error("boom"); }, false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        LoadedModule loaded;
        loaded->onStart = row.start;
        EXPECT_EQ(loaded.Initialize(), row.initialized);
        EXPECT_EQ(loaded->Connection(), loaded.host.Connection());
        EXPECT_EQ(loaded->HostContext(), loaded.host.HostContext());
        EXPECT_EQ(log.Matching("Exception caught in Initialize: boom").size(), row.exceptionLines);
    }
}

TEST(PluginInitialize, RefusesAMissingConnection) {
    LogCapture log;
    LoadedModule loaded;
    HostConnection noTable{nullptr, 7};
    for (HostConnection* connection : {static_cast<HostConnection*>(nullptr), &noTable}) {
        EXPECT_EQ(loaded.Record().callbacks->Initialize(loaded.Handle(), connection), 0);
    }
    EXPECT_EQ(loaded->Connection(), nullptr);
    EXPECT_EQ(log.Matching("called without a host connection").size(), 2u);
}

TEST(PluginShutdown, IgnoresAHandleWhoseModuleIsGone) {
    LogCapture log;
    PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    void* handle = LoadPlugin<ProbeModule>(&record, "vex-heartbeat");
    ASSERT_NE(handle, nullptr);
    const PluginCallbacks callbacks = *record.callbacks;  // the table goes with the module
    callbacks.Shutdown(handle);
    // A host that repeats itself must not make the module destroy freed memory.
    callbacks.Shutdown(handle);
    TestHost host;
    EXPECT_EQ(callbacks.Initialize(handle, host.Connection()), 0);
    EXPECT_EQ(log.Matching("Shutdown called without a module").size(), 1u);
    EXPECT_EQ(log.Matching("Initialize called without a module").size(), 1u);
}

}  // namespace
