// The built plugin library, loaded the way the host loads it: its counters
// see its own allocations and none of the host's.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DevHost.h"
#include "PluginLoader.h"
#include "abi/HostAbi.h"

namespace {

using namespace Tavo;
using namespace Tavo::Host;

// Reads the plugin's counters and checks that they agree with each other.
PluginMemoryStats ConsistentStats(PluginLibrary& plugin) {
    PluginMemoryStats stats{};
    EXPECT_TRUE(plugin.ReadMemoryStats(stats));
    EXPECT_GT(stats.allocations, 0u);
    EXPECT_LE(stats.bytesFreed, stats.bytesAllocated);
    EXPECT_LE(stats.frees, stats.allocations);
    EXPECT_GE(stats.peakBytes, stats.bytesAllocated - stats.bytesFreed);
    EXPECT_LE(stats.peakBytes, stats.bytesAllocated);
    EXPECT_LE(stats.peakAllocations, stats.allocations);
    EXPECT_EQ(stats.reserved0 | stats.reserved1, 0u);
    return stats;
}

TEST(HeartbeatLibrary, CountsItsOwnAllocationsAndNoneOfTheHosts) {
    std::FILE* sink = std::tmpfile();
    Timeline timeline(sink, TimelineFormat::Text, true);
    DevHost host(timeline);
    std::string error;
    std::unique_ptr<PluginLibrary> plugin =
        PluginLibrary::Load(TAVO_PLUGIN, kPluginApiVersion, error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->ShortName(), "vex-heartbeat");
    EXPECT_EQ(plugin->PluginVersion().ToText(), "18.0.0");
    const PluginMemoryStats loaded = ConsistentStats(*plugin);
    ASSERT_TRUE(plugin->Initialize(host.Connection()));
    const PluginMemoryStats initialized = ConsistentStats(*plugin);
    EXPECT_GT(initialized.allocations, loaded.allocations);

    // A megabyte of the host's own is not the plugin's.
    auto hostBlock = std::make_unique<std::vector<char>>(1 << 20, 'x');
    EXPECT_EQ(ConsistentStats(*plugin).bytesAllocated, initialized.bytesAllocated);
    // The plugin's own work is counted: a timer tick runs its code.
    EXPECT_TRUE(host.RunNextDue(kMaxDelay));
    EXPECT_GT(ConsistentStats(*plugin).allocations, initialized.allocations);

    plugin->Shutdown();
    PluginMemoryStats after{};
    EXPECT_FALSE(plugin->ReadMemoryStats(after));
    EXPECT_EQ(plugin->ApiExport(), nullptr);
    std::fclose(sink);
}

}  // namespace
