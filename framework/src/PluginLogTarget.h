#pragma once
// The log target that hands each accepted record to the host (host entry 9,
// hostLog): the numeric level and the bare message. The target's format text
// is kept for the settings but not applied; time stamp and groups are not
// passed on.

#include "abi/HostAbi.h"
#include "logging/LogTarget.h"

namespace Tavo::Client {

class PluginLogTarget final : public LogTarget {
public:
    // The name InstallPluginLogTarget looks for.
    static constexpr const char* kName = "PluginLogTarget";

    // `host` is the host's table; it must stay valid while the target is
    // attached. The target starts detached.
    explicit PluginLogTarget(HostInterface* host) : host_(host) {}
    // Detaches first, so that no record reaches the target (or the host it
    // points to) once its owner is gone.
    ~PluginLogTarget() override;

    // "PluginLogTarget".
    // [any-thread]
    const char* Name() const override;
    // Calls hostLog(level, message); always reports the record as written.
    // Runs under the log manager's lock; takes no lock of its own.
    // [any-thread & initialized]
    bool Write(const LogRecord& record) override;

private:
    HostInterface* host_;
};

}  // namespace Tavo::Client
