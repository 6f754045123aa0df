// A plugin for the end-to-end tests of exported functions: the shop of
// ShopApi.h declared in a module's registry, behind the framework's load
// step like a real plugin's functions.

#include "framework/AppModule.h"
#include "framework/PluginExport.h"
#include "tests/remoting/ShopApi.h"

namespace Tavo::Testing {

namespace {

// Host thread only, like every module table.
class ShopModule final : public Client::AppModule {
public:
    void RegisterApiTypes() override { DeclareShop(Registry(), calls_); }

private:
    int calls_ = 0;  // outlives every call: the functions run only while the module lives
};

}  // namespace

}  // namespace Tavo::Testing

TAVO_PLUGIN_EXPORT(Tavo::Testing::ShopModule);
