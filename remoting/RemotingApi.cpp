#include "remoting/RemotingApi.h"

#include "binding/Builtins.h"

namespace Tavo {

RemotingApi::RemotingApi() {
    RegisterBuiltins(*this);
}

RemotingApi::~RemotingApi() = default;

}  // namespace Tavo
