#include "abi/HostAbi.h"

#include <gtest/gtest.h>

namespace {

using Tavo::IsHostApiCompatible;
using Tavo::kPluginApiVersion;
using Tavo::PluginApiVersion;

TEST(PluginApiVersion, TextAddsPrereleaseAndBuildOnlyWhenPresent) {
    struct Row {
        PluginApiVersion version;
        const char* text;
    };
    const Row rows[] = {
        {kPluginApiVersion, "18.0.0"},
        {{18, 2, 1, "beta", "7"}, "18.2.1-beta+7"},
        {{18, 0, 0, "", "5"}, "18.0.0+5"},
        {{1, 2, 3, "rc.1", ""}, "1.2.3-rc.1"},
        {{18, 0, 0, nullptr, nullptr}, "18.0.0"},  // null texts count as empty
        {{4294967295u, 0, 10, "", ""}, "4294967295.0.10"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.version.ToText(), row.text);
    }
}

TEST(PluginApiVersion, HostIsCompatibleOnlyWithSameMajorAndNoOlderMinorPatch) {
    struct Row {
        PluginApiVersion host;
        PluginApiVersion plugin;
        bool compatible;
    };
    const Row rows[] = {
        // Accepted: same major, host at least as new.
        {{18, 0, 0}, kPluginApiVersion, true},
        {{18, 0, 5}, kPluginApiVersion, true},
        {{18, 3, 0}, kPluginApiVersion, true},
        {{18, 4, 0}, {18, 3, 7}, true},  // a newer minor beats any patch
        {{18, 3, 7}, {18, 3, 7}, true},
        // Refused: another major, either way, or the same major but older.
        {{17, 9, 9}, kPluginApiVersion, false},
        {{19, 0, 0}, kPluginApiVersion, false},
        {{18, 2, 9}, {18, 3, 0}, false},
        {{18, 3, 6}, {18, 3, 7}, false},
        // Prerelease and build texts take no part.
        {{18, 0, 0, "alpha", "1"}, kPluginApiVersion, true},
        {{18, 0, 0}, {18, 0, 1, "", "999"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host.ToText() + " hosting " + row.plugin.ToText());
        EXPECT_EQ(IsHostApiCompatible(row.host, row.plugin), row.compatible);
    }
}

}  // namespace
