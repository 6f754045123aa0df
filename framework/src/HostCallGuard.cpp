#include "framework/HostCallGuard.h"

#include "logging/Log.h"

namespace Tavo::Client {

void ReportHostCallException(const char* where, const char* what) noexcept {
    Log(LogLevel::Error, LogGroup::DBG, "Exception caught in %s: %s", where,
        what != nullptr ? what : "unknown exception");
}

}  // namespace Tavo::Client
