#include "binding/Converters.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "binding/Base64.h"
#include "logging/Format.h"

namespace Tavo {

namespace {

constexpr const char* kRequired = "A value for '%1' is required.";
constexpr const char* kBoolFormat =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", "
    "\"false\", \"1\", \"0\".";
constexpr const char* kBoolInvalidType =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
constexpr const char* kIncorrectFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr const char* kOutOfRange = "Value %1 for '%2' of type %3 is out of range";
constexpr const char* kInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr const char* kNoEnumName = "%1 is not a valid enumeration value for '%2'.";
constexpr const char* kNotAString =
    "Couldn't assign value to '%1' because the input is not a string.";
constexpr const char* kNotAnEnumValue = "%1 is not a valid %2 enumeration value for '%3'.";
constexpr const char* kEnumInvalidType =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
constexpr const char* kUnregisteredEnum =
    "Couldn't assign value to '%1' because its enumeration type is not registered.";
constexpr const char* kBlobBadCharacters =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";
constexpr const char* kNotABlob =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";
constexpr const char* kNotACollection =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr const char* kMapNotAStructure =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
constexpr const char* kUnregisteredStruct =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
constexpr const char* kStructNotAStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
constexpr const char* kMissingRequiredField =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
constexpr const char* kTooDeep =
    "Couldn't assign value to '%1' because the input is nested more than %2 structures deep.";
constexpr const char* kUnregisteredNative =
    "Couldn't convert native value because it's an unregistered structure.";
constexpr const char* kFromException = "Couldn't assign value to '%1': %2";
constexpr const char* kToException = "Couldn't convert native value: %1";

// Structures nested deeper than this are refused rather than recursed into; a
// recursive native type would otherwise let the input exhaust the stack.
constexpr int kMaxStructDepth = 1000;

using Kind = BindingProperty::Kind;

const char* KindName(const BindingProperty& input) {
    return BindingProperty::KindName(input.GetKind());
}

std::string_view TypeNameOr(std::string_view typeName, BindingNativeKind kind) {
    return typeName.empty() ? std::string_view(BindingNativeKindName(kind)) : typeName;
}

struct SignedRange {
    std::int64_t min;
    std::int64_t max;
};

SignedRange SignedRangeOf(BindingNativeKind kind) {
    switch (kind) {
        case BindingNativeKind::Int8:
            return {INT8_MIN, INT8_MAX};
        case BindingNativeKind::Int16:
            return {INT16_MIN, INT16_MAX};
        case BindingNativeKind::Int32:
            return {INT32_MIN, INT32_MAX};
        default:
            return {INT64_MIN, INT64_MAX};
    }
}

std::uint64_t UnsignedMaxOf(BindingNativeKind kind) {
    switch (kind) {
        case BindingNativeKind::UInt8:
            return UINT8_MAX;
        case BindingNativeKind::UInt16:
            return UINT16_MAX;
        case BindingNativeKind::UInt32:
            return UINT32_MAX;
        default:
            return UINT64_MAX;
    }
}

double FloatingMaxOf(BindingNativeKind kind) {
    return kind == BindingNativeKind::Float ? static_cast<double>(std::numeric_limits<float>::max())
                                            : std::numeric_limits<double>::max();
}

// Whether the double d truncates to a value inside [min, max]. The bounds are
// compared as doubles; 2^63 and 2^64 (the doubles nearest to INT64_MAX and
// UINT64_MAX) are excluded because they do not fit.
bool SignedAcceptsDouble(double d, SignedRange range) {
    return d >= static_cast<double>(range.min) && d <= static_cast<double>(range.max) &&
           d < 9223372036854775808.0;
}

bool UnsignedAcceptsDouble(double d, std::uint64_t max) {
    return d >= 0.0 && d <= static_cast<double>(max) && d < 18446744073709551616.0;
}

// The text rules. `text` must be followed by a NUL (data()[size()] == '\0');
// the whole text must be consumed, so an embedded NUL counts as trailing text.
std::int64_t ParseSigned(BindingResult& context, std::string_view text, std::string_view path,
                         SignedRange range, std::string_view typeName) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.data(), &end, 0);
    if (end != text.data() + text.size()) {
        context.Fail(Format(kIncorrectFormat, text, path, typeName));
        return 0;
    }
    if (errno == ERANGE || value < range.min || value > range.max) {
        context.Fail(Format(kOutOfRange, text, path, typeName));
        return 0;
    }
    return value;
}

bool StartsWithMinus(std::string_view text) {
    for (char c : text) {
        // The white space strtoull skips in the C locale.
        if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') {
            continue;
        }
        return c == '-';
    }
    return false;
}

