#include "formats/JsonReader.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "binding/BindingStructureAssembler.h"
#include "detail/JsonReaderProbe.h"
#include "detail/RapidJson.h"
#include "detail/RapidJsonAllocator.h"
#include "logging/Format.h"

namespace Tavo {

namespace {

using JsonReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>,
                                            detail::RapidJsonCountingAllocator>;

// The default (strict) grammar, with every number handed over as its text.
// Why: the reader's own conversion to double either misses the nearest double
// by a unit in the last place for about a quarter of all doubles written in
// their shortest form (so that text we wrote would not read back as the value
// it came from), or, with its full-precision flag, takes a path that is
// undefined for a zero significand ("0e-324"). The standard library converts
// exactly; the reader still validates the syntax and reports its errors.
//
// The reader works in place (see DocumentStream): strings and numbers are
// handed over where they stand in the document, instead of being copied
// through the reader's stack.
constexpr unsigned kParseFlags = rapidjson::kParseDefaultFlags |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseInsituFlag;

constexpr const char* kErrorLayout = "Error: %s at offset %u.";
// Our wording for trailing characters after the root value.
constexpr const char* kRootNotSingular = "The document root must not follow by other values.";
constexpr const char* kTooDeep = "Nesting deeper than 1000 levels.";
constexpr const char* kTooManyElements = "Too many elements in an array.";

static_assert(kMaxJsonDepth == 1000, "kTooDeep names the limit");

std::atomic<std::uint64_t> g_textsSearched{0};

// A decoded text ends at its first NUL ("\u0000" in the document).
std::string_view UpToNul(const char* text, rapidjson::SizeType length) {
    g_textsSearched.fetch_add(1, std::memory_order_relaxed);
    const void* nul = std::memchr(text, '\0', length);
    return {text, nul == nullptr ? length
                                 : static_cast<std::size_t>(static_cast<const char*>(nul) - text)};
}

// The document and where the reader's last string was decoded to. Shared by
// the stream's copies (the reader copies its stream into locals while it
// reads a value) and read by the builder when the string's event arrives.
struct DecodedText {
    const char* document = nullptr;
    const char* begin = nullptr;  // of the string being decoded, in the document
    const char* text = nullptr;
    std::size_t size = 0;       // with the terminating NUL the reader appends
    bool escaped = false;       // decoded into `scratch`, not found in the document
    std::vector<char> scratch;  // its size is its capacity: the stream keeps the end
};

// The document as an in-place stream that never writes to it, so that the
// reader needs no copy of it. A string is decoded in place: each character
// the reader puts back is the one it has just taken, so nothing is stored,
// until the first escape, which makes the decoded text shorter than its
// source; from there on the text is decoded into the scratch buffer. Numbers
// are handed over where they stand. Offsets are those of the document.
//
// Small, like the library's own in-place stream: the reader copies it into
// locals per value and keeps the copy in registers.
class DocumentStream {
public:
    using Ch = char;

    explicit DocumentStream(DecodedText& shared) : src_(shared.document), shared_(&shared) {}

    Ch Peek() const { return *src_; }
    Ch Take() { return *src_++; }
    std::size_t Tell() const { return static_cast<std::size_t>(src_ - shared_->document); }

