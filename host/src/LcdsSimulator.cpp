#include "LcdsSimulator.h"

#include "formats/JsonWriter.h"

namespace Tavo::Host {

LcdsBehaviour LcdsBehaviour::Default() {
    LcdsBehaviour behaviour;
    behaviour.answer.SetString("ok");
    behaviour.typeName = "string";
    return behaviour;
}

std::string LcdsBehaviour::Describe() const {
    switch (mode) {
        case Mode::Answer: {
            std::string text = "answer " + WriteJson(answer);
            if (!typeName.empty()) {
                text += " (" + typeName + ")";
            }
            return text;
        }
        case Mode::Nothing:
            return "nothing";
        case Mode::Error:
            return "error " + std::to_string(status) + " " + WriteJson([&] {
                       BindingProperty text;
                       text.SetString(message);
                       return text;
                   }());
    }
    return "";
}

LcdsAnswer LcdsSimulator::Invoke(std::string_view destination, std::string_view method) const {
    LcdsAnswer answer;
    switch (behaviour_.mode) {
        case LcdsBehaviour::Mode::Answer:
            answer.response.Field("typeName").SetString(behaviour_.typeName);
            answer.response.Field("body") = behaviour_.answer;
            break;
        case LcdsBehaviour::Mode::Nothing:
            answer.response.Field("typeName").SetString("");
            answer.response.Field("body");
            break;
        case LcdsBehaviour::Mode::Error:
            answer.ok = false;
            answer.status = behaviour_.status;
            answer.error = "LCDS ";
            answer.error += destination;
            answer.error += '.';
            answer.error += method;
            answer.error += " failed";
            if (!behaviour_.message.empty()) {
                answer.error += ": ";
                answer.error += behaviour_.message;
            }
            break;
    }
    return answer;
}

}  // namespace Tavo::Host
