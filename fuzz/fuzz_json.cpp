// JSON reading of arbitrary bytes, checked against RapidJSON's own document
// parser on the same text (the text ends at the first NUL):
// - both accept the same documents, except that a blank document reads as
//   empty, and nesting beyond the depth limit and numbers beyond double are
//   refused;
// - a refusal carries the document parser's error text (our own for
//   trailing characters) and its byte offset;
// - an accepted document gives the tree the mapping promises: kinds by
//   number form and sign (floats to within rounding), null elements, texts
//   cut at NUL. Objects with a repeated name (after cutting at NUL) are
//   merged by the reader and are not compared.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "detail/RapidJson.h"
#include "formats/JsonReader.h"
#include "logging/Format.h"

namespace {

using Tavo::BindingProperty;
using Kind = BindingProperty::Kind;

// The reader's grammar. The document parser's number conversion is its fast
// one (its exact one is undefined for some inputs), so floats are compared
// within a relative 1e-14; exactness is the round-trip fuzzer's concern.
constexpr unsigned kFlags = rapidjson::kParseDefaultFlags;

bool Near(double ours, double reference) {
    return ours == reference || std::fabs(ours - reference) <= 1e-14 * std::fabs(reference) ||
           std::fabs(ours - reference) < 1e-300;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_json: %s\n", what);
        std::abort();
    }
}

std::string_view UpToNul(const rapidjson::Value& text) {
    std::string_view view(text.GetString(), text.GetStringLength());
    return view.substr(0, view.find('\0'));
}

// Whether `tree` is what the reader must build for `json`; `known` is
// cleared when a repeated member name makes the comparison moot.
bool Matches(const rapidjson::Value& json, const BindingProperty& tree, bool& known) {
    switch (json.GetType()) {
        case rapidjson::kNullType:
            return tree.IsEmpty();  // an empty element, or a fresh member or root left empty
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return tree.GetKind() == Kind::Bool && tree.GetBool() == json.GetBool();
        case rapidjson::kNumberType:
            if (json.IsDouble()) {
                return tree.GetKind() == Kind::Float && Near(tree.GetFloat(), json.GetDouble());
            }
            if (json.IsUint64() && json.GetUint64() == 0) {  // "0" or "-0"
                return (tree.GetKind() == Kind::Unsigned || tree.GetKind() == Kind::Signed) &&
                       tree.GetUnsigned(tree.GetSigned(1)) == 0;
            }
            if (json.IsUint64()) {
                return tree.GetKind() == Kind::Unsigned && tree.GetUnsigned() == json.GetUint64();
            }
            return tree.GetKind() == Kind::Signed && tree.GetSigned() == json.GetInt64();
        case rapidjson::kStringType:
            return tree.GetKind() == Kind::String && tree.GetString() == UpToNul(json);
        case rapidjson::kArrayType: {
            if (tree.GetKind() != Kind::Collection || tree.Size() != json.Size()) {
                return false;
            }
            for (rapidjson::SizeType i = 0; i < json.Size(); ++i) {
                if (!Matches(json[i], tree.ElementAt(i), known)) {
                    return false;
                }
            }
            return true;
        }
        case rapidjson::kObjectType: {
            std::set<std::string_view> names;
            for (const auto& member : json.GetObject()) {
                if (!names.insert(UpToNul(member.name)).second) {
                    known = false;
                    return true;
                }
            }
            if (tree.GetKind() != Kind::Structure || tree.Size() != names.size()) {
                return false;
            }
            for (const auto& member : json.GetObject()) {
                const std::string_view name = UpToNul(member.name);
                bool found = false;
                for (auto field : tree.Fields()) {
                    found = found || field.key.View() == name;
                }
                if (!found || !Matches(member.value, tree.Find(name), known)) {
                    return false;
                }
            }
            return true;
        }
    }
    return false;
}

bool HasInfinity(const rapidjson::Value& json) {
    if (json.IsDouble()) {
        return std::isinf(json.GetDouble());
    }
    if (json.IsArray()) {
        for (const auto& element : json.GetArray()) {
            if (HasInfinity(element)) {
                return true;
            }
        }
    }
    if (json.IsObject()) {
        for (const auto& member : json.GetObject()) {
            if (HasInfinity(member.value)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Tavo::BindingResult result = Tavo::ParseJson(text);

    const std::string_view message = result.ErrorMessage();
    Check(result.IsOk() == message.empty(), "a failure without a message");
    if (message.starts_with("Error: Nesting deeper than 1000 levels. at offset ")) {
        return 0;  // the document parser would recurse on
    }

    rapidjson::Document document;
    document.Parse<kFlags>(text.c_str());
    constexpr std::string_view kTooBig = "Error: Number too big to be stored in double. at offset ";
    if (message.starts_with(kTooBig)) {
        // A number beyond double. The document parser refuses it at the same
        // offset, or takes it as infinity: then it must have got past it and
        // failed later, or held infinity.
        const std::size_t offset = std::strtoull(message.data() + kTooBig.size(), nullptr, 10);
        Check(
            document.HasParseError() ? document.GetErrorOffset() >= offset : HasInfinity(document),
            "refused a number the parser reads");
        return 0;
    }
    if (document.HasParseError()) {
        if (document.GetParseError() == rapidjson::kParseErrorDocumentEmpty) {
            Check(result.IsOk() && result.Value().IsEmpty(), "a blank document is not empty");
            return 0;
        }
        Check(!result.IsOk(), "accepted a document the parser refuses");
        const char* reason =
            document.GetParseError() == rapidjson::kParseErrorDocumentRootNotSingular
                ? "The document root must not follow by other values."
                : rapidjson::GetParseError_En(document.GetParseError());
        const std::string expected =
            Tavo::Format("Error: %s at offset %u.", reason,
                         static_cast<std::uint64_t>(document.GetErrorOffset()));
        Check(message == expected, "error text or offset differs");
        return 0;
    }
    Check(result.IsOk(), "refused a document the parser accepts");
    bool known = true;
    Check(Matches(document, result.Value(), known) || !known, "tree differs from the text");
    return 0;
}
