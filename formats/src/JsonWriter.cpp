#include "formats/JsonWriter.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "binding/Base64.h"
#include "binding/BindingRegistry.h"
#include "detail/RapidJson.h"
#include "platform/MemoryAccounting.h"

namespace Tavo {

namespace {

// Why a writer of our own: RapidJSON's writers are driven one virtual visitor
// call per value and check their state at every event; walking the tree
// directly into one buffer costs about half. The text is the same byte for
// byte: numbers come from RapidJSON's own conversions (internal::dtoa, the
// shortest text that reads back, and its integer printers), and strings are
// escaped by the table below, which is RapidJSON's.

// 0: written as is; 'u': \u00XX; anything else: a backslash and that letter.
constexpr char kEscape[256] = {
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'b', 't', 'n', 'u', 'f', 'r', 'u', 'u',  // 00
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u',  // 10
    0,   0,   '"', 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 20
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 30
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 40
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '\\'};               // 50

// The output: one block of the counting hooks that grows geometrically by
// reallocation (which moves large blocks without copying them), copied once
// into the result. Reserve before each write of a bounded size, then Put
// without checks.
class Output {
public:
    Output() = default;
    ~Output() { Memory::Free(begin_); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void Reserve(std::size_t bytes) {
        if (static_cast<std::size_t>(end_ - cursor_) < bytes) [[unlikely]] {
            Grow(bytes);
        }
    }
    char* Cursor() { return cursor_; }
    void Advance(char* end) { cursor_ = end; }
    void Put(char c) { *cursor_++ = c; }
    void Append(const char* data, std::size_t size) {
        Reserve(size);
        std::memcpy(cursor_, data, size);
        cursor_ += size;
    }
    std::string Text() const { return std::string(begin_, cursor_); }

private:
    [[gnu::noinline]] void Grow(std::size_t bytes) {
        const std::size_t used = static_cast<std::size_t>(cursor_ - begin_);
        const std::size_t capacity = static_cast<std::size_t>(end_ - begin_);
        std::size_t wanted = capacity < 256 ? 256 : capacity * 2;
        if (wanted - used < bytes) {
            wanted = used + bytes;
        }
        auto* grown = static_cast<char*>(Memory::Reallocate(begin_, wanted));
        if (grown == nullptr) {
            throw std::bad_alloc();  // begin_ is still ours and freed by the destructor
        }
        begin_ = grown;
        cursor_ = grown + used;
        end_ = grown + wanted;
    }

    char* begin_ = nullptr;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
};

// Writes `\`, the escape letter and, for \u, the four hex digits at `p`.
char* PutEscape(char* p, unsigned char byte, char escape) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    *p++ = '\\';
    *p++ = escape;
    if (escape == 'u') {
        *p++ = '0';
        *p++ = '0';
        *p++ = kHex[byte >> 4];
        *p++ = kHex[byte & 0xF];
    }
    return p;
}

void WriteString(Output& out, const char* data, std::size_t size) {
    constexpr std::size_t kMaxEscaped = 6;  // \u00XX
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    out.Reserve(size + 2);
    char* p = out.Cursor();
    *p++ = '"';
    std::size_t i = 0;
    // Long texts: find each run of bytes written as is and copy it whole.
    // Short ones (most keys and values): one pass, byte by byte, is cheaper
    // than a call per run.
    constexpr std::size_t kShort = 32;
    while (i < size) {
        std::size_t run = i;
        if (size - i >= kShort) {
            while (run < size && kEscape[bytes[run]] == 0) {
                ++run;
            }
            std::memcpy(p, data + i, run - i);
            p += run - i;
        } else {
            while (run < size && kEscape[bytes[run]] == 0) {
                *p++ = data[run++];
            }
        }
        if (run == size) {
            break;
        }
        // The escape grows the text: make room for it and for the rest.
        out.Advance(p);
        out.Reserve(kMaxEscaped + (size - run - 1) + 1);
        p = PutEscape(out.Cursor(), bytes[run], kEscape[bytes[run]]);
        i = run + 1;
    }
    *p++ = '"';
    out.Advance(p);
}

void WriteSigned(Output& out, std::int64_t value) {
    out.Reserve(21);
    out.Advance(rapidjson::internal::i64toa(value, out.Cursor()));
}

void WriteUnsigned(Output& out, std::uint64_t value) {
    out.Reserve(21);
    out.Advance(rapidjson::internal::u64toa(value, out.Cursor()));
}

void WriteFloat(Output& out, double value) {
    // NaN and the infinities have no JSON form: null keeps the text valid.
    if (!std::isfinite(value)) {
        out.Append("null", 4);
        return;
    }
    out.Reserve(32);  // dtoa writes at most 25 bytes
    out.Advance(rapidjson::internal::dtoa(value, out.Cursor()));
}

// Writes one tree. The walk keeps its own stack of open containers, so depth
// costs no call stack.
class Emitter {
public:
    Emitter(Output& out, const BindingRegistry* registry, std::string_view lineBreak)
        : out_(out), registry_(registry), lineBreak_(lineBreak) {}

