#pragma once
// A plugin library's entry point in one line:
//
//   #include "framework/PluginExport.h"
//   TAVO_PLUGIN_EXPORT(MyCompany::CounterModule);
//
// expands to the library's only export, `load_<short name>` (with "-" turned
// into "_"), which builds the module (default-constructible, derived from
// AppModule) through LoadPlugin with the library's short name and plugin
// type. The names come from the build: tavo_add_plugin derives them from the
// library's full name ("ulm-be-counter": short name "counter", type
// "backend", export load_counter) and defines
//   TAVO_PLUGIN_EXPORT_NAME  the export's identifier, e.g. load_counter
//   TAVO_PLUGIN_SHORT_NAME   the short name as a text, e.g. "counter"
//   TAVO_PLUGIN_TYPE_NAME    "backend" for ulm-be-, "frontend" for ulm-fe-,
//                            any other text for ulm-xx-
// so the export, the library's file name and its export list cannot
// disagree. Use the macro once per library, at namespace scope.

#include <type_traits>

#include "abi/HostAbi.h"
#include "framework/PluginEntry.h"

#if !defined(TAVO_PLUGIN_EXPORT_NAME) || !defined(TAVO_PLUGIN_SHORT_NAME) || \
    !defined(TAVO_PLUGIN_TYPE_NAME)
#error \
    "framework/PluginExport.h belongs to a library made by tavo_add_plugin, which names its export"
#endif

#define TAVO_PLUGIN_EXPORT(Module)                                                          \
    extern "C" __attribute__((visibility("default"))) void* TAVO_PLUGIN_EXPORT_NAME(        \
        ::Tavo::PluginLoadRecord* record) {                                                 \
        static constexpr ::Tavo::Client::PluginType kType{TAVO_PLUGIN_TYPE_NAME, ""};       \
        return ::Tavo::Client::LoadPlugin<Module>(record, TAVO_PLUGIN_SHORT_NAME, kType);   \
    }                                                                                       \
    static_assert(std::is_same_v<decltype(&TAVO_PLUGIN_EXPORT_NAME), ::Tavo::PluginLoadFn>, \
                  "the export has the boundary's type")
