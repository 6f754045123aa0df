#include "detail/KeyedHash.h"

#include <chrono>
#include <random>

namespace Tavo::detail {
namespace {

HashKey DrawKey() noexcept {
    HashKey key;
    try {
        std::random_device device;
        key.k0 = (std::uint64_t{device()} << 32) ^ device();
        key.k1 = (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No entropy source: still differ between processes and runs.
        static int anchor = 0;
        key.k0 =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        key.k1 =
            reinterpret_cast<std::uintptr_t>(&anchor) ^
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    }
    return key;
}

}  // namespace

const HashKey& ProcessHashKey() noexcept {
    static const HashKey key = DrawKey();
    return key;
}

}  // namespace Tavo::detail
