// Host values into dynamic values: arbitrary records, counts, nesting and
// null pointers within the records' declared bounds (HostValueBuilder.h).
// Checked:
// - a refusal is a failed result holding exactly {"error": message};
// - a converted tree converts back into a host value, which converts again
//   into an equal tree, and releasing it leaves no block of the counting
//   hooks behind.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/HostValueConvert.h"
#include "fuzz/HostValueBuilder.h"
#include "platform/MemoryAccounting.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_host_value: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Tavo::Fuzzing::HostValueBuilder builder(
        std::string_view(reinterpret_cast<const char*>(data), size));
    const Tavo::HostValue value = builder.Build();
    const Tavo::BindingResult result = Tavo::PropertyFromHostValue(value, "fuzz");
    if (!result.IsOk()) {
        Check(!result.ErrorMessage().empty(), "refusal without a message");
        Check(result.Value().Size() == 1, "refusal holds more than its message");
        return 0;
    }
    const Tavo::Memory::Stats before = Tavo::Memory::ReadStats();
    Tavo::HostValue back{};
    Check(Tavo::HostValueFromProperty(back, result.Value(), nullptr),
          "a converted tree does not convert back");
    {
        const Tavo::BindingResult again = Tavo::PropertyFromHostValue(back, "again");
        Check(again.IsOk(), "a host value made by the plugin is refused");
        Check(again.Value() == result.Value(), "the second conversion differs");
    }
    Tavo::ResetHostValue(back);
    Check(back.type == 0, "a released host value is not null");
    const Tavo::Memory::Stats after = Tavo::Memory::ReadStats();
    Check(after.liveBlocks == before.liveBlocks, "releasing the host value leaks blocks");
    return 0;
}
