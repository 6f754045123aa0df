#include "binding/Builtins.h"

namespace Tavo {

void RegisterBuiltins(BindingRegistry& registry) {
    if (registry.HasBuiltins()) {
        return;
    }
    namespace Help = BindingHelpProvider;
    registry.Register<Help::HelpFormat>();
    registry.Register<Help::FullTypeIdentifier>();
    registry.Register<Help::FullArgumentHelp>();
    registry.Register<Help::FullFunctionHelp>();
    registry.Register<Help::FullEnumValueHelp>();
    registry.Register<Help::FullFieldHelp>();
    registry.Register<Help::FullTypeHelp>();
    registry.Register<Help::FullEventHelp>();
    registry.Register<Help::FullApiHelp>();
    registry.Register<BindingAsyncState::Type>();
    registry.Register<BindingGenericEvent>();
    registry.Register<BindingCallbackEvent>();
    registry.Register<BindingGenericAsyncEvent>();
    registry.Register<BindingAsyncFailureEvent>();
    registry.Register<BindingAsyncCancelEvent>();
    registry.DeclareEvent<BindingCallbackEvent>("OnCallback")
        .SetDescription("Fired when a callback is invoked.")
        .AddTag("$builtin");
    registry.MarkBuiltinsRegistered();
}

}  // namespace Tavo
