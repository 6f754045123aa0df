#include "binding/ApiVersionText.h"

#include <gtest/gtest.h>

namespace {

using Tavo::kPluginApiVersion;
using Tavo::PluginApiVersion;

TEST(ApiVersionText, AddsPrereleaseAndBuildOnlyWhenPresent) {
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
        EXPECT_EQ(ToText(row.version), row.text);
    }
}

}  // namespace