std::uint64_t ParseUnsigned(BindingResult& context, std::string_view text, std::string_view path,
                            std::uint64_t max, std::string_view typeName) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.data(), &end, 0);
    if (end != text.data() + text.size()) {
        context.Fail(Format(kIncorrectFormat, text, path, typeName));
        return 0;
    }
    if (errno == ERANGE || value > max || StartsWithMinus(text)) {
        context.Fail(Format(kOutOfRange, text, path, typeName));
        return 0;
    }
    return value;
}

double ParseFloating(BindingResult& context, std::string_view text, std::string_view path,
                     double max, std::string_view typeName) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.data(), &end);
    if (end != text.data() + text.size()) {
        context.Fail(Format(kIncorrectFormat, text, path, typeName));
        return 0.0;
    }
    // NaN is within the bounds: no comparison with it is true.
    if (errno == ERANGE || value < -max || value > max) {
        context.Fail(Format(kOutOfRange, text, path, typeName));
        return 0.0;
    }
    return value;
}

bool FailIfEmpty(BindingResult& context, const BindingProperty& input, std::string_view path) {
    if (input.IsEmpty()) {
        context.Fail(Format(kRequired, path));
        return true;
    }
    return false;
}

thread_local int structDepth = 0;

class DepthGuard {
public:
    DepthGuard() { ++structDepth; }
    ~DepthGuard() { --structDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    bool TooDeep() const { return structDepth > kMaxStructDepth; }
};

}  // namespace

bool BoolFromProperty(BindingResult& context, const BindingProperty& input, std::string_view path) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return false;
    }
    switch (input.GetKind()) {
        case Kind::Bool:
            return input.GetBool();
        case Kind::String: {
            const std::string_view text = input.GetString();
            if (text == "1" || text == "true") {
                return true;
            }
            if (text == "0" || text == "false") {
                return false;
            }
            context.Fail(Format(kBoolFormat, text, path));
            return false;
        }
        default:
            context.Fail(Format(kBoolInvalidType, path, KindName(input)));
            return false;
    }
}

std::int64_t SignedFromProperty(BindingResult& context, const BindingProperty& input,
                                std::string_view path, BindingNativeKind kind,
                                std::string_view typeName) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return 0;
    }
    typeName = TypeNameOr(typeName, kind);
    const SignedRange range = SignedRangeOf(kind);
    switch (input.GetKind()) {
        case Kind::Signed: {
            const std::int64_t value = input.GetSigned();
            if (value < range.min || value > range.max) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return value;
        }
        case Kind::Unsigned: {
            const std::uint64_t value = input.GetUnsigned();
            if (value > static_cast<std::uint64_t>(range.max)) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return static_cast<std::int64_t>(value);
        }
        case Kind::Float: {
            const double value = input.GetFloat();
            if (!SignedAcceptsDouble(value, range)) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return static_cast<std::int64_t>(value);
        }
        case Kind::String: {
            const BindingInternedString& text = input.GetInternedString();
            return ParseSigned(context, {text.CStr(), text.Size()}, path, range, typeName);
        }
        case Kind::Enum: {
            const std::int64_t value = input.GetEnum().value;
            if (value < range.min || value > range.max) {
                context.Fail(Format(kOutOfRange, input.GetEnum().value, path, typeName));
                return 0;
            }
            return value;
        }
        default:
            context.Fail(Format(kInvalidType, path, typeName, KindName(input)));
            return 0;
    }
}

std::uint64_t UnsignedFromProperty(BindingResult& context, const BindingProperty& input,
                                   std::string_view path, BindingNativeKind kind,
                                   std::string_view typeName) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return 0;
    }
    typeName = TypeNameOr(typeName, kind);
    const std::uint64_t max = UnsignedMaxOf(kind);
    switch (input.GetKind()) {
        case Kind::Signed: {
            const std::int64_t value = input.GetSigned();
            if (value < 0 || static_cast<std::uint64_t>(value) > max) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return static_cast<std::uint64_t>(value);
        }
        case Kind::Unsigned: {
            const std::uint64_t value = input.GetUnsigned();
            if (value > max) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return value;
        }
        case Kind::Float: {
            const double value = input.GetFloat();
            if (!UnsignedAcceptsDouble(value, max)) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return static_cast<std::uint64_t>(value);
        }
        case Kind::String: {
            const BindingInternedString& text = input.GetInternedString();
            return ParseUnsigned(context, {text.CStr(), text.Size()}, path, max, typeName);
        }
        case Kind::Enum: {
            const std::int32_t value = input.GetEnum().value;
            if (value < 0 || static_cast<std::uint64_t>(value) > max) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0;
            }
            return static_cast<std::uint64_t>(value);
        }
        default:
            context.Fail(Format(kInvalidType, path, typeName, KindName(input)));
            return 0;
    }
}

