#pragma once
// The module's telemetry sender: posts named telemetry events to the host.
// Owned by the module, created at Initialize, destroyed with the module.
// Virtual operations in slot order: 0 destructor, 1 SendTelemetryEvent.

#include <future>
#include <string>
#include <unordered_map>

#include "logging/Failure.h"

namespace Tavo::Client {

class AppModule;

class TelemetrySender {
public:
    // Text field name → text value.
    using EventBody = std::unordered_map<std::string, std::string>;

    // `owner` outlives the sender.
    explicit TelemetrySender(AppModule& owner) : owner_(&owner) {}
    TelemetrySender(const TelemetrySender&) = delete;
    TelemetrySender& operator=(const TelemetrySender&) = delete;
    // Slot 0.
    virtual ~TelemetrySender() = default;

    // Slot 1: posts `body` as one structure of text members to
    // "/telemetry/v1/events/" followed by `name` (appended unchanged) and
    // returns the outcome in a future that is ready on return: success, or
    // the request's failure (not logged, not retried). Blocks for the host
    // request.
    // [host-thread & initialized]
    virtual std::future<Maybe<void>> SendTelemetryEvent(const std::string& name,
                                                        const EventBody& body);

protected:
    AppModule* owner_;
};

}  // namespace Tavo::Client
