#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "abi/ApiExport.h"
#include "abi/HostAbi.h"
#include "abi/HostValue.h"
#include "tests/abi/AbiLayoutC.h"

namespace {

using namespace Tavo;

struct LayoutRow {
    std::string name;
    std::size_t value;
};

#define TAVO_ABI_SIZE(record) {"sizeof " #record, sizeof(record)},
#define TAVO_ABI_OFFSET(record, member) {#record "." #member, offsetof(record, member)},
const std::vector<LayoutRow> kCxxLayout = {
#include "tests/abi/AbiLayoutRows.h"
};
#undef TAVO_ABI_SIZE
#undef TAVO_ABI_OFFSET

// A host written in C and a plugin written in C++ read the same bytes only if
// both compilers lay every record out alike: packing, pointer width and the
// width of each member must agree.
TEST(AbiLayout, CAndCxxAgreeOnEverySizeAndOffset) {
    ASSERT_EQ(tavoAbiLayoutCCount, kCxxLayout.size());
    for (std::size_t i = 0; i < kCxxLayout.size(); ++i) {
        SCOPED_TRACE(kCxxLayout[i].name);
        EXPECT_EQ(tavoAbiLayoutC[i].name, kCxxLayout[i].name);
        EXPECT_EQ(tavoAbiLayoutC[i].value, kCxxLayout[i].value);
    }
}

}  // namespace