double FloatingFromProperty(BindingResult& context, const BindingProperty& input,
                            std::string_view path, BindingNativeKind kind,
                            std::string_view typeName) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return 0.0;
    }
    typeName = TypeNameOr(typeName, kind);
    const double max = FloatingMaxOf(kind);
    switch (input.GetKind()) {
        case Kind::Signed:
            return static_cast<double>(input.GetSigned());
        case Kind::Unsigned:
            return static_cast<double>(input.GetUnsigned());
        case Kind::Float: {
            const double value = input.GetFloat();
            if (value < -max || value > max) {
                context.Fail(Format(kOutOfRange, value, path, typeName));
                return 0.0;
            }
            return value;
        }
        case Kind::String: {
            const BindingInternedString& text = input.GetInternedString();
            return ParseFloating(context, {text.CStr(), text.Size()}, path, max, typeName);
        }
        case Kind::Enum:
            return static_cast<double>(input.GetEnum().value);
        default:
            context.Fail(Format(kInvalidType, path, typeName, KindName(input)));
            return 0.0;
    }
}

std::int64_t SignedFromText(BindingResult& context, std::string_view text, std::string_view path,
                            BindingNativeKind kind, std::string_view typeName) {
    if (!context.IsOk()) {
        return 0;
    }
    const std::string terminated(text);
    return ParseSigned(context, terminated, path, SignedRangeOf(kind), TypeNameOr(typeName, kind));
}

std::uint64_t UnsignedFromText(BindingResult& context, std::string_view text, std::string_view path,
                               BindingNativeKind kind, std::string_view typeName) {
    if (!context.IsOk()) {
        return 0;
    }
    const std::string terminated(text);
    return ParseUnsigned(context, terminated, path, UnsignedMaxOf(kind),
                         TypeNameOr(typeName, kind));
}

double FloatingFromText(BindingResult& context, std::string_view text, std::string_view path,
                        BindingNativeKind kind, std::string_view typeName) {
    if (!context.IsOk()) {
        return 0.0;
    }
    const std::string terminated(text);
    return ParseFloating(context, terminated, path, FloatingMaxOf(kind),
                         TypeNameOr(typeName, kind));
}

std::string StringFromEnumOrString(BindingResult& context, const BindingProperty& input,
                                   std::string_view path, const BindingRegistry& registry) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return {};
    }
    switch (input.GetKind()) {
        case Kind::String:
            return std::string(input.GetString());
        case Kind::Enum: {
            const BindingEnumPayload payload = input.GetEnum();
            const char* name = payload.type == nullptr
                                   ? nullptr
                                   : registry.EnumValueName(*payload.type, payload.value);
            if (name == nullptr) {
                context.Fail(Format(kNoEnumName, payload.value, path));
                return {};
            }
            return name;
        }
        default:
            context.Fail(Format(kNotAString, path));
            return {};
    }
}

std::int32_t EnumFromProperty(BindingResult& context, const BindingProperty& input,
                              std::string_view path, const BindingTypeDescriptor* descriptor) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return 0;
    }
    if (descriptor == nullptr || !descriptor->isEnum) {
        context.Fail(Format(kUnregisteredEnum, path));
        return 0;
    }
    // Numbers outside the 32-bit range are refused rather than cut to their
    // low 32 bits: 4294967297 is not the value 1.
    switch (input.GetKind()) {
        case Kind::Signed: {
            const std::int64_t value = input.GetSigned();
            if (value < INT32_MIN || value > INT32_MAX ||
                !descriptor->HasValue(static_cast<std::int32_t>(value))) {
                context.Fail(Format(kNotAnEnumValue, value, descriptor->name, path));
                return 0;
            }
            return static_cast<std::int32_t>(value);
        }
        case Kind::Unsigned: {
            const std::uint64_t value = input.GetUnsigned();
            if (value > static_cast<std::uint64_t>(INT32_MAX) ||
                !descriptor->HasValue(static_cast<std::int32_t>(value))) {
                context.Fail(Format(kNotAnEnumValue, value, descriptor->name, path));
                return 0;
            }
            return static_cast<std::int32_t>(value);
        }
        case Kind::String: {
            const BindingInternedString& text = input.GetInternedString();
            if (auto found = descriptor->values.find(text.View());
                found != descriptor->values.end()) {
                return found->second.value;
            }
            BindingResult number;
            const std::int64_t value =
                ParseSigned(number, {text.CStr(), text.Size()}, path,
                            SignedRangeOf(BindingNativeKind::Int32), descriptor->name);
            if (!number.IsOk() || !descriptor->HasValue(static_cast<std::int32_t>(value))) {
                context.Fail(Format(kNotAnEnumValue, text.View(), descriptor->name, path));
                return 0;
            }
            return static_cast<std::int32_t>(value);
        }
        case Kind::Enum: {
            const std::int32_t value = input.GetEnum().value;
            if (!descriptor->HasValue(value)) {
                context.Fail(Format(kNotAnEnumValue, value, descriptor->name, path));
                return 0;
            }
            return value;
        }
        default:
            context.Fail(Format(kEnumInvalidType, path, KindName(input)));
            return 0;
    }
}

