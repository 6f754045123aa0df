#include "binding/BindingApiExport.h"

#include <cstring>
#include <string>

#include "platform/MemoryAccounting.h"

namespace Tavo {

namespace {

// The referenced struct or enum of a field: only for the kinds that name one.
const char* ReferencedName(const BindingTypeInfo& info) {
    switch (info.kind) {
        case BindingNativeKind::Vector:
        case BindingNativeKind::Enum:
        case BindingNativeKind::Struct:
        case BindingNativeKind::Map:
            return info.descriptor != nullptr ? info.descriptor->name.c_str() : "";
        default:
            return "";
    }
}

template <class Entry>
void Link(Entry* first, std::size_t count) {
    for (std::size_t i = 0; i + 1 < count; ++i) {
        first[i].next = &first[i + 1];
    }
    if (count != 0) {
        first[count - 1].next = nullptr;
    }
}

}  // namespace

void BindingApiExport::FreeText::operator()(char* text) const {
    Memory::Free(text);
}

const char* BindingApiExport::KeepText(std::string_view text) {
    auto* copy = static_cast<char*>(Memory::Allocate(text.size() + 1));
    if (copy == nullptr) {
        return "";
    }
    std::unique_ptr<char, FreeText> owned(copy);
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    texts_.push_back(std::move(owned));
    return copy;
}

const ApiExportFunctionRecord* BindingApiExport::FindFunctionRecord(std::string_view name) const {
    for (const ApiExportFunctionRecord& record : functionRecords_) {
        if (std::string_view(record.name) == name) {
            return &record;
        }
    }
    return nullptr;
}

namespace {

// Function records and their argument records, texts copied for the host.
void BuildFunctionRecords(BindingApiExport& result,
                          const std::vector<const BindingFunctionDescriptor*>& functions,
                          std::vector<ApiExportFunctionRecord>& records,
                          std::vector<ApiExportArgumentEntry>& arguments,
                          std::vector<const char*>& tags) {
    std::size_t argumentCount = 0;
    std::size_t tagCount = 0;
    for (const BindingFunctionDescriptor* function : functions) {
        argumentCount += function->arguments.size();
        tagCount += function->tags.size();
    }
    records.reserve(functions.size());
    arguments.reserve(argumentCount);
    tags.reserve(tagCount);
    for (const BindingFunctionDescriptor* function : functions) {
        ApiExportFunctionRecord record{};
        record.name = result.KeepText(function->name);
        record.nameSpace = result.KeepText(function->nameSpace);
        if (!function->arguments.empty()) {
            const std::size_t first = arguments.size();
            for (const BindingFunctionArgument& argument : function->arguments) {
                ApiExportArgumentEntry entry{};
                entry.name = result.KeepText(argument.name);
                entry.description = result.KeepText(argument.description);
                entry.kind = static_cast<std::uint32_t>(argument.typeInfo.kind);
                entry.elementKind = static_cast<std::uint32_t>(argument.typeInfo.elementKind);
                entry.typeName = result.KeepText(ReferencedName(argument.typeInfo));
                entry.optional = argument.optional ? 1 : 0;
                arguments.push_back(entry);
            }
            Link(&arguments[first], function->arguments.size());
            record.arguments = &arguments[first];
        }
        record.argumentCount = static_cast<std::uint32_t>(function->arguments.size());
        record.returnKind = static_cast<std::uint32_t>(function->resultTypeInfo.kind);
        record.returnElementKind = static_cast<std::uint32_t>(function->resultTypeInfo.elementKind);
        record.returnTypeName = result.KeepText(ReferencedName(function->resultTypeInfo));
        record.description = result.KeepText(function->description);
        record.help = result.KeepText(function->help);
        record.threadSafe = function->threadSafe ? 1 : 0;
        record.asyncResultName = result.KeepText(function->asyncResultName);
        if (!function->tags.empty()) {
            const std::size_t first = tags.size();
            for (const std::string& tag : function->tags) {
                tags.push_back(result.KeepText(tag));
            }
            record.tags = &tags[first];
        }
        record.tagCount = static_cast<std::uint32_t>(function->tags.size());
        records.push_back(record);
    }
    Link(records.data(), records.size());
}

}  // namespace

BindingApiExport BuildApiExport(const BindingRegistry& registry) {
    const std::vector<const BindingTypeDescriptor*> types = registry.Types();
    const std::vector<const BindingEventDescriptor*> events = registry.Events();

    BindingApiExport result;
    // Reserve everything first: entries point at each other and at the tag
    // arrays, so no vector may reallocate once filling starts.
    std::size_t fieldCount = 0;
    std::size_t valueCount = 0;
    std::size_t tagCount = 0;
    for (const BindingTypeDescriptor* type : types) {
        fieldCount += type->fields.size();
        valueCount += type->fields.empty() ? type->values.size() : 0;
        tagCount += type->tags.size();
    }
    for (const BindingEventDescriptor* event : events) {
        tagCount += event->tags.size();
    }
    result.types_.reserve(types.size());
    result.fields_.reserve(fieldCount);
    result.values_.reserve(valueCount);
    result.events_.reserve(events.size());
    result.tags_.reserve(tagCount);

    auto appendTags = [&result](const std::vector<std::string>& tags) -> const char* const* {
        if (tags.empty()) {
            return nullptr;
        }
        const std::size_t first = result.tags_.size();
        for (const std::string& tag : tags) {
            result.tags_.push_back(tag.c_str());
        }
        return &result.tags_[first];
    };

    for (const BindingTypeDescriptor* type : types) {
        ApiExportTypeEntry entry{};
        entry.name = type->name.c_str();
        entry.nameSpace = type->nameSpace.c_str();
        entry.size = type->size;
        entry.description = type->description.c_str();
        entry.tags = appendTags(type->tags);
        entry.tagCount = static_cast<std::uint32_t>(type->tags.size());
        if (!type->fields.empty()) {
            const std::size_t first = result.fields_.size();
            for (const BindingFieldDescriptor& field : type->fields) {
                const BindingTypeInfo& info = field.overrideTypeInfo.kind != BindingNativeKind::None
                                                  ? field.overrideTypeInfo
                                                  : field.typeInfo;
                ApiExportFieldEntry fieldEntry{};
                fieldEntry.name = field.name.c_str();
                fieldEntry.description = field.description.c_str();
                fieldEntry.offset = field.offset;
                fieldEntry.kind = static_cast<std::uint32_t>(info.kind);
                fieldEntry.elementKind = static_cast<std::uint32_t>(info.elementKind);
                fieldEntry.typeName = ReferencedName(info);
                fieldEntry.optional = field.optional ? 1 : 0;
                result.fields_.push_back(fieldEntry);
            }
            Link(&result.fields_[first], type->fields.size());
            entry.fields = &result.fields_[first];
            entry.count = static_cast<std::uint32_t>(type->fields.size());
        } else if (!type->values.empty()) {
            const std::size_t first = result.values_.size();
            for (const auto& [name, value] : type->values) {
                result.values_.push_back(
                    {nullptr, name.c_str(), value.description.c_str(), value.value});
            }
            Link(&result.values_[first], type->values.size());
            entry.enumValues = &result.values_[first];
            entry.count = static_cast<std::uint32_t>(type->values.size());
        }
        result.types_.push_back(entry);
    }
    Link(result.types_.data(), result.types_.size());

    for (const BindingEventDescriptor* event : events) {
        ApiExportEventEntry entry{};
        entry.name = event->name.c_str();
        entry.nameSpace = event->nameSpace.c_str();
        entry.payloadName = event->payload != nullptr ? event->payload->name.c_str() : "";
        entry.description = event->description.c_str();
        entry.tags = appendTags(event->tags);
        entry.tagCount = static_cast<std::uint32_t>(event->tags.size());
        result.events_.push_back(entry);
    }
    Link(result.events_.data(), result.events_.size());

    BuildFunctionRecords(result, registry.Functions(), result.functionRecords_, result.arguments_,
                         result.functionTags_);

    result.block_.functions = nullptr;
    result.block_.functionCount = 0;
    result.block_.types = result.types_.empty() ? nullptr : result.types_.data();
    result.block_.typeCount = static_cast<std::uint32_t>(result.types_.size());
    result.block_.events = result.events_.empty() ? nullptr : result.events_.data();
    result.block_.eventCount = static_cast<std::uint32_t>(result.events_.size());
    registry.ExportFunctions(result);
    return result;
}

}  // namespace Tavo
