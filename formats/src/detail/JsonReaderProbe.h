#pragma once
// What the JSON reader did, for its tests: how many decoded texts it had to
// search for a NUL because they held an escape. [any-thread]

#include <cstdint>

namespace Tavo::detail {

std::uint64_t JsonTextsSearchedForNul();

}  // namespace Tavo::detail
