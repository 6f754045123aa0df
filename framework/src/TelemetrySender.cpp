#include "TelemetrySender.h"

#include "framework/AppModule.h"

namespace Tavo::Client {

namespace {

constexpr const char* kTelemetryPath = "/telemetry/v1/events/";

}  // namespace

std::future<Maybe<void>> TelemetrySender::SendTelemetryEvent(const std::string& name,
                                                             const EventBody& body) {
    std::promise<Maybe<void>> promise;
    std::future<Maybe<void>> future = promise.get_future();
    promise.set_value(owner_->Request<void>(HttpMethod::Post, kTelemetryPath + name, body));
    return future;
}

}  // namespace Tavo::Client
