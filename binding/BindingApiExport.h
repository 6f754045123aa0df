#pragma once
// Builds the API export block (binding/ApiExport.h) from a registry.
//
// Types (structs and enums) and events come in declaration order; a type's
// fields in registration order, its enum values in ascending name order. The
// function array is empty here: the remoting layer, which owns exported
// functions, sets it with SetFunctions.
//
// Ownership: the returned object owns the entry arrays and tag arrays; the
// texts point into the registry's descriptors, so the registry must outlive
// it and must not change after it is built. Moving the object keeps every
// pointer in the block valid.

#include <cstdint>
#include <vector>

#include "binding/ApiExport.h"
#include "binding/BindingRegistry.h"

namespace Tavo {

class BindingApiExport {
public:
    BindingApiExport() = default;
    BindingApiExport(BindingApiExport&&) noexcept = default;
    BindingApiExport& operator=(BindingApiExport&&) noexcept = default;
    BindingApiExport(const BindingApiExport&) = delete;
    BindingApiExport& operator=(const BindingApiExport&) = delete;

    // The block handed to the host; valid while this object lives.
    const PluginApiExport& Block() const { return block_; }

    // Installs the exported functions (owned by the caller, who keeps them
    // alive as long as this object).
    void SetFunctions(const ApiExportFunctionEntry* functions, std::uint32_t count) {
        block_.functions = functions;
        block_.functionCount = functions == nullptr ? 0 : count;
    }

private:
    friend BindingApiExport BuildApiExport(const BindingRegistry& registry);

    std::vector<ApiExportTypeEntry> types_;
    std::vector<ApiExportFieldEntry> fields_;  // each type's fields contiguous
    std::vector<ApiExportEnumValueEntry> values_;
    std::vector<ApiExportEventEntry> events_;
    std::vector<const char*> tags_;  // each type's or event's tags contiguous
    PluginApiExport block_{};
};

// Walks the registry's tables (under its lock, one table at a time).
BindingApiExport BuildApiExport(const BindingRegistry& registry);

}  // namespace Tavo
