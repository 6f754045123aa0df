#include "formats/JsonWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
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
// directly into one output costs about half. The text is the same byte for
// byte: integers come from RapidJSON's printers, floats from its Grisu2
// digits in dtoa's layout (the layout redone below without its moves: the
// shortest text that reads back), and strings are escaped by the table
// below, which is RapidJSON's.

// 0: written as is; 'u': \u00XX; anything else: a backslash and that letter.
constexpr char kEscape[256] = {
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'b', 't', 'n', 'u', 'f', 'r', 'u', 'u',  // 00
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u',  // 10
    0,   0,   '"', 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 20
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 30
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    // 40
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '\\'};               // 50

// The output: a chain of blocks of the counting hooks, each (up to
// kLargestBlock) twice the size of the one before, joined into the result
// by one copy at the end. A block once full is never moved or copied, so
// growing costs an allocation and not a copy of everything written so far,
// whatever the allocator can do in place. Reserve before each write of a
// bounded size, then Put without checks; a pointer into the output is
// valid until the next Reserve.
class Output {
public:
    Output() = default;
    ~Output() {
        for (const Block& block : full_) {
            Memory::Free(block.begin);
        }
        Memory::Free(begin_);
    }
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
    std::string Text() const {
        const auto current = static_cast<std::size_t>(cursor_ - begin_);
        std::string text;
        text.reserve(written_ + current);
        for (const Block& block : full_) {
            text.append(block.begin, block.used);
        }
        text.append(begin_, current);
        return text;
    }

private:
    static constexpr std::size_t kFirstBlock = 256;
    static constexpr std::size_t kLargestBlock = std::size_t{1} << 20;

    struct Block {
        char* begin;
        std::size_t used;
    };

    [[gnu::noinline]] void Grow(std::size_t bytes) {
        const auto capacity = static_cast<std::size_t>(end_ - begin_);
        std::size_t wanted = capacity == 0 ? kFirstBlock : std::min(capacity * 2, kLargestBlock);
        wanted = std::max(wanted, bytes);
        full_.reserve(full_.size() + 1);  // before the new block: nothing to undo if it throws
        auto* block = static_cast<char*>(Memory::Allocate(wanted));
        if (block == nullptr) {
            throw std::bad_alloc();  // the blocks so far are freed by the destructor
        }
        if (begin_ != nullptr) {
            const auto used = static_cast<std::size_t>(cursor_ - begin_);
            full_.push_back(Block{begin_, used});
            written_ += used;
        }
        begin_ = block;
        cursor_ = block;
        end_ = block + wanted;
    }

