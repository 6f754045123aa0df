#include "formats/JsonWriter.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "binding/Base64.h"
#include "binding/BindingRegistry.h"
#include "formats/detail/RapidJson.h"
#include "formats/detail/RapidJsonAllocator.h"

namespace Tavo {

namespace {

using Allocator = detail::RapidJsonCountingAllocator;
using Buffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, Allocator>;
using CompactWriter = rapidjson::Writer<Buffer, rapidjson::UTF8<>, rapidjson::UTF8<>, Allocator>;
using IndentedWriter =
    rapidjson::PrettyWriter<Buffer, rapidjson::UTF8<>, rapidjson::UTF8<>, Allocator>;

// Texts longer than the writer's 32-bit lengths cannot occur in a tree that
// fits a 32-bit address space; on 64-bit they are cut rather than wrapped.
rapidjson::SizeType WriterLength(std::size_t size) {
    constexpr std::size_t kMax = static_cast<rapidjson::SizeType>(-1);
    return static_cast<rapidjson::SizeType>(size < kMax ? size : kMax);
}

// Emits a tree through one of RapidJSON's writers. The tree walk itself is
// iterative (BindingProperty::Accept) and the writers keep their nesting on
// the heap, so depth costs no call stack.
template <class Writer>
class JsonEmitter final : public BindingPropertyVisitor {
public:
    JsonEmitter(Writer& writer, const BindingRegistry* registry)
        : writer_(writer), registry_(registry) {}

    void VisitEmpty() override { writer_.Null(); }
    void VisitBool(bool value) override { writer_.Bool(value); }
    void VisitSigned(std::int64_t value) override { writer_.Int64(value); }
    void VisitUnsigned(std::uint64_t value) override { writer_.Uint64(value); }
    void VisitFloat(double value) override {
        // NaN and the infinities have no JSON form (the writer would refuse
        // them after having written a separator): null keeps the text valid.
        if (std::isfinite(value)) {
            writer_.Double(value);
        } else {
            writer_.Null();
        }
    }
    void VisitString(const BindingInternedString& value) override {
        writer_.String(value.CStr(), WriterLength(value.Size()));
    }
    void VisitBlob(std::span<const std::uint8_t> bytes) override {
        const std::string text = Base64Encode(bytes.data(), bytes.size());
        writer_.String(text.data(), WriterLength(text.size()));
    }
    void VisitEnum(const BindingEnumPayload& value) override {
        const char* name = nullptr;
        if (registry_ != nullptr && value.type != nullptr) {
            name = registry_->EnumValueName(*value.type, value.value);
        }
        if (name != nullptr) {
            writer_.String(name, WriterLength(std::strlen(name)));
        } else {
            writer_.Int64(value.value);
        }
    }
    void BeginCollection(std::size_t /*count*/) override { writer_.StartArray(); }
    void BeginElement(std::size_t /*index*/) override {}
    void EndElement(std::size_t /*index*/) override {}
    void EndCollection() override { writer_.EndArray(); }
    void BeginStructure(std::size_t /*count*/) override { writer_.StartObject(); }
    void BeginField(const BindingInternedString& key) override {
        writer_.Key(key.CStr(), WriterLength(key.Size()));
    }
    void EndField(const BindingInternedString& /*key*/) override {}
    void EndStructure() override { writer_.EndObject(); }

private:
    Writer& writer_;
    const BindingRegistry* registry_;
};

template <class Writer>
void Emit(Buffer& buffer, const BindingProperty& value, const BindingRegistry* registry) {
    Allocator stackAllocator;
    Writer writer(buffer, &stackAllocator);
    JsonEmitter<Writer> emitter(writer, registry);
    value.Accept(emitter);
}

}  // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      const char* lineBreak) {
    if (value.IsEmpty()) {
        return {};
    }
    Allocator bufferAllocator;
    Buffer buffer(&bufferAllocator);
    const bool indented = lineBreak != nullptr && *lineBreak != '\0';
    if (indented) {
        Emit<IndentedWriter>(buffer, value, registry);
    } else {
        Emit<CompactWriter>(buffer, value, registry);
    }
    const std::string_view text(buffer.GetString(), buffer.GetSize());
    if (!indented || std::strcmp(lineBreak, "\n") == 0) {
        return std::string(text);
    }
    // Raw line feeds only ever come from the layout: strings escape theirs.
    const std::string_view breakText(lineBreak);
    std::string out;
    out.reserve(text.size() + text.size() / 8 * breakText.size());
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string_view::npos; start = at + 1) {
        out.append(text, start, at - start);
        out.append(breakText);
    }
    out.append(text, start);
    return out;
}

}  // namespace Tavo