void BlobFromProperty(BindingResult& context, std::vector<std::uint8_t>& out,
                      const BindingProperty& input, std::string_view path) {
    out.clear();
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return;
    }
    switch (input.GetKind()) {
        case Kind::Blob: {
            const auto bytes = input.GetBlob();
            out.assign(bytes.begin(), bytes.end());
            return;
        }
        case Kind::String: {
            const std::string_view text = input.GetString();
            if (!IsBase64Text(text)) {
                context.Fail(Format(kBlobBadCharacters, path));
                return;
            }
            const std::string decoded = Base64Decode(text);
            out.insert(out.end(), decoded.begin(), decoded.end());
            return;
        }
        default:
            context.Fail(Format(kNotABlob, path));
            return;
    }
}

void ObjectFromProperty(BindingResult& context, BindingProperty& out,
                        const BindingProperty& input) {
    out.Clear();
    if (context.IsOk() && &input != &out) {
        out = input;
    }
}

void StructFromProperty(BindingResult& context, void* target, const BindingProperty& input,
                        std::string_view path, const BindingTypeDescriptor* descriptor,
                        const BindingRegistry& registry) {
    if (!context.IsOk() || FailIfEmpty(context, input, path)) {
        return;
    }
    if (descriptor == nullptr || descriptor->isEnum) {
        context.Fail(Format(kUnregisteredStruct, path));
        return;
    }
    if (input.GetKind() != Kind::Structure) {
        context.Fail(Format(kStructNotAStructure, path, descriptor->name));
        return;
    }
    const DepthGuard depth;
    if (depth.TooDeep()) {
        context.Fail(Format(kTooDeep, path, kMaxStructDepth));
        return;
    }
    auto* base = static_cast<unsigned char*>(target);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        if (!context.IsOk()) {
            return;
        }
        const BindingProperty& value = input.Find(field.name);
        if (!value.IsEmpty()) {
            field.converter->FromProperty(context, base + field.offset, value, field.name,
                                          field.typeInfo.descriptor, registry);
        } else if ((field.flags & kBindingRequired) != 0) {
            context.Fail(Format(kMissingRequiredField, path, descriptor->name, field.name));
        }
    }
}

void StructToProperty(BindingResult& output, const void* source,
                      const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (descriptor == nullptr || descriptor->isEnum) {
        output.Fail(kUnregisteredNative);
        return;
    }
    output.SetOk();
    BindingProperty& value = output.Value();
    value.MakeStructure();
    const auto* base = static_cast<const unsigned char*>(source);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        BindingResult converted;
        field.converter->ToProperty(converted, base + field.offset, field.typeInfo.descriptor,
                                    registry);
        if (!converted.IsOk()) {
            output.Fail(converted.ErrorMessage());
            return;
        }
        if ((field.flags & kBindingOmitWhenDefault) != 0 && IsDefaultValue(converted.Value())) {
            continue;
        }
        detail::StoreConverted(value.Field(field.name), converted);
    }
}

bool IsDefaultValue(const BindingProperty& value) {
    switch (value.GetKind()) {
        case Kind::Empty:
            return true;
        case Kind::Bool:
            return !value.GetBool();
        case Kind::Signed:
            return value.GetSigned() == 0;
        case Kind::Unsigned:
            return value.GetUnsigned() == 0;
        case Kind::Float:
            return value.GetFloat() == 0.0;
        case Kind::Enum:
            return value.GetEnum().value == 0;
        case Kind::String:
        case Kind::Blob:
        case Kind::Collection:
        case Kind::Structure:
            return value.Size() == 0;
    }
    return false;
}

namespace detail {

void FailNotACollection(BindingResult& context, std::string_view path, bool elementIsBool,
                        const BindingProperty& input) {
    if (elementIsBool && input.IsEmpty()) {
        context.Fail(Format(kRequired, path));
    } else {
        context.Fail(Format(kNotACollection, path));
    }
}

void FailNotAStructureForMap(BindingResult& context, std::string_view path) {
    context.Fail(Format(kMapNotAStructure, path));
}

void FailUnregisteredEnum(BindingResult& context, std::string_view path) {
    context.Fail(Format(kUnregisteredEnum, path));
}

void FailFromException(BindingResult& context, std::string_view path, const std::exception& error) {
    context.Fail(Format(kFromException, path, error.what()));
}

void FailToException(BindingResult& output, const std::exception& error) {
    output.Fail(Format(kToException, error.what()));
}

void StoreConverted(BindingProperty& slot, BindingResult& converted) {
    slot = std::move(converted.Value());
}

}  // namespace detail

}  // namespace Tavo
