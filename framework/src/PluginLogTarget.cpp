#include "PluginLogTarget.h"

#include "framework/AppModule.h"
#include "logging/LogManager.h"

namespace Tavo::Client {

PluginLogTarget::~PluginLogTarget() {
    Detach();
}

const char* PluginLogTarget::Name() const {
    return kName;
}

bool PluginLogTarget::Write(const LogRecord& record) {
    if (host_ != nullptr && host_->hostLog != nullptr) {
        host_->hostLog(host_, static_cast<std::int32_t>(record.level),
                       record.message != nullptr ? record.message : "");
    }
    return true;
}

void AppModule::InstallPluginLogTarget() {
    if (LogManager::FindTarget(PluginLogTarget::kName) != nullptr) {
        return;
    }
    if (LogTarget* target = LogManager::StdOutTarget(); target != nullptr) {
        LogManager::Detach(*target);
    }
    if (LogTarget* target = LogManager::StdErrTarget(); target != nullptr) {
        LogManager::Detach(*target);
    }
    if (LogTarget* target = LogManager::DebuggerTarget(); target != nullptr) {
        LogManager::Detach(*target);
    }
    LogManager::SetMinimumLevel(LogLevel::Okay);
    LogManager::SetMutedGroups(LogGroup::XTR);
    logTarget_ = std::make_unique<PluginLogTarget>(hostConnection_->host);
    logTarget_->Configure(LogTargetSettings{LogManager::MinimumLevel(), 0, 0, "#D| #L| #G| #M"});
}

}  // namespace Tavo::Client
