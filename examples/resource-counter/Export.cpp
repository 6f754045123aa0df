// The library's only export, load_resource_counter.
#include "CounterModule.h"
#include "framework/PluginExport.h"

TAVO_PLUGIN_EXPORT(Counter::CounterModule);
