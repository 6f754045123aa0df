#pragma once
// A compact text of a value tree that shows every kind, for comparing trees
// in table-driven tests: ~ empty, true/false, s-5 signed, u5 unsigned,
// f0.5 float (%.17g), "text" string (bytes as they are, NUL as \0),
// b00ff blob (hex), e3 enum, [a,b] collection, {k:v,...} structure (keys in
// the structure's order). Recursive: for shallow test trees only.

#include <cinttypes>
#include <cstdio>
#include <string>

#include "binding/BindingProperty.h"

namespace TavoTest {

inline std::string TypedText(const Tavo::BindingProperty& value) {
    using Kind = Tavo::BindingProperty::Kind;
    char buffer[64];
    switch (value.GetKind()) {
        case Kind::Empty:
            return "~";
        case Kind::Bool:
            return value.GetBool() ? "true" : "false";
        case Kind::Signed:
            std::snprintf(buffer, sizeof buffer, "s%" PRId64, value.GetSigned());
            return buffer;
        case Kind::Unsigned:
            std::snprintf(buffer, sizeof buffer, "u%" PRIu64, value.GetUnsigned());
            return buffer;
        case Kind::Float:
            std::snprintf(buffer, sizeof buffer, "f%.17g", value.GetFloat());
            return buffer;
        case Kind::String: {
            std::string out = "\"";
            for (char c : value.GetString()) {
                out += c == '\0' ? std::string("\\0") : std::string(1, c);
            }
            return out + "\"";
        }
        case Kind::Blob: {
            std::string out = "b";
            for (std::uint8_t byte : value.GetBlob()) {
                std::snprintf(buffer, sizeof buffer, "%02x", byte);
                out += buffer;
            }
            return out;
        }
        case Kind::Enum:
            return "e" + std::to_string(value.GetEnum().value);
        case Kind::Collection: {
            std::string out = "[";
            for (const Tavo::BindingProperty& element : value.Elements()) {
                out += (out.size() > 1 ? "," : "") + TypedText(element);
            }
            return out + "]";
        }
        case Kind::Structure: {
            std::string out = "{";
            for (auto field : value.Fields()) {
                out += (out.size() > 1 ? "," : "") + std::string(field.key.View()) + ":" +
                       TypedText(field.value);
            }
            return out + "}";
        }
    }
    return "?";
}

}  // namespace TavoTest
