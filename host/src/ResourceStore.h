#pragma once
// The host's resource tree: REST paths mapped to dynamic values, and the
// event name under which a change of a path is raised.
//
// The event name is computed here from the path alone, the way plugins
// compute it when they subscribe; the host never asks the plugin.
//
// Threading: host thread only.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"

namespace Tavo::Host {

// The host event for a change of `path`: "OnJsonApiEvent", then "_" and each
// of the first three non-empty segments of the path, or the first five when
// the first segment is "vex-platform-config". Runs of "/" count as one.
//   "/vex-login/v1/session/invoke" -> "OnJsonApiEvent_vex-login_v1_session"
//   ""                             -> "OnJsonApiEvent"
std::string EventNameForPath(std::string_view path);

// The path a request target names: the query ("?" onward) cut off and a
// leading "/" added when missing.
std::string ResourcePathOfTarget(std::string_view target);

// What happened to a resource, as raised in the event's "eventType".
enum class ResourceChange { Create, Update, Delete };

// "Create", "Update" or "Delete". Static text.
const char* ResourceChangeName(ResourceChange change);

class ResourceStore {
public:
    // Stores a copy of `value` under `path`. Returns Create when the path was
    // absent, Update when it replaced a value.
    ResourceChange Set(const std::string& path, const BindingProperty& value);
    // Removes `path`; false when it was absent.
    bool Delete(const std::string& path);
    // The value under `path`, or null. Valid until `path` is set or deleted.
    const BindingProperty* Find(const std::string& path) const;
    std::size_t Size() const { return resources_.size(); }

private:
    std::map<std::string, BindingProperty, std::less<>> resources_;
};

}  // namespace Tavo::Host
