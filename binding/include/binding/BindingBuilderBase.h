#pragma once
// What every registry builder shares: the registry it adds to and whether
// its declaration was a repeat, in which case every addition is dropped.

#include <string>
#include <string_view>
#include <vector>

namespace Tavo {

class BindingRegistry;

// Common state of the builders: the registry, the descriptor (or event) they
// add to, and whether the declaration was a repeat. Returned by value from the
// declarations; valid while the registry lives.
class BindingBuilderBase {
public:
    // True when the name was already registered: every addition is dropped.
    bool Failed() const { return failed_; }

protected:
    BindingBuilderBase(BindingRegistry* registry, bool failed)
        : registry_(registry), failed_(failed) {}
    // Appends `tag` unless it is empty.
    static void AppendTag(std::vector<std::string>& tags, std::string_view tag);

    BindingRegistry* registry_;
    bool failed_;
};

}  // namespace Tavo
