#include "RemotingCall.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "binding/HostValueConvert.h"
#include "formats/JsonReader.h"
#include "formats/MessagePack.h"
#include "formats/Yaml.h"
#include "logging/Format.h"
#include "remoting/HttpMethod.h"
#include "remoting/RemotingRoute.h"

namespace Tavo {

namespace {

// Messages, word for word.
constexpr const char* kUnknownArgument = "Unknown argument '%1' for '%2'.";
constexpr const char* kInvalidLocation =
    "Argument '%1' for '%2' was specified in an invalid location.";
constexpr const char* kExpectedValue = "Expected value for argument '%1'.";
constexpr const char* kIndexFormat = "Index %1 is in an incorrect format";
constexpr const char* kIndexRange = "Index %1 is out of range";
constexpr const char* kConflictingAddress =
    "Argument '%1' for '%2' is addressed as '%3' through a value of another kind.";
constexpr const char* kMissingName = "Value '%1' for '%2' has no argument name.";
constexpr const char* kUnsupportedBody = "Unsupported body content type";
constexpr const char* kExtraMessagePack = "Extra MessgePack data found in body";
constexpr const char* kBadMessagePack =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
constexpr const char* kBadJson = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
constexpr const char* kBadYaml = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";

// Indices at or above this are out of range whatever the platform's long.
constexpr unsigned long kIndexLimit = 2147483648ul;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

bool OpensMessagePackContainer(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    const auto first = static_cast<unsigned char>(text.front());
    return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

ContentFormat DetectFormat(std::string_view text, std::string_view contentType, bool detect) {
    const ContentFormat named = ArgumentValueFormat(contentType);
    if (named != ContentFormat::Text || !contentType.empty() || !detect) {
        return named;
    }
    if (OpensMessagePackContainer(text)) {
        return ContentFormat::MessagePack;
    }
    const std::string_view rest = SkipBlanks(text);
    if (!rest.empty() && (rest.front() == '{' || rest.front() == '[')) {
        return ContentFormat::Json;
    }
    if (rest.starts_with("---")) {
        return ContentFormat::Yaml;
    }
    return ContentFormat::Text;
}

// Kinds whose value texts may be documents rather than scalars.
bool DetectsFormat(BindingNativeKind kind) {
    return kind == BindingNativeKind::Struct || kind == BindingNativeKind::Vector ||
           kind == BindingNativeKind::Map || kind == BindingNativeKind::Object;
}

void FailWithParser(BindingResult& result, const char* format, std::string_view argumentName,
                    std::string_view functionName) {
    const std::string parserMessage(result.ErrorMessage());
    result.Fail(Format(format, argumentName, functionName, parserMessage));
}

}  // namespace

BindingResult DecodeArgumentValue(std::string_view text, std::string_view contentType, bool detect,
                                  std::string_view argumentName, std::string_view functionName) {
    BindingResult result;
    switch (DetectFormat(text, contentType, detect)) {
        case ContentFormat::MessagePack: {
            MessagePackReadResult read = ReadMessagePack(text.data(), text.size());
            result = std::move(read.result);
            if (!result.IsOk()) {
                FailWithParser(result, kBadMessagePack, argumentName, functionName);
            }
            break;
        }
        case ContentFormat::Json:
            result = ParseJson(std::string(text));
            if (!result.IsOk()) {
                FailWithParser(result, kBadJson, argumentName, functionName);
            }
            break;
        case ContentFormat::Yaml:
            result = ParseYaml(text);
            if (!result.IsOk()) {
                FailWithParser(result, kBadYaml, argumentName, functionName);
            }
            break;
        case ContentFormat::Bytes:
            result.Value().SetBlob(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
            break;
        default:
            result.Value().SetString(text);
            break;
    }
    return result;
}

std::map<std::string, std::string> ParseQuery(std::string_view target) {
    std::map<std::string, std::string> query;
    const std::size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        return query;
    }
    std::string_view rest = target.substr(mark + 1);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view piece = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (piece.empty() || piece == "=") {
            continue;  // an empty pair ("&&", a trailing "&", "&=&") says nothing
        }
        const std::size_t equals = piece.find('=');
        std::string name = UrlDecode(piece.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : UrlDecode(piece.substr(equals + 1));
        query.insert_or_assign(std::move(name), std::move(value));
    }
    return query;
}

RemotingCallArguments::RemotingCallArguments(const BindingFunctionDescriptor& function)
    : function_(function), values_(function.arguments.size()) {
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const BindingFunctionArgument& argument = function.arguments[i];
        if (argument.typeInfo.kind == BindingNativeKind::Bool && !argument.optional) {
            values_[i].SetBool(false);
        }
    }
}

std::size_t RemotingCallArguments::FindArgument(std::string_view name) const {
    for (std::size_t i = 0; i < function_.arguments.size(); ++i) {
        if (function_.arguments[i].name == name) {
            return i;
        }
    }
    return function_.arguments.size();
}

void RemotingCallArguments::ApplyText(std::string_view name, std::string_view value,
                                      BindingArgumentLocation source) {
    if (!slot_.IsOk()) {
        return;
    }
    const std::size_t dot = name.find('.');
    const std::string_view argumentName = name.substr(0, dot);
    if (argumentName.empty()) {
        slot_.Fail(Format(kMissingName, value, function_.name));
        return;
    }
    const std::size_t index = FindArgument(argumentName);
    if (index == function_.arguments.size()) {
        slot_.Fail(Format(kUnknownArgument, argumentName, function_.name));
        return;
    }
    const BindingFunctionArgument& argument = function_.arguments[index];
    if (argument.location != BindingArgumentLocation::Any && argument.location != source) {
        slot_.Fail(Format(kInvalidLocation, argumentName, function_.name));
        return;
    }
    if (dot == std::string_view::npos) {
        SetFromText(values_[index], value, argument, DetectsFormat(argument.typeInfo.kind));
        return;
    }
    BindingProperty* target = Address(values_[index], name, dot + 1);
    if (target != nullptr) {
        SetFromText(*target, value, argument, false);
    }
}

BindingProperty* RemotingCallArguments::Address(BindingProperty& value, std::string_view name,
                                                std::size_t start) {
    using Kind = BindingProperty::Kind;
    BindingProperty* target = &value;
    std::string_view path = name.substr(start);
    while (true) {
        const std::size_t dot = path.find('.');
        const std::string_view segment = path.substr(0, dot);
        const bool isIndex = !segment.empty() && segment.front() >= '0' && segment.front() <= '9';
        // Why: stepping by index into a structure, by name into a collection,
        // or into a scalar would replace what an earlier source put there
        // ("?items.0=1&items.x=2" would drop element 0). Only an empty value
        // or a container of the step's own kind is addressed into.
        const Kind kind = target->GetKind();
        const bool fits =
            target->IsEmpty() || (isIndex && kind == Kind::Collection) ||
            (!isIndex && kind == Kind::Structure) ||
            ((kind == Kind::Collection || kind == Kind::Structure) && target->Size() == 0);
        if (!fits) {
            slot_.Fail(
                Format(kConflictingAddress, name.substr(0, start - 1), function_.name, name));
            return nullptr;
        }
        if (isIndex) {
            const std::string text(segment);
            char* end = nullptr;
            errno = 0;
            const unsigned long number = std::strtoul(text.c_str(), &end, 0);
            if (end != text.c_str() + text.size()) {
                slot_.Fail(Format(kIndexFormat, text));
                return nullptr;
            }
            if (errno == ERANGE || number >= kIndexLimit) {
                slot_.Fail(Format(kIndexRange, text));
                return nullptr;
            }
            const std::size_t size =
                target->GetKind() == BindingProperty::Kind::Collection ? target->Size() : 0;
            if (number >= size) {
                const std::size_t created = number - size + 1;
                if (created > elementsLeft_) {
                    slot_.Fail(Format(kIndexRange, text));
                    return nullptr;
                }
                elementsLeft_ -= created;
            }
            target = &target->Element(number);
        } else {
            target = &target->Field(segment);
        }
        if (dot == std::string_view::npos) {
            return target;
        }
        path.remove_prefix(dot + 1);
    }
}

void RemotingCallArguments::SetFromText(BindingProperty& target, std::string_view text,
                                        const BindingFunctionArgument& argument, bool detect) {
    if (text.empty()) {
        switch (argument.typeInfo.kind) {
            case BindingNativeKind::Bool:
                target.SetBool(true);
                return;
            case BindingNativeKind::Struct:
            case BindingNativeKind::Map:
            case BindingNativeKind::Object:
                target.Clear();
                target.MakeStructure();
                return;
            case BindingNativeKind::Vector:
                target.Clear();
                target.MakeCollection();
                return;
            default:
                slot_.Fail(Format(kExpectedValue, argument.name));
                return;
        }
    }
    BindingResult decoded = DecodeArgumentValue(text, {}, detect, argument.name, function_.name);
    if (!decoded.IsOk()) {
        slot_.Fail(decoded.ErrorMessage());
        return;
    }
    target = std::move(decoded.Value());
}

void RemotingCallArguments::ApplyHostArgument(const char* name, const HostValue& value,
                                              std::size_t index, std::size_t pathParameterCount) {
    if (!slot_.IsOk()) {
        return;
    }
    std::size_t argumentIndex = function_.arguments.size();
    if (name != nullptr) {
        argumentIndex = FindArgument(name);
        if (argumentIndex == function_.arguments.size()) {
            slot_.Fail(Format(kUnknownArgument, name, function_.name));
            return;
        }
    } else {
        argumentIndex = index + pathParameterCount;
        if (argumentIndex >= function_.arguments.size()) {
            slot_.Fail(Format(kUnknownArgument, std::to_string(argumentIndex), function_.name));
            return;
        }
    }
    BindingProperty& target = values_[argumentIndex];
    target.Clear();
    std::string error;
    if (!PropertyFromHostValue(target, value, function_.arguments[argumentIndex].name, error)) {
        slot_.Fail(error);
    }
}

void RemotingCallArguments::ApplyBody(const void* body, std::size_t length,
                                      std::string_view contentType) {
    if (!slot_.IsOk()) {
        return;
    }
    std::size_t index = 0;
    while (index < function_.arguments.size() &&
           function_.arguments[index].location != BindingArgumentLocation::Body) {
        ++index;
    }
    if (index == function_.arguments.size()) {
        return;
    }
    const auto* bytes = static_cast<const char*>(body);
    BindingResult decoded;
    switch (BodyFormat(contentType)) {
        case ContentFormat::MessagePack: {
            MessagePackReadResult read = ReadMessagePack(bytes, length);
            decoded = std::move(read.result);
            if (decoded.IsOk() && read.bytesConsumed < length) {
                decoded.Fail(kExtraMessagePack);
            }
            break;
        }
        case ContentFormat::Json:
            decoded = ParseJson(std::string(bytes, length));
            break;
        case ContentFormat::Yaml:
            decoded = ParseYaml(std::string_view(bytes, length));
            break;
        default:
            decoded.Fail(kUnsupportedBody);
            break;
    }
    if (!decoded.IsOk()) {
        slot_.Fail(decoded.ErrorMessage());
        return;
    }
    values_[index] = std::move(decoded.Value());
}

}  // namespace Tavo
