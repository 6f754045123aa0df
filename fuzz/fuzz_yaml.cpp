// YAML reading of arbitrary bytes, checked three ways:
// - a failure holds exactly {"error": message} with a non-empty message;
// - a tree that was read respects the depth limit and copies to an equal tree;
// - differential: the tree written as JSON reads back as an equal tree,
//   except where JSON cannot say it (NaN and infinite floats, texts holding
//   a NUL, which the JSON reader ends at). JSON has one kind of number: an
//   integer's kind follows from its value (a non-negative one reads back
//   unsigned), so a signed integer >= 0, such as `!!int -0`, equals the
//   unsigned integer of the same value across the round trip.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "formats/JsonReader.h"
#include "formats/JsonWriter.h"
#include "formats/Yaml.h"

namespace {

using Tavo::BindingProperty;
using Kind = BindingProperty::Kind;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_yaml: %s\n", what);
        std::abort();
    }
}

bool HasNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// The container depth of `value`'s tree, and whether JSON can carry it.
std::size_t Inspect(const BindingProperty& value, bool& jsonSafe) {
    std::size_t depth = 0;
    switch (value.GetKind()) {
        case Kind::Float:
            jsonSafe = jsonSafe && std::isfinite(value.GetFloat());
            break;
        case Kind::String:
            jsonSafe = jsonSafe && !HasNul(value.GetString());
            break;
        case Kind::Collection:
            for (const BindingProperty& element : value.Elements()) {
                const std::size_t below = Inspect(element, jsonSafe);
                depth = below > depth ? below : depth;
            }
            return depth + 1;
        case Kind::Structure:
            for (const auto& field : value.Fields()) {
                jsonSafe = jsonSafe && !HasNul(field.key.View());
                const std::size_t below = Inspect(field.value, jsonSafe);
                depth = below > depth ? below : depth;
            }
            return depth + 1;
        default:
            break;
    }
    return depth;
}

// Equality as JSON carries it: integers by value whatever their kind.
bool EqualAsJson(const BindingProperty& a, const BindingProperty& b) {
    const bool aInteger = a.GetKind() == Kind::Signed || a.GetKind() == Kind::Unsigned;
    const bool bInteger = b.GetKind() == Kind::Signed || b.GetKind() == Kind::Unsigned;
    if (aInteger && bInteger) {
        const bool aNegative = a.GetKind() == Kind::Signed && a.GetSigned() < 0;
        const bool bNegative = b.GetKind() == Kind::Signed && b.GetSigned() < 0;
        if (aNegative || bNegative) {
            return aNegative && bNegative && a.GetSigned() == b.GetSigned();
        }
        return a.GetUnsigned(static_cast<std::uint64_t>(a.GetSigned())) ==
               b.GetUnsigned(static_cast<std::uint64_t>(b.GetSigned()));
    }
    if (a.GetKind() != b.GetKind()) {
        return false;
    }
    if (a.GetKind() == Kind::Collection) {
        const auto left = a.Elements();
        const auto right = b.Elements();
        if (left.size() != right.size()) {
            return false;
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (!EqualAsJson(left[i], right[i])) {
                return false;
            }
        }
        return true;
    }
    if (a.GetKind() == Kind::Structure) {
        if (a.Size() != b.Size()) {
            return false;
        }
        for (const auto& field : a.Fields()) {
            const BindingProperty& other = b.Find(field.key.View());
            if (other.IsEmpty() != field.value.IsEmpty() || !EqualAsJson(field.value, other)) {
                return false;
            }
        }
        return true;
    }
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Tavo::BindingResult result = Tavo::ParseYaml(input);
    if (!result.IsOk()) {
        Check(!result.ErrorMessage().empty(), "failure without a message");
        Check(result.Value().Size() == 1, "failure holds more than its message");
        return 0;
    }

    bool jsonSafe = true;
    Check(Inspect(result.Value(), jsonSafe) <= Tavo::kYamlMaxDepth, "tree deeper than the limit");
    const BindingProperty copy(result.Value());
    Check(copy == result.Value(), "copy differs from the tree");

    if (jsonSafe) {
        const std::string json = Tavo::WriteJson(result.Value());
        const Tavo::BindingResult reread = Tavo::ParseJson(json);
        Check(reread.IsOk(), "written JSON does not read back");
        Check(EqualAsJson(reread.Value(), result.Value()), "JSON round trip changes the tree");
    }
    return 0;
}