    Ch* PutBegin() {
        shared_->begin = src_;
        shared_->escaped = false;
        dst_ = const_cast<char*>(src_);  // never written through while in the document
        end_ = 0;
        // The reader only reads through this pointer (numbers); strings are
        // read from the shared record.
        return dst_;
    }
    // Once per character of every string, inline. In the document, `dst_`
    // is the end of the string's unchanged prefix, which the character just
    // taken follows unless an escape came before, and `end_` is 0; escaped,
    // `dst_` is where the scratch buffer is written, which no taken
    // character follows, and `end_` the buffer's end.
    [[gnu::always_inline]] void Put(Ch c) {
        if (dst_ == src_ - 1) {
            ++dst_;
        } else if (reinterpret_cast<std::uintptr_t>(dst_) < end_) {
            *dst_++ = c;
        } else {
            dst_ = PutEscaped(*shared_, dst_, c);
            end_ =
                reinterpret_cast<std::uintptr_t>(shared_->scratch.data() + shared_->scratch.size());
        }
    }
    std::size_t PutEnd(Ch* /*begin*/) {
        DecodedText& shared = *shared_;
        shared.text = shared.escaped ? shared.scratch.data() : shared.begin;
        shared.size = static_cast<std::size_t>(dst_ - shared.text);
        return shared.size;
    }

private:
    // The first character after an escape, or one that finds the scratch
    // buffer full: moves what is decoded so far into a larger buffer, and
    // returns the new write position. Static, so that the stream's address
    // is never taken and the reader keeps its copy in registers. Throws
    // std::bad_alloc.
    [[gnu::noinline]] static char* PutEscaped(DecodedText& shared, char* dst, Ch c) {
        const char* from = shared.escaped ? shared.scratch.data() : shared.begin;
        const auto kept = static_cast<std::size_t>(dst - from);
        if (shared.escaped) {
            shared.scratch.resize(2 * shared.scratch.size());
        } else {
            shared.scratch.resize(std::max<std::size_t>({shared.scratch.size(), 2 * kept, 64}));
            std::memcpy(shared.scratch.data(), from, kept);
            shared.escaped = true;
        }
        dst = shared.scratch.data() + kept;
        *dst++ = c;
        return dst;
    }

    const char* src_;
    char* dst_ = nullptr;
    std::uintptr_t end_ = 0;  // of the scratch buffer while escaped, else 0
    DecodedText* shared_;
};

}  // namespace
}  // namespace Tavo

// Copied into locals like the library's own in-place stream, so that the
// position lives in registers while a value is read.
template <>
struct rapidjson::StreamTraits<Tavo::DocumentStream> {
    enum { copyOptimization = 1 };
};

namespace Tavo {
namespace {

// The reader's event handler: builds the tree in place.
//
// Invariants: `open_[0..depth_)` are the arrays and objects being filled,
// innermost last; each lives in its parent's element array or field node,
// which cannot move while the child is open (only the innermost container
// grows). `target_` is where the next value of an object member (or the root)
// goes.
class JsonTreeBuilder {
public:
    JsonTreeBuilder(BindingProperty& root, const DecodedText& decoded)
        : target_(&root), decoded_(decoded) {}

    // Why the builder stopped the reader, if it did, and how far before the
    // reader's termination offset the culprit starts.
    const char* StopReason() const { return stopReason_; }
    // Links the structures still open, so the tree is whole: before it is
    // handed on or failed.
    void Finish() noexcept { structures_.CloseAll(); }
    std::size_t StopBack() const { return stopBack_; }

    bool Null() {
        if (inArray_) {
            open_[depth_ - 1]->Append();
        }
        return true;
    }
    bool Bool(bool value) {
        Slot().SetBool(value);
        return true;
    }
    bool Int(int value) {
        Slot().SetSigned(std::int32_t{value});
        return true;
    }
    bool Uint(unsigned value) {
        Slot().SetUnsigned(std::uint32_t{value});
        return true;
    }
    bool Int64(std::int64_t value) {
        Slot().SetSigned(value);
        return true;
    }
    bool Uint64(std::uint64_t value) {
        Slot().SetUnsigned(value);
        return true;
    }
    bool Double(double value) {
        Slot().SetFloat(value);
        return true;
    }
    // Every number arrives here as its validated text, which is followed by a
    // character that cannot continue a number (it is not NUL-terminated).
    bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) {
        BindingProperty& slot = Slot();
        const char* end = text + length;
        bool integral = true;
        for (const char* p = text; p != end; ++p) {
            if (*p == '.' || *p == 'e' || *p == 'E') {
                integral = false;
                break;
            }
        }
        if (integral) {
            if (*text == '-') {
                std::int64_t value;
                if (std::from_chars(text, end, value).ec == std::errc{}) {
                    slot.SetSigned(value);
                    return true;
                }
            } else {
                std::uint64_t value;
                if (std::from_chars(text, end, value).ec == std::errc{}) {
                    slot.SetUnsigned(value);
                    return true;
                }
            }
        }
        double value;
        if (std::from_chars(text, end, value).ec != std::errc{}) {
            // Out of range: zero, or infinity. Rare; the copy bounds strtod
            // to the number's own text.
            value = std::strtod(std::string(text, length).c_str(), nullptr);
        }
        if (std::isinf(value)) {
            // The reader lets some such numbers through ("2e308"); infinity
            // could not be written back. Refused as the reader refuses the
            // rest, at the number's first character.
            // (The reader terminates at the number's first character.)
            return Stop(rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig), 0);
        }
        slot.SetFloat(value);
        return true;
    }
    bool String(const char* /*text*/, rapidjson::SizeType /*length*/, bool /*copy*/) {
        Slot().SetString(Decoded());
        return true;
    }
    bool StartObject() { return Open(false); }
    bool Key(const char* /*text*/, rapidjson::SizeType /*length*/, bool /*copy*/) {
        target_ = &structures_.Field(Decoded());
        return true;
    }
    bool EndObject(rapidjson::SizeType /*memberCount*/) {
        Close();
        return true;
    }
    bool StartArray() { return Open(true); }
    bool EndArray(rapidjson::SizeType /*elementCount*/) {
        Close();
        return true;
    }

private:
    // The string the reader has just decoded, without the NUL it appends.
    // Only an escape ("\u0000") can put a NUL into it, so only an escaped
    // string is searched for one.
    std::string_view Decoded() const {
        const auto length = static_cast<rapidjson::SizeType>(decoded_.size - 1);
        if (decoded_.escaped) {
            return UpToNul(decoded_.text, length);
        }
        return {decoded_.text, length};
    }

