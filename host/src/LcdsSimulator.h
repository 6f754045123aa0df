#pragma once
// The host's stand-in for the game's LCDS services. The host exposes LCDS as
// one REST operation, POST "/vex-login/v1/session/invoke" with the positional
// arguments (destination, method, arguments); the simulator decides the
// answer. A scenario switches its behaviour over time: answer with a value,
// answer with nothing, or fail with a status and a text.
//
// Threading: host thread only.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "binding/BindingProperty.h"

namespace Tavo::Host {

inline constexpr std::string_view kLcdsInvokePath = "/vex-login/v1/session/invoke";

// How the simulator answers every call until told otherwise.
struct LcdsBehaviour {
    enum class Mode {
        Answer,   // success: {"typeName": typeName, "body": answer}
        Nothing,  // success: {"typeName": "", "body": null}: the method returned nothing
        Error,    // the request fails with `status` and `message`
    };
    Mode mode = Mode::Answer;
    BindingProperty answer;  // Answer
    std::string typeName;    // Answer: the LCDS type named in the response
    std::int32_t status = 500;
    std::string message;  // Error

    // Answers the text "ok" of type "string".
    static LcdsBehaviour Default();
    // One line for the timeline: answer "ok" (string) / nothing / error 503 "down".
    std::string Describe() const;
};

// The outcome of one call.
struct LcdsAnswer {
    bool ok = true;
    BindingProperty response;  // when ok: the {"typeName", "body"} structure
    std::int32_t status = 200;
    std::string error;  // when not ok
};

class LcdsSimulator {
public:
    LcdsSimulator() : behaviour_(LcdsBehaviour::Default()) {}

    void SetBehaviour(LcdsBehaviour behaviour) { behaviour_ = std::move(behaviour); }
    const LcdsBehaviour& Behaviour() const { return behaviour_; }

    // Answers a call of destination.method as the current behaviour says (the
    // arguments do not matter to it). An error's text names the call: "LCDS
    // loginService.performLCDSHeartBeat failed: <message>".
    LcdsAnswer Invoke(std::string_view destination, std::string_view method) const;

private:
    LcdsBehaviour behaviour_;
};

}  // namespace Tavo::Host
