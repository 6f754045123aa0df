#include "framework/Await.h"

#include "logging/Diagnostics.h"

namespace Tavo::Client {

void FailOnFutureError(const std::future_error& error) {
    const std::string description = Format("Caught std::future_error in AppModule::Await: (%1) %2",
                                           error.code().value(), error.what());
    TAVO_FATAL(Diagnostics::kFutureError, "%s", description.c_str());
}

bool CanYieldToHost(const AppModule& module) {
    const HostConnection* connection = module.Connection();
    return connection != nullptr && connection->host != nullptr &&
           connection->host->hostYield != nullptr;
}

void AppModule::Yield() {
    hostBeginWait("Wait: yield", 0);
    hostYield();
    hostEndWait();
}

}  // namespace Tavo::Client
