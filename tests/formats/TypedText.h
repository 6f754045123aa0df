#pragma once
// Compact texts of what a reader produced, for table-driven tests. TypedText
// shows every kind a reader makes: ~ empty, true/false, s-5 signed,
// u5 unsigned, f0.5 float (%.17g), "text" string (bytes as they are, NUL as
// \0), b00ff blob (hex), [a,b] collection, {k:v,...} structure (keys in the
// structure's order). Recursive: for shallow test trees only.

#include <gtest/gtest.h>

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
            return "s" + std::to_string(value.GetSigned());
        case Kind::Unsigned:
            return "u" + std::to_string(value.GetUnsigned());
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
        default:  // enums: no reader makes them
            return "?";
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
}

// TypedText of the value read, or the message of a failed read (which starts
// with a capital letter, as no TypedText does) after checking that it left
// nothing but {"error": message} behind.
inline std::string Outcome(const Tavo::BindingResult& result) {
    if (result.IsOk()) {
        return TypedText(result.Value());
    }
    const std::string message(result.ErrorMessage());
    EXPECT_EQ(TypedText(result.Value()), "{error:\"" + message + "\"}");
    return message;
}

// How many containers deep the first-child chain of a tree goes.
inline std::size_t NestedLevels(const Tavo::BindingProperty& value) {
    using Kind = Tavo::BindingProperty::Kind;
    std::size_t levels = 0;
    const Tavo::BindingProperty* node = &value;
    for (; node->GetKind() == Kind::Collection || node->GetKind() == Kind::Structure; ++levels) {
        if (node->Size() == 0) {
            return levels + 1;
        }
        node = node->GetKind() == Kind::Collection ? &node->ElementAt(0)
                                                   : &(*node->Fields().begin()).value;
    }
    return levels;
}

inline std::string Repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

}  // namespace TavoTest