    void Write(const BindingProperty& root) {
        Value(root);
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.structure) {
                if (frame.field == frame.fieldsEnd) {
                    Close('}', frame.count);
                    continue;
                }
                const BindingProperty::FieldRef field = *frame.field;
                ++frame.field;
                Separator(frame);
                WriteString(out_, field.key.CStr(), field.key.Size());
                out_.Reserve(2);
                out_.Put(':');
                if (Indented()) {
                    out_.Put(' ');
                }
                Value(field.value);
            } else {
                if (frame.element == frame.elementsEnd) {
                    Close(']', frame.count);
                    continue;
                }
                const BindingProperty& element = *frame.element++;
                Separator(frame);
                Value(element);
            }
        }
    }

private:
    struct Frame {
        bool structure = false;
        bool first = true;
        std::size_t count = 0;
        const BindingProperty* element = nullptr;
        const BindingProperty* elementsEnd = nullptr;
        BindingProperty::FieldIterator field{};
        BindingProperty::FieldIterator fieldsEnd{};
    };

    bool Indented() const { return !lineBreak_.empty(); }

    void Indent(std::size_t level) {
        // Blanks go in whole blocks of 16 (constant-size copies the compiler
        // inlines); the cursor then stops after the ones that count.
        static constexpr char kBlanks[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                             ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        const std::size_t blanks = 4 * level;
        out_.Reserve(lineBreak_.size() + blanks + sizeof kBlanks);
        char* p = out_.Cursor();
        if (lineBreak_.size() == 1) {
            *p++ = lineBreak_[0];
        } else {
            std::memcpy(p, lineBreak_.data(), lineBreak_.size());
            p += lineBreak_.size();
        }
        for (std::size_t done = 0; done < blanks; done += sizeof kBlanks) {
            std::memcpy(p + done, kBlanks, sizeof kBlanks);
        }
        out_.Advance(p + blanks);
    }

    // Before an element or a member: "," unless first; indented, a line
    // break and the indent of the container's contents.
    void Separator(Frame& frame) {
        if (!frame.first) {
            out_.Reserve(1);
            out_.Put(',');
        }
        frame.first = false;
        if (Indented()) {
            Indent(stack_.size());
        }
    }

    void Close(char bracket, std::size_t count) {
        stack_.pop_back();
        if (Indented() && count != 0) {
            Indent(stack_.size());
        }
        out_.Reserve(1);
        out_.Put(bracket);
    }

    // A scalar is written at once; a container is opened and pushed.
    void Value(const BindingProperty& value) {
        switch (value.GetKind()) {
            case BindingProperty::Kind::Empty:
                out_.Append("null", 4);
                break;
            case BindingProperty::Kind::Bool:
                value.GetBool() ? out_.Append("true", 4) : out_.Append("false", 5);
                break;
            case BindingProperty::Kind::Signed:
                WriteSigned(out_, value.GetSigned());
                break;
            case BindingProperty::Kind::Unsigned:
                WriteUnsigned(out_, value.GetUnsigned());
                break;
            case BindingProperty::Kind::Float:
                WriteFloat(out_, value.GetFloat());
                break;
            case BindingProperty::Kind::String: {
                const BindingInternedString& text = value.GetInternedString();
                WriteString(out_, text.CStr(), text.Size());
                break;
            }
            case BindingProperty::Kind::Blob: {
                const std::span<const std::uint8_t> bytes = value.GetBlob();
                const std::string text = Base64Encode(bytes.data(), bytes.size());
                WriteString(out_, text.data(), text.size());
                break;
            }
            case BindingProperty::Kind::Enum: {
                const BindingEnumPayload payload = value.GetEnum();
                const char* name = registry_ != nullptr && payload.type != nullptr
                                       ? registry_->EnumValueName(*payload.type, payload.value)
                                       : nullptr;
                if (name != nullptr) {
                    WriteString(out_, name, std::strlen(name));
                } else {
                    WriteSigned(out_, payload.value);
                }
                break;
            }
            case BindingProperty::Kind::Collection: {
                out_.Reserve(1);
                out_.Put('[');
                const std::span<const BindingProperty> elements = value.Elements();
                Frame& frame = stack_.emplace_back();
                frame.count = elements.size();
                frame.element = elements.data();
                frame.elementsEnd = elements.data() + elements.size();
                break;
            }
            case BindingProperty::Kind::Structure: {
                out_.Reserve(1);
                out_.Put('{');
                const BindingProperty::FieldRange fields = value.Fields();
                Frame& frame = stack_.emplace_back();
                frame.structure = true;
                frame.count = value.Size();
                frame.field = fields.begin();
                frame.fieldsEnd = fields.end();
                break;
            }
            default:
                break;  // a kind outside 0..9 writes nothing, as Accept visits nothing
        }
    }

    Output& out_;
    const BindingRegistry* registry_;
    std::string_view lineBreak_;  // empty: compact
    std::vector<Frame> stack_;
};

}  // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      const char* lineBreak) {
    if (value.IsEmpty()) {
        return {};
    }
    Output out;
    Emitter(out, registry, lineBreak != nullptr ? lineBreak : "").Write(value);
    return out.Text();
}

}  // namespace Tavo
