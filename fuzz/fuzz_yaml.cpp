// YAML reading of arbitrary bytes, checked three ways:
// - a failure holds exactly {"error": message} with a non-empty message;
// - a tree that was read respects the depth limit and copies to an equal tree;
// - differential: the tree written as JSON reads back as an equal tree,
//   except where JSON cannot say it (NaN and infinite floats, texts holding
//   a NUL, which the JSON reader ends at).

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
        Check(reread.Value() == result.Value(), "JSON round trip changes the tree");
    }
    return 0;
}
