#include "framework/PluginEntry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/AppModule.h"
#include "platform/MemoryAccounting.h"
#include "tests/framework/LogCapture.h"
#include "tests/framework/ModuleFixture.h"

namespace {

using Tavo::PluginApiExport;
using Tavo::PluginLoadRecord;
using Tavo::PluginMemoryStats;
using Tavo::Client::AppModule;
using Tavo::Client::GetFullNameFromShortNameAndType;
using Tavo::Client::LoadPlugin;
using Tavo::Client::PluginType;
using Tavo::Testing::LoadedModule;
using Tavo::Testing::LogCapture;
using Tavo::Testing::ProbeModule;
using ::testing::ElementsAre;

struct Version {
    std::uint32_t major, minor, patch;
};

TEST(PluginLoad, AcceptsHostsOfTheSameMajorAndWritesThePluginVersion) {
    for (Version host : {Version{18, 0, 0}, Version{18, 0, 5}, Version{18, 3, 0}}) {
        SCOPED_TRACE(testing::Message() << host.major << "." << host.minor << "." << host.patch);
        PluginLoadRecord record{host.major, host.minor, host.patch, nullptr,
                                nullptr,    nullptr,    nullptr};
        void* handle = LoadPlugin<ProbeModule>(&record, "vex-heartbeat");
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(record.apiMajor, 18u);
        EXPECT_EQ(record.apiMinor, 0u);
        EXPECT_EQ(record.apiPatch, 0u);
        record.callbacks->Shutdown(handle);
    }
}

using PluginLoadDeathTest = ::testing::Test;

TEST_F(PluginLoadDeathTest, RefusesAnotherMajorWithTheFatalReport) {
    struct Row {
        Version host;
        const char* expected;
    };
    const Row rows[] = {
        {{17, 9, 9},
         "Expression: ALE-EECF0606.*Description: vex-heartbeat which supports plugin "
         "API 18\\.0\\.0 is not compatible with core's plugin API 17\\.9\\.9"},
        {{19, 0, 0},
         "Expression: ALE-EECF0606.*Description: vex-heartbeat which supports plugin "
         "API 18\\.0\\.0 is not compatible with core's plugin API 19\\.0\\.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        PluginLoadRecord record{row.host.major, row.host.minor, row.host.patch, nullptr,
                                nullptr,        nullptr,        nullptr};
        EXPECT_DEATH(LoadPlugin<ProbeModule>(&record, "vex-heartbeat"), row.expected);
    }
}

TEST(PluginLoad, RecordPointsIntoTheModuleItReturns) {
    LoadedModule loaded;
    const PluginLoadRecord& record = loaded.Record();
    ProbeModule& module = loaded.Module();
    EXPECT_EQ(record.module, loaded.Handle());
    EXPECT_EQ(record.module, static_cast<AppModule*>(&module));
    EXPECT_EQ(record.callbacks, &module.Callbacks());
    EXPECT_NE(record.callbacks->Initialize, nullptr);
    EXPECT_NE(record.callbacks->Shutdown, nullptr);
    EXPECT_NE(record.callbacks->GetMemoryStats, nullptr);
    EXPECT_STREQ(record.shortName, "vex-heartbeat");
    EXPECT_EQ(record.shortName, module.Name().shortName.c_str());
    EXPECT_EQ(record.apiExport, &module.ApiExport());

    EXPECT_EQ(module.Name().fullName, "ulm-be-vex-heartbeat");
    EXPECT_EQ(module.Name().typeName, "backend");
    EXPECT_EQ(module.Name().typeQualifier, "");
    EXPECT_THAT(module.TypeTags(), ElementsAre("Plugins", "Plugin vex-heartbeat"));
}

TEST(PluginLoad, NullRecordLoadsNothing) {
    LogCapture log;
    EXPECT_EQ(LoadPlugin<ProbeModule>(nullptr, "vex-heartbeat"), nullptr);
    EXPECT_EQ(log.Matching("no load record").size(), 1u);
}

// The export block as the host reads it: arrays walked by their next links.
struct WalkedType {
    std::string nameSpace;
    std::vector<std::string> tags;
    std::vector<std::string> members;  // field names, or enum value names
    std::uint32_t count = 0;
};

TEST(PluginLoad, ExportBlockLinksAgreeWithCountsAndHoldEveryRegisteredType) {
    LoadedModule loaded;
    const PluginApiExport& block = *loaded.Record().apiExport;
    EXPECT_EQ(block.functionCount, 0u);

    std::vector<std::string> typeOrder;
    std::map<std::string, WalkedType> types;
    for (const Tavo::ApiExportTypeEntry* type = block.types; type != nullptr; type = type->next) {
        WalkedType& walked = types[type->name];
        typeOrder.push_back(type->name);
        walked.nameSpace = type->nameSpace;
        walked.tags.assign(type->tags, type->tags + type->tagCount);
        walked.count = type->count;
        for (const Tavo::ApiExportFieldEntry* field = type->fields; field != nullptr;
             field = field->next) {
            walked.members.push_back(field->name);
        }
        for (const Tavo::ApiExportEnumValueEntry* value = type->enumValues; value != nullptr;
             value = value->next) {
            walked.members.push_back(value->name);
        }
        EXPECT_EQ(walked.members.size(), walked.count) << type->name;
    }
    EXPECT_EQ(typeOrder.size(), block.typeCount);

    const std::vector<std::string> tclient{"tclient"};
    EXPECT_EQ(types["PluginResourceEventType"].members,
              (std::vector<std::string>{"Create", "Delete", "Update"}));
    EXPECT_EQ(types["PluginResourceEvent"].members,
              (std::vector<std::string>{"uri", "eventType", "data"}));
    const std::vector<std::string> framework{"PluginManagerState",        "PluginManagerResource",
                                             "PluginResourceEventType",   "PluginResourceEvent",
                                             "PluginLcdsEvent",           "PluginLcdsResponse",
                                             "PluginServiceProxyResponse"};
    for (const std::string& name : framework) {
        EXPECT_EQ(types[name].tags, tclient) << name;
    }
    // Built-ins first, then the framework types in order, then the plugin's own.
    auto position = [&](const std::string& name) {
        return std::find(typeOrder.begin(), typeOrder.end(), name) - typeOrder.begin();
    };
    EXPECT_LT(position("BindingHelpFormat"), position("PluginManagerState"));
    for (std::size_t i = 1; i < framework.size(); ++i) {
        EXPECT_LT(position(framework[i - 1]), position(framework[i])) << framework[i];
    }
    EXPECT_LT(position("PluginServiceProxyResponse"), position("ProbeRecord"));
    EXPECT_EQ(types["ProbeRecord"].tags,
              (std::vector<std::string>{"Plugins", "Plugin vex-heartbeat"}));

    std::map<std::string, std::pair<std::string, std::string>> events;  // payload, description
    std::uint32_t eventCount = 0;
    for (const Tavo::ApiExportEventEntry* event = block.events; event != nullptr;
         event = event->next, ++eventCount) {
        events[event->name] = {event->payloadName, event->description};
        if (std::string(event->name).rfind("On", 0) == 0 &&
            std::string(event->name) != "OnCallback") {
            EXPECT_EQ(std::vector<std::string>(event->tags, event->tags + event->tagCount), tclient)
                << event->name;
        }
    }
    EXPECT_EQ(eventCount, block.eventCount);
    EXPECT_EQ(events.count("OnCallback"), 1u);
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ(events["OnJsonApiEvent"],
              Pair("PluginResourceEvent", "Fired when a resource is changed."));
    EXPECT_EQ(
        events["OnLcdsEvent"],
        Pair("PluginLcdsEvent", "Fired when a message is received over the LCDS connection."));
    EXPECT_EQ(events["OnServiceProxyUuidEvent"],
              Pair("PluginServiceProxyResponse",
                   "Fired when a uuid-based service proxy message is received."));
    EXPECT_EQ(events["OnServiceProxyMethodEvent"],
              Pair("PluginServiceProxyResponse",
                   "Fired when a method-based service proxy message is received."));
    EXPECT_EQ(events["OnServiceProxyAsyncEvent"],
              Pair("PluginServiceProxyResponse",
                   "Fired when an async service proxy message is received."));
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
        EXPECT_EQ(log.Matching("called with an unknown type").size(), row.logsError ? 1u : 0u);
    }
    LogCapture log;
    (void)GetFullNameFromShortNameAndType("vex-heartbeat", PluginType{"Backend", ""});
    EXPECT_TRUE(log.Contains(Tavo::LogLevel::Error,
                             "            Plugin Manager| GetFullNameFromShortNameAndType("
                             "\"vex-heartbeat\", \"Backend:\") called with an unknown type"));
}

