#pragma once
// The module's telemetry sender: posts named telemetry events to the host.
// Owned by the module, created at Initialize, destroyed with the module.
// Virtual operations in slot order: 0 destructor, 1 SendTelemetryEvent (added
// with the telemetry service).

namespace Tavo::Client {

class AppModule;

class TelemetrySender {
public:
    // `owner` outlives the sender.
    explicit TelemetrySender(AppModule& owner) : owner_(&owner) {}
    TelemetrySender(const TelemetrySender&) = delete;
    TelemetrySender& operator=(const TelemetrySender&) = delete;
    // Slot 0.
    virtual ~TelemetrySender() = default;

protected:
    AppModule* owner_;
};

}  // namespace Tavo::Client