    // Where the next value goes: a new element inside an array, else the target.
    BindingProperty& Slot() { return inArray_ ? open_[depth_ - 1]->Append() : *target_; }

    bool Open(bool array) {
        if (depth_ == kMaxJsonDepth) {
            return Stop(kTooDeep, 1);  // the reader terminates just after the bracket
        }
        BindingProperty& container = Slot();
        if (array) {
            container.MakeCollection();  // an existing collection keeps its elements
        } else {
            structures_.Open(container);  // an existing structure keeps its fields
        }
        open_[depth_++] = &container;
        inArray_ = array;
        return true;
    }

    // Stops the reader, which reports a termination error.
    bool Stop(const char* reason, std::size_t back) {
        stopReason_ = reason;
        stopBack_ = back;
        return false;
    }

    void Close() {
        if (!inArray_) {
            structures_.Close();
        }
        --depth_;
        inArray_ = depth_ != 0 && open_[depth_ - 1]->GetKind() == BindingProperty::Kind::Collection;
    }

    BindingProperty* target_;
    const DecodedText& decoded_;
    std::size_t depth_ = 0;
    bool inArray_ = false;
    const char* stopReason_ = nullptr;
    std::size_t stopBack_ = 0;
    BindingProperty* open_[kMaxJsonDepth];
    BindingStructureAssembler structures_;  // the objects among open_
};

}  // namespace

BindingResult ParseJson(const char* text) {
    BindingResult result;
    if (text == nullptr) {
        return result;
    }
    DecodedText decoded;
    decoded.document = text;
    DocumentStream stream(decoded);
    JsonTreeBuilder builder(result.Value(), decoded);
    JsonReader reader;
    rapidjson::ParseResult parsed;
    const char* message = nullptr;
    std::size_t offset = 0;
    try {
        parsed = reader.Parse<kParseFlags>(stream, builder);
    } catch (const std::bad_alloc&) {
        message = kOutOfMemoryMessage;
        offset = stream.Tell();
    } catch (const std::length_error&) {
        message = kTooManyElements;
        offset = stream.Tell();
    }
    builder.Finish();
    if (message == nullptr) {
        if (!parsed.IsError() || parsed.Code() == rapidjson::kParseErrorDocumentEmpty) {
            return result;  // a blank document reads as an empty value
        }
        offset = parsed.Offset();
        if (parsed.Code() == rapidjson::kParseErrorTermination && builder.StopReason() != nullptr) {
            message = builder.StopReason();
            offset -= builder.StopBack();
        } else if (parsed.Code() == rapidjson::kParseErrorDocumentRootNotSingular) {
            message = kRootNotSingular;
        } else {
            message = rapidjson::GetParseError_En(parsed.Code());
        }
    }
    result.Fail(Format(kErrorLayout, message, static_cast<std::uint64_t>(offset)));
    return result;
}

BindingResult ParseJson(const std::string& text) {
    return ParseJson(text.c_str());
}

std::uint64_t detail::JsonTextsSearchedForNul() {
    return g_textsSearched.load(std::memory_order_relaxed);
}

}  // namespace Tavo
