// A plugin that behaves and asks the host only while it starts: it listens
// to the login session, whose current value it reads once with a GET, and
// from then on only takes events. `ulm-host validate` must pass it whole: a
// host that fails that one read has not stopped it from working.

#include "binding/BindingProperty.h"
#include "framework/AppModule.h"
#include "framework/PluginExport.h"

namespace Tavo::Testing {

namespace {

// Host thread only, like every module table.
class StartReaderModule final : public Client::AppModule {
public:
    bool Start() override {
        AddResourceListener<BindingProperty>(
            "/vex-login/v1/session",
            [this](const Client::ResourceUpdate<BindingProperty>&) { ++updates_; });
        return true;
    }

private:
    int updates_ = 0;
};

}  // namespace

}  // namespace Tavo::Testing

TAVO_PLUGIN_EXPORT(Tavo::Testing::StartReaderModule);
