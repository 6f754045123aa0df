#include "HeartbeatModule.h"

#include <string>

#include "logging/Diagnostics.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace Tavo::Client::Heartbeat {

namespace {

constexpr std::int64_t kWallClockUnitsPerSecond = 10000000;  // 100 ns units

}  // namespace

std::int32_t ReadConfiguredInteger(const BindingProperty& value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.AsInt64(0)));
}

void HeartbeatModule::RegisterApiTypes() {
    Api::DescribeLoginSessionTypes(*this);
}

bool HeartbeatModule::Start() {
    AddResourceListener<Api::LoginSession>(
        kSessionPath,
        [this](const ResourceUpdate<Api::LoginSession>& update) { OnSessionUpdate(update); });
    AddResourceListener<BindingProperty>(
        kRatePath, [this](const ResourceUpdate<BindingProperty>& update) { OnRateUpdate(update); });
    ArmHeartbeatTimer();
    return true;
}

void HeartbeatModule::OnSessionUpdate(const ResourceUpdate<Api::LoginSession>& update) {
    switch (update.eventType) {
        case PluginResourceEventType::Create:
        case PluginResourceEventType::Update: {
            const bool wasActive = sessionActive_;
            const Api::LoginSession& session = update.data;
            sessionActive_ = session.state == Api::LoginSessionState::SUCCEEDED &&
                             session.accountId != 0 && session.summonerId != 0;
            if (!wasActive && sessionActive_) {
                accountId_ = session.accountId;
            }
            break;
        }
        case PluginResourceEventType::Delete:
            sessionActive_ = false;
            accountId_ = 0;
            break;
    }
}

void HeartbeatModule::OnRateUpdate(const ResourceUpdate<BindingProperty>& update) {
    const std::int32_t rate = ReadConfiguredInteger(update.data);
    if (rate <= kDefaultRateSeconds || rate == heartbeatRateSeconds_) {
        return;
    }
    heartbeatRateSeconds_ = rate;
    ArmHeartbeatTimer();
}

void HeartbeatModule::ArmHeartbeatTimer() {
    StartTimer(kTimerName, static_cast<double>(heartbeatRateSeconds_), [this] { SendHeartbeat(); });
}

void HeartbeatModule::SendHeartbeat() {
    if (!sessionActive_) {
        return;
    }
    const std::int64_t now = Platform::WallClock100ns() / kWallClockUnitsPerSecond;
    const std::string timestamp = Diagnostics::FormatUtcTime(now);
    // Counts every heartbeat sent, failed ones too; wraps rather than
    // overflowing after 2^31 of them.
    heartbeatCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(heartbeatCount_) + 1u);
    const Maybe<std::string> result =
        CallLcds<std::string>(kLcdsDestination, kLcdsMethod, accountId_,
                              static_cast<const char*>(""), heartbeatCount_, timestamp);
    if (!result) {
        const char* message = result.Error().Message();
        Log(LogLevel::Error, LogGroup::DBG | LogGroup::NET, kFailureFormat,
            message != nullptr ? message : "(null)");
    }
}

}  // namespace Tavo::Client::Heartbeat
