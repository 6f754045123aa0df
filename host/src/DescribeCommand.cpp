// ulm-host describe: loads a plugin (the export only; no Initialize) and
// prints its API export block as the host sees it, following the entries'
// next links: the registered types with their fields or enum values, the
// events, and the exported functions.
//
//   ulm-host describe [--plugin PATH] [--json] [--api-version X.Y.Z]
//
// Exit 0; 1 when the plugin cannot be loaded; 2 for a wrong command line.
// The plugin is shut down again before the command returns.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "HostCommand.h"
#include "PluginLoader.h"
#include "binding/ApiVersionText.h"
#include "binding/BindingProperty.h"
#include "binding/BindingTypeInfo.h"
#include "formats/JsonWriter.h"
#include "remoting/HttpMethod.h"

namespace Tavo::Host {

namespace {

// Chains longer than this are taken for a cycle: no registry holds so many.
constexpr std::uint32_t kMaxEntries = 1u << 20;

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

std::string KindName(std::uint32_t kind) {
    if (kind == 0) {
        return "none";
    }
    const char* name = BindingNativeKindName(static_cast<BindingNativeKind>(kind));
    return *name != '\0' ? std::string(name) : "kind " + std::to_string(kind);
}

void AddTags(BindingProperty& out, const char* const* tags, std::uint32_t count) {
    out.MakeCollection();
    for (std::uint32_t i = 0; tags != nullptr && i < count && i < kMaxEntries; ++i) {
        out.Append().SetString(Text(tags[i]));
    }
}

// Follows `next` links from `first`, calling `visit` for each entry. Notes a
// disagreement between the links and `count` in `warnings`.
template <class Entry, class Visit>
void Walk(const Entry* first, std::uint32_t count, const char* what, BindingProperty& warnings,
          Visit visit) {
    std::uint32_t walked = 0;
    for (const Entry* entry = first; entry != nullptr; entry = entry->next) {
        if (walked == kMaxEntries) {
            warnings.Append().SetString(std::string(what) + ": the links do not end");
            return;
        }
        visit(*entry);
        ++walked;
    }
    if (walked != count) {
        warnings.Append().SetString(std::string(what) + ": " + std::to_string(count) +
                                    " announced, " + std::to_string(walked) + " linked");
    }
}

BindingProperty DescribeType(const ApiExportTypeEntry& type, BindingProperty& warnings) {
    BindingProperty out;
    const std::string name = Text(type.name);
    out.Field("name").SetString(name);
    out.Field("nameSpace").SetString(Text(type.nameSpace));
    out.Field("size").SetUnsigned(type.size);
    out.Field("description").SetString(Text(type.description));
    AddTags(out.Field("tags"), type.tags, type.tagCount);
    if (type.fields != nullptr) {
        out.Field("category").SetString("struct");
        BindingProperty& fields = out.Field("fields");
        fields.MakeCollection();
        Walk(type.fields, type.count, (name + " fields").c_str(), warnings,
             [&](const ApiExportFieldEntry& entry) {
                 // Packed: read each member by value.
                 const std::uint32_t kind = entry.kind;
                 const std::uint32_t elementKind = entry.elementKind;
                 BindingProperty& field = fields.Append();
                 field.Field("name").SetString(Text(entry.name));
                 field.Field("description").SetString(Text(entry.description));
                 field.Field("offset").SetUnsigned(std::uint32_t{entry.offset});
                 field.Field("kind").SetUnsigned(kind);
                 field.Field("kindName").SetString(KindName(kind));
                 field.Field("elementKind").SetUnsigned(elementKind);
                 field.Field("elementKindName").SetString(KindName(elementKind));
                 field.Field("typeName").SetString(Text(entry.typeName));
                 field.Field("optional").SetBool(entry.optional != 0);
             });
    } else {
        out.Field("category").SetString("enum");
        BindingProperty& values = out.Field("values");
        values.MakeCollection();
        Walk(type.enumValues, type.count, (name + " values").c_str(), warnings,
             [&](const ApiExportEnumValueEntry& entry) {
                 BindingProperty& value = values.Append();
                 value.Field("name").SetString(Text(entry.name));
                 value.Field("description").SetString(Text(entry.description));
                 value.Field("value").SetSigned(entry.value);
             });
    }
    return out;
}

BindingProperty DescribeEvent(const ApiExportEventEntry& event) {
    BindingProperty out;
    out.Field("name").SetString(Text(event.name));
    out.Field("nameSpace").SetString(Text(event.nameSpace));
    out.Field("payload").SetString(Text(event.payloadName));
    out.Field("description").SetString(Text(event.description));
    AddTags(out.Field("tags"), event.tags, event.tagCount);
    return out;
}

const char* LocationName(std::uint32_t location) {
    switch (location) {
        case 0:
            return "any";
        case 1:
            return "query";
        case 2:
            return "path";
        case 4:
            return "header";
        case 5:
            return "body";
        default:
            return "unknown";
    }
}

void DescribeValueType(BindingProperty& out, std::uint32_t kind, std::uint32_t elementKind,
                       const char* typeName) {
    out.Field("kind").SetUnsigned(kind);
    out.Field("kindName").SetString(KindName(kind));
    out.Field("elementKind").SetUnsigned(elementKind);
    out.Field("elementKindName").SetString(KindName(elementKind));
    out.Field("typeName").SetString(Text(typeName));
}

// An exported function: its record (arguments, result, help) and its route
// (method, path template and placeholders, argument locations). The argument
// records and the location entries are walked side by side.
BindingProperty DescribeFunction(const ApiExportFunctionEntry& entry, BindingProperty& warnings) {
    BindingProperty out;
    // Packed records: every member is read by value.
    const ApiExportFunctionRecord& record = entry.function;
    const std::string name = Text(record.name);
    out.Field("name").SetString(name);
    out.Field("nameSpace").SetString(Text(record.nameSpace));
    out.Field("description").SetString(Text(record.description));
    out.Field("help").SetString(Text(record.help));
    out.Field("threadSafe").SetBool(record.threadSafe != 0);
    out.Field("async").SetString(Text(record.asyncResultName));
    AddTags(out.Field("tags"), record.tags, record.tagCount);
    const std::uint32_t method = entry.method;
    out.Field("method").SetUnsigned(method);
    out.Field("methodName")
        .SetString(method == 8 ? std::string(Text(entry.methodName))
                               : std::string(MethodName(method)));
    out.Field("path").SetString(Text(entry.pathTemplate));
    out.Field("getOnly").SetBool((entry.routeFlags & 1u) != 0);
    BindingProperty& placeholders = out.Field("placeholders");
    placeholders.MakeCollection();
    const ApiExportTextListEntry* lists = entry.textLists;
    if (lists != nullptr) {
        const char* const* texts = lists->texts;
        const std::uint32_t count = lists->count;
        for (std::uint32_t i = 0; texts != nullptr && i < count && i < kMaxEntries; ++i) {
            placeholders.Append().SetString(Text(texts[i]));
        }
    }
    DescribeValueType(out.Field("returns"), record.returnKind, record.returnElementKind,
                      record.returnTypeName);

    BindingProperty& arguments = out.Field("arguments");
    arguments.MakeCollection();
    const ApiExportArgumentLocationEntry* location = entry.locations;
    Walk(record.arguments, record.argumentCount, (name + " arguments").c_str(), warnings,
         [&](const ApiExportArgumentEntry& argument) {
             BindingProperty& described = arguments.Append();
             described.Field("name").SetString(Text(argument.name));
             described.Field("description").SetString(Text(argument.description));
             DescribeValueType(described, argument.kind, argument.elementKind, argument.typeName);
             described.Field("optional").SetBool(argument.optional != 0);
             const std::uint32_t code = location != nullptr ? location->location : 0;
             described.Field("location").SetUnsigned(code);
             described.Field("locationName").SetString(LocationName(code));
             location = location != nullptr ? location->next : nullptr;
         });
    return out;
}

BindingProperty DescribeExport(const PluginLibrary& plugin, const PluginApiVersion& hostVersion) {
    BindingProperty out;
    BindingProperty& header = out.Field("plugin");
    header.Field("path").SetString(plugin.Path());
    header.Field("symbol").SetString(plugin.Symbol());
    header.Field("shortName").SetString(plugin.ShortName());
    header.Field("pluginApi").SetString(ToText(plugin.PluginVersion()));
    header.Field("hostApi").SetString(ToText(hostVersion));
    BindingProperty& warnings = out.Field("warnings");
    warnings.MakeCollection();
    BindingProperty& types = out.Field("types");
    types.MakeCollection();
    BindingProperty& events = out.Field("events");
    events.MakeCollection();
    BindingProperty& functions = out.Field("functions");
    functions.MakeCollection();

    const PluginApiExport* block = plugin.ApiExport();
    if (block == nullptr) {
        warnings.Append().SetString("the plugin has no API export block");
        return out;
    }
    Walk(block->types, block->typeCount, "types", warnings,
         [&](const ApiExportTypeEntry& type) { types.Append() = DescribeType(type, warnings); });
    Walk(block->events, block->eventCount, "events", warnings,
         [&](const ApiExportEventEntry& event) { events.Append() = DescribeEvent(event); });
    // Function entries link through their leading record.
    std::uint32_t walked = 0;
    for (const ApiExportFunctionRecord* record =
             block->functions != nullptr ? &block->functions->function : nullptr;
         record != nullptr && walked < kMaxEntries; record = record->next, ++walked) {
        functions.Append() =
            DescribeFunction(*reinterpret_cast<const ApiExportFunctionEntry*>(record), warnings);
    }
    if (walked != block->functionCount) {
        warnings.Append().SetString("functions: " + std::to_string(block->functionCount) +
                                    " announced, " + std::to_string(walked) + " linked");
    }
    return out;
}

std::string JoinTexts(const BindingProperty& list) {
    std::string text;
    for (const BindingProperty& item : list.Elements()) {
        text += text.empty() ? "" : ", ";
        text += item.GetString();
    }
    return text;
}

// "  tags: a, b", or nothing without tags.
std::string TagsText(const BindingProperty& tags) {
    return tags.Size() == 0 ? std::string() : "  tags: " + JoinTexts(tags);
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

// "uint64", "enum LoginSessionStates", "vector of struct Item", "map of string".
std::string FieldTypeText(const BindingProperty& field) {
    const std::string kind(field.Find("kindName").GetString());
    const std::string element(field.Find("elementKindName").GetString());
    const std::string typeName(field.Find("typeName").GetString());
    if (kind == "vector" || kind == "map") {
        std::string text = kind + " of " + element;
        return typeName.empty() ? text : text + " " + typeName;
    }
    return typeName.empty() ? kind : kind + " " + typeName;
}

std::string RenderText(const BindingProperty& description) {
    const BindingProperty& header = description.Find("plugin");
    std::string text = "Plugin " + std::string(header.Find("shortName").GetString()) + " from " +
                       std::string(header.Find("path").GetString()) + "\n";
    text += "  export " + std::string(header.Find("symbol").GetString()) + ", plugin API " +
            std::string(header.Find("pluginApi").GetString()) + " (host offered " +
            std::string(header.Find("hostApi").GetString()) + ")\n";

    const BindingProperty& types = description.Find("types");
    text += "\nTypes (" + std::to_string(types.Size()) + ")\n";
    for (const BindingProperty& type : types.Elements()) {
        text += "  " + std::string(type.Find("category").GetString()) + " " +
                std::string(type.Find("name").GetString());
        if (!type.Find("nameSpace").GetString().empty()) {
            text += "  namespace " + std::string(type.Find("nameSpace").GetString());
        }
        text += "  size " + std::to_string(type.Find("size").GetUnsigned());
        text += TagsText(type.Find("tags")) + "\n";
        if (!type.Find("description").GetString().empty()) {
            text += "      " + std::string(type.Find("description").GetString()) + "\n";
        }
        for (const BindingProperty& field : type.Find("fields").Elements()) {
            text += "      " + Pad(std::string(field.Find("name").GetString()), 14) + " " +
                    Pad(FieldTypeText(field), 36) + " offset " +
                    std::to_string(field.Find("offset").GetUnsigned());
            text += field.Find("optional").GetBool() ? "  optional" : "";
            if (!field.Find("description").GetString().empty()) {
                text += "  " + std::string(field.Find("description").GetString());
            }
            text += "\n";
        }
        for (const BindingProperty& value : type.Find("values").Elements()) {
            text += "      " + std::string(value.Find("name").GetString()) + " = " +
                    std::to_string(value.Find("value").GetSigned());
            if (!value.Find("description").GetString().empty()) {
                text += "  " + std::string(value.Find("description").GetString());
            }
            text += "\n";
        }
    }

    const BindingProperty& events = description.Find("events");
    text += "\nEvents (" + std::to_string(events.Size()) + ")\n";
    for (const BindingProperty& event : events.Elements()) {
        text += "  " + std::string(event.Find("name").GetString()) + "  payload " +
                std::string(event.Find("payload").GetString());
        if (!event.Find("nameSpace").GetString().empty()) {
            text += "  namespace " + std::string(event.Find("nameSpace").GetString());
        }
        text += TagsText(event.Find("tags")) + "\n";
        if (!event.Find("description").GetString().empty()) {
            text += "      " + std::string(event.Find("description").GetString()) + "\n";
        }
    }

    const BindingProperty& functions = description.Find("functions");
    text += "\nFunctions (" + std::to_string(functions.Size()) + ")\n";
    for (const BindingProperty& function : functions.Elements()) {
        const std::string method(function.Find("methodName").GetString());
        text += "  " + std::string(function.Find("name").GetString()) + "  " +
                (method.empty() ? std::string("any") : method) + " " +
                std::string(function.Find("path").GetString());
        if (function.Find("getOnly").GetBool()) {
            text += "  (GET and HEAD only)";
        }
        const BindingProperty& returns = function.Find("returns");
        if (returns.Find("kind").GetUnsigned() != 0) {
            text += "  returns " + FieldTypeText(returns);
        }
        if (!function.Find("nameSpace").GetString().empty()) {
            text += "  namespace " + std::string(function.Find("nameSpace").GetString());
        }
        if (function.Find("threadSafe").GetBool()) {
            text += "  thread-safe";
        }
        text += TagsText(function.Find("tags")) + "\n";
        if (!function.Find("description").GetString().empty()) {
            text += "      " + std::string(function.Find("description").GetString()) + "\n";
        }
        for (const BindingProperty& argument : function.Find("arguments").Elements()) {
            text += "      " + Pad(std::string(argument.Find("name").GetString()), 14) + " " +
                    Pad(FieldTypeText(argument), 36) + " from " +
                    std::string(argument.Find("locationName").GetString());
            text += argument.Find("optional").GetBool() ? "  optional" : "";
            if (!argument.Find("description").GetString().empty()) {
                text += "  " + std::string(argument.Find("description").GetString());
            }
            text += "\n";
        }
    }

    const BindingProperty& warnings = description.Find("warnings");
    for (const BindingProperty& warning : warnings.Elements()) {
        text += "\nwarning: " + std::string(warning.GetString());
    }
    if (warnings.Size() != 0) {
        text += "\n";
    }
    return text;
}

class DescribeCommand final : public HostCommand {
public:
    void AddTo(CLI::App& subcommand) override {
        pluginOptions_.AddTo(subcommand, "Plugin API version the host offers (default 18.0.0)");
        subcommand.add_flag("--json", json_, "Write the description as one JSON document");
    }

    int Run() override {
        const PluginApiVersion hostVersion = pluginOptions_.HostVersion();
        const std::string path = pluginOptions_.Path();
        std::string error;
        std::unique_ptr<PluginLibrary> plugin = PluginLibrary::Load(path, hostVersion, error);
        if (!plugin) {
            std::fprintf(stderr, "ulm-host describe: %s\n", error.c_str());
            return kExitFailure;
        }
        const BindingProperty description = DescribeExport(*plugin, hostVersion);
        // The module is only loaded; Shutdown releases it.
        plugin.reset();

        const std::string text =
            json_ ? WriteJson(description, nullptr, "\n") + "\n" : RenderText(description);
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
            std::fflush(stdout) != 0) {
            std::fputs("ulm-host describe: cannot write standard output\n", stderr);
            return kExitFailure;
        }
        return kExitOk;
    }

private:
    PluginOptions pluginOptions_;
    bool json_ = false;
};

}  // namespace

RegisteredCommand AddDescribeCommand(CLI::App& app) {
    return AddCommand(app, std::make_unique<DescribeCommand>(), "describe",
                      "Load a plugin and print the types, events and functions it exports");
}

}  // namespace Tavo::Host