    std::vector<Block> full_;  // in order of writing
    std::size_t written_ = 0;  // bytes in full_
    char* begin_ = nullptr;    // the block being written
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

// Digits and layout of a float are those of RapidJSON's dtoa: its Grisu2
// digits, placed as its Prettify places them (decimal notation while the
// point falls within 21 digits before or 6 zeros after the first digit,
// else exponent notation, and ".0" after whole numbers). Grisu2 writes the
// digits straight into the output, one place to the right, and they are
// then moved byte by byte where a point or zeros must come before them: the
// fewest bytes to move in the common layouts, and no wide reads of bytes
// just written one at a time (which stall).

// A sign, then at most 17 digits and the 24 bytes of a constant-size write
// after them (dtoa's text itself is at most 25 bytes).
constexpr std::size_t kFloatRoom = 48;

// Moves `count` (at most 24) bytes from `from` to `to`, one at a time, in
// ascending order (so `to` may be `from` - 1). Why volatile: compilers turn a
// plain loop into a call to memmove, which costs more than the few bytes
// moved here and reads bytes Grisu2 has just written one at a time with
// wide loads that stall.
void MoveBytes(char* to, const char* from, int count) {
    volatile char* const target = to;
    for (int i = 0; i < count; ++i) {
        target[i] = from[i];
    }
}

// RapidJSON's Grisu2: the digits of `value` (finite, above 0) at `buffer`;
// returns their length and sets `K`, value ~ digits * 10^K.
//
// Flattened: with its digit generation inlined here, the compiler sees that
// the digits it stores cannot alias the length and exponent it counts in
// these locals, and keeps them in registers; called as a function, it
// stores and reloads both around every digit.
[[gnu::flatten]] int Grisu2(double value, char* buffer, int& K) {
    int length = 0;
    rapidjson::internal::Grisu2(value, buffer, &length, &K);
    return length;
}

// Places the `length` digits at p + 1 (times 10^k) from `p` on; returns the
// end.
char* PlaceDigits(char* p, int length, int k) {
    const int kk = length + k;  // 10^(kk-1) <= value < 10^kk
    if (0 <= k && kk <= 21) {
        // 1234e7 -> 12340000000.0
        MoveBytes(p, p + 1, length);
        std::memset(p + length, '0', 24);  // at most 21 zeros; the rest is overwritten or unused
        p[kk] = '.';
        p[kk + 1] = '0';
        return p + kk + 2;
    }
    if (0 < kk && kk <= 21) {
        // 1234e-2 -> 12.34: the digits after the point are in place.
        MoveBytes(p, p + 1, kk);
        p[kk] = '.';
        return p + length + 1;
    }
    if (-6 < kk && kk <= 0) {
        // 1234e-6 -> 0.001234
        const int offset = 2 - kk;
        char digits[24] = {};
        MoveBytes(digits, p + 1, length);
        std::memcpy(p, "0.000000", 8);  // "0." and up to 5 zeros; the digits follow
        std::memcpy(p + offset, digits, 24);
        return p + offset + length;
    }
    p[0] = p[1];
    if (length == 1) {
        // 1e30
        p[1] = 'e';
        return rapidjson::internal::WriteExponent(kk - 1, p + 2);
    }
    // 1234e30 -> 1.234e33: the digits after the first are in place.
    p[1] = '.';
    p[length + 1] = 'e';
    return rapidjson::internal::WriteExponent(kk - 1, p + length + 2);
}

void WriteFloat(Output& out, double value) {
    // NaN and the infinities have no JSON form: null keeps the text valid.
    if (!std::isfinite(value)) {
        out.Append("null", 4);
        return;
    }
    out.Reserve(kFloatRoom);
    char* p = out.Cursor();
    if (std::signbit(value)) {
        *p++ = '-';
        value = -value;
    }
    if (value == 0) {
        std::memcpy(p, "0.0", 3);
        out.Advance(p + 3);
        return;
    }
    int k = 0;
    const int length = Grisu2(value, p + 1, k);
    out.Advance(PlaceDigits(p, length, k));
}

// Writes one tree. The walk keeps its own stack of open containers, so depth
// costs no call stack.
class Emitter {
public:
    Emitter(Output& out, const BindingRegistry* registry, std::string_view lineBreak)
        : out_(out), registry_(registry), lineBreak_(lineBreak) {
        if (Indented()) {
            // The line break and the blanks of kRunLevels levels, then a
            // block of slack, so that Indent may copy whole blocks.
            indentRun_.assign(lineBreak_);
            indentRun_.append(4 * kRunLevels + kBlock, ' ');
        }
    }

    void Write(const BindingProperty& root) {
        Value(root);
        // Each pass writes the innermost container's members up to its end,
        // or up to a member that opens a container (its frame, pushed on
        // the stack, is the innermost next).
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.structure) {
                for (;;) {
                    if (frame.field == frame.fieldsEnd) {
                        Close('}', frame.count);
                        break;
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
                    if (!Value(field.value)) {
                        break;  // `frame` may have moved with the stack
                    }
                }
            } else {
                for (;;) {
                    if (frame.element == frame.elementsEnd) {
                        Close(']', frame.count);
                        break;
                    }
                    const BindingProperty& element = *frame.element++;
                    Separator(frame);
                    if (!Value(element)) {
                        break;
                    }
                }
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

    // The line break and the blanks of `level` levels, copied from the
    // precomputed run: up to kBlock bytes (7 levels with "\n") as one copy
    // of a constant size the compiler inlines, the cursor then stopping
    // after the bytes that count; deeper than the run, a block at a time.
    void Indent(std::size_t level) {
        const std::size_t size = lineBreak_.size() + 4 * level;
        out_.Reserve(size + kBlock);
        char* p = out_.Cursor();
        if (size <= kBlock) {
            // The common case, as one copy of a constant size.
            std::memcpy(p, indentRun_.data(), kBlock);
        } else if (level <= kRunLevels) {
            std::memcpy(p, indentRun_.data(), size);
        } else {
            std::memcpy(p, lineBreak_.data(), lineBreak_.size());
            for (std::size_t done = lineBreak_.size(); done < size; done += kBlock) {
                std::memcpy(p + done, indentRun_.data() + indentRun_.size() - kBlock, kBlock);
            }
        }
        out_.Advance(p + size);
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

    // A scalar is written at once (true); a container is opened and pushed
    // (false).
    bool Value(const BindingProperty& value) {
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
                return false;
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
                return false;
            }
            default:
                break;  // a kind outside 0..9 writes nothing, as Accept visits nothing
        }
        return true;
    }

    static constexpr std::size_t kBlock = 32;
    static constexpr std::size_t kRunLevels = 32;

    Output& out_;
    const BindingRegistry* registry_;
    std::string_view lineBreak_;  // empty: compact
    std::string indentRun_;       // indented only: see the constructor
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
