#include "binding/ApiVersionText.h"

namespace Tavo {

std::string ToText(const PluginApiVersion& version) {
    std::string text = std::to_string(version.major);
    text += '.';
    text += std::to_string(version.minor);
    text += '.';
    text += std::to_string(version.patch);
    if (version.prerelease != nullptr && *version.prerelease != '\0') {
        text += '-';
        text += version.prerelease;
    }
    if (version.build != nullptr && *version.build != '\0') {
        text += '+';
        text += version.build;
    }
    return text;
}

}  // namespace Tavo