TEST(PluginMemoryStatsCallback, WritesSixCountersThenEightZeroBytes) {
    LoadedModule loaded;
    PluginMemoryStats stats;
    std::memset(&stats, 0xAB, sizeof stats);
    const Tavo::Memory::Stats before = Tavo::Memory::ReadStats();
    loaded.Record().callbacks->GetMemoryStats(nullptr, &stats);
    const Tavo::Memory::Stats after = Tavo::Memory::ReadStats();

    unsigned char bytes[sizeof stats];
    std::memcpy(bytes, &stats, sizeof stats);
    EXPECT_THAT(std::vector<unsigned char>(bytes + 48, bytes + 56), ::testing::Each(0));
    EXPECT_GE(stats.allocations, before.allocations);
    EXPECT_LE(stats.allocations, after.allocations);
    EXPECT_GE(stats.frees, before.frees);
    EXPECT_LE(stats.frees, after.frees);
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
    EXPECT_EQ(loaded.Record().callbacks->Initialize(loaded.Handle(), nullptr), 0);
    Tavo::HostConnection empty{nullptr, 7};
    EXPECT_EQ(loaded.Record().callbacks->Initialize(loaded.Handle(), &empty), 0);
    EXPECT_EQ(loaded->Connection(), nullptr);
    EXPECT_EQ(log.Matching("called without a host connection").size(), 2u);
}

TEST(PluginInitialize, PlainAppModuleInitializesWithoutOverrides) {
    Tavo::Testing::TestHost host;
    PluginLoadRecord record{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    void* handle = LoadPlugin<AppModule>(&record, "plain");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(record.callbacks->Initialize(handle, host.Connection()), 1);
    record.callbacks->Shutdown(handle);
    // Only the framework's own service-proxy subscriptions, made and undone.
    EXPECT_THAT(host.Trace(),
                ElementsAre("hostSubscribe 'OnServiceProxyUuidEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyMethodEvent' flags=1",
                            "hostSubscribe 'OnServiceProxyAsyncEvent' flags=1",
                            ::testing::StartsWith("hostUnsubscribe 'OnServiceProxy"),
                            ::testing::StartsWith("hostUnsubscribe 'OnServiceProxy"),
                            ::testing::StartsWith("hostUnsubscribe 'OnServiceProxy")));
}

}  // namespace
