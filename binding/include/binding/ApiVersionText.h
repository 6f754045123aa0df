#pragma once
// The text form of a plugin API version, for messages and descriptions. The
// version itself is a boundary constant (abi/HostAbi.h), which holds no code.

#include <string>

#include "abi/HostAbi.h"

namespace Tavo {

// "major.minor.patch", then "-prerelease" and "+build" when not empty:
// "18.0.0", "18.2.1-beta+7", "18.0.0+5". Null texts count as empty.
// [any-thread]
std::string ToText(const PluginApiVersion& version);

}  // namespace Tavo
