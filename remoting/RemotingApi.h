#pragma once
// The remoting API object: the module's type registry, extended with the
// machinery for exported functions (the dispatcher comes with them). It
// registers the built-in types when it is constructed, before any plugin
// type. Owned by the module; see BindingRegistry for threading.

#include "binding/BindingRegistry.h"

namespace Tavo {

class RemotingApi : public BindingRegistry {
public:
    // A registry holding the built-in types and the event "OnCallback".
    RemotingApi();
    ~RemotingApi() override;
};

}  // namespace Tavo
