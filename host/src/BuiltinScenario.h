#pragma once
// The scenario `ulm-host run` plays when no --scenario is given. Its text
// opens with the description of the scenario format.

#include <string_view>

namespace Tavo::Host {

// The YAML text; static.
std::string_view BuiltinScenarioText();

}  // namespace Tavo::Host
