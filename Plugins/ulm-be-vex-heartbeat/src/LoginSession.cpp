#include "LoginSession.h"

#include "framework/AppModule.h"

namespace Tavo::Client::Heartbeat::Api {

void DescribeLoginSessionTypes(AppModule& module) {
    module.DeclareEnum<LoginSessionState>("LoginSessionStates")
        .AddValue("IN_PROGRESS", LoginSessionState::IN_PROGRESS)
        .AddValue("ERROR", LoginSessionState::ERROR)
        .AddValue("SUCCEEDED", LoginSessionState::SUCCEEDED)
        .AddValue("LOGGING_OUT", LoginSessionState::LOGGING_OUT);
    module.DeclareStruct<LoginSession>("LoginSession")
        .AddField("state", &LoginSession::state)
        .AddField("summonerId", &LoginSession::summonerId)
        .AddField("accountId", &LoginSession::accountId);
}

}  // namespace Tavo::Client::Heartbeat::Api
