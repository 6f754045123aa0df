#pragma once
// Builds the API export block (binding/ApiExport.h) from a registry.
//
// Types (structs and enums) and events come in declaration order; a type's
// fields in registration order, its enum values in ascending name order.
// Declared functions get a description record each (with their argument
// records), in declaration order; the exported function entries that carry
// them to the host are added by the registry's ExportFunctions (the remoting
// layer routes requests to them), through SetFunctions.
//
// Ownership: the returned object owns the entry arrays and tag arrays. The
// texts of types and events point into the registry's descriptors, so the
// registry must outlive it and must not change after it is built. The texts
// of function records and function entries are copies made with the counting
// duplicate-text hook, owned by this object and freed with it. Moving the
// object keeps every pointer in the block valid.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "abi/ApiExport.h"
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

    // Whatever an exporter allocates for its function entries; destroyed with
    // this object.
    class FunctionTable {
    public:
        virtual ~FunctionTable() = default;
    };
    // Installs the exported functions together with their owner.
    void SetFunctions(const ApiExportFunctionEntry* functions, std::uint32_t count,
                      std::unique_ptr<FunctionTable> owner) {
        functionTable_ = std::move(owner);
        SetFunctions(functions, count);
    }

    // The description records of the declared functions, in declaration
    // order, linked like every array of the block.
    std::span<const ApiExportFunctionRecord> FunctionRecords() const { return functionRecords_; }
    // The record of the function `name`, or null.
    const ApiExportFunctionRecord* FindFunctionRecord(std::string_view name) const;

    // A copy of `text` for the host, made with the duplicate-text hook and
    // freed with this object. Never null: "" when memory runs out.
    const char* KeepText(std::string_view text);

private:
    friend BindingApiExport BuildApiExport(const BindingRegistry& registry);

    struct FreeText {
        void operator()(char* text) const;
    };

    std::vector<ApiExportTypeEntry> types_;
    std::vector<ApiExportFieldEntry> fields_;  // each type's fields contiguous
    std::vector<ApiExportEnumValueEntry> values_;
    std::vector<ApiExportEventEntry> events_;
    std::vector<const char*> tags_;  // each type's or event's tags contiguous
    std::vector<ApiExportFunctionRecord> functionRecords_;
    std::vector<ApiExportArgumentEntry> arguments_;  // each function's arguments contiguous
    std::vector<const char*> functionTags_;          // each function's tags contiguous
    std::vector<std::unique_ptr<char, FreeText>> texts_;
    std::unique_ptr<FunctionTable> functionTable_;
    PluginApiExport block_{};
};

// Walks the registry's tables (under its lock, one table at a time), then
// lets the registry add its function entries (ExportFunctions).
BindingApiExport BuildApiExport(const BindingRegistry& registry);

}  // namespace Tavo
