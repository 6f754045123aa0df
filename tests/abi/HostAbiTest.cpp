#include "abi/HostAbi.h"

#include <gtest/gtest.h>

namespace {

using Tavo::IsHostApiCompatible;
using Tavo::kPluginApiVersion;
using Tavo::PluginApiVersion;

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
        SCOPED_TRACE(testing::Message() << row.host.major << '.' << row.host.minor << '.'
                                        << row.host.patch << " hosting " << row.plugin.major << '.'
                                        << row.plugin.minor << '.' << row.plugin.patch);
        EXPECT_EQ(IsHostApiCompatible(row.host, row.plugin), row.compatible);
    }
}

}  // namespace
