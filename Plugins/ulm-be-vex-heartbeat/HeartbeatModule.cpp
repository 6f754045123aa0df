#include "Plugins/ulm-be-vex-heartbeat/HeartbeatModule.h"

namespace Tavo::Client::Heartbeat {

std::int32_t ReadConfiguredInteger(const BindingProperty& value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.AsInt64(0)));
}

void HeartbeatModule::RegisterApiTypes() {
    Api::DescribeLoginSessionTypes(*this);
}

bool HeartbeatModule::Start() {
    ArmHeartbeatTimer();
    return true;
}

void HeartbeatModule::ArmHeartbeatTimer() {
    StartTimer(kTimerName, static_cast<double>(heartbeatRateSeconds_), [this] { SendHeartbeat(); });
}

void HeartbeatModule::SendHeartbeat() {
    if (!sessionActive_) {
        return;
    }
}

}  // namespace Tavo::Client::Heartbeat
