#include "formats/JsonReader.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "binding/BindingStructureAssembler.h"
#include "detail/JsonReaderProbe.h"
#include "detail/RapidJson.h"
#include "detail/RapidJsonAllocator.h"
#include "logging/Format.h"
#include "platform/MemoryAccounting.h"

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
// The reader works in place on a private copy of the document: strings are
// decoded and numbers handed over where they stand, instead of being copied
// through the reader's stack. Offsets are those of the original text.
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

// The reader's event handler: builds the tree in place.
//
// Invariants: `open_[0..depth_)` are the arrays and objects being filled,
// innermost last; each lives in its parent's element array or field node,
// which cannot move while the child is open (only the innermost container
// grows). `target_` is where the next value of an object member (or the root)
// goes.
class JsonTreeBuilder {
public:
    // `original` is the document, `copy` the copy the reader decodes in place.
    JsonTreeBuilder(BindingProperty& root, const char* original, const char* copy)
        : target_(&root), original_(original), copy_(copy) {}

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
    bool String(const char* text, rapidjson::SizeType length, bool /*copy*/) {
        Slot().SetString(Decoded(text, length));
        return true;
    }
    bool StartObject() { return Open(false); }
    bool Key(const char* text, rapidjson::SizeType length, bool /*copy*/) {
        target_ = &structures_.Field(Decoded(text, length));
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
    // A string the reader decoded in place. Only an escape ("\u0000") can put
    // a NUL into it, so strings without escapes skip the search. Such a
    // string is exactly as long as its source, so the original document holds
    // its closing quote right after it, and its last character is no
    // backslash. A string with escapes is shorter than its source: the
    // original there holds a character of the string itself, which is either
    // no quote or an escaped one, right after its backslash.
    //
    // Such a string is read from the original, whose bytes were not just
    // stored: a wide load right after the reader's byte stores to the copy
    // would wait for them.
    std::string_view Decoded(const char* text, rapidjson::SizeType length) const {
        const char* source = original_ + (text - copy_);
        if (source[length] == '"' && (length == 0 || source[length - 1] != '\\')) {
            return {source, length};
        }
        return UpToNul(text, length);
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
    const char* original_;  // the document
    const char* copy_;      // its copy, which the reader decodes in place
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
    const std::size_t size = std::strlen(text) + 1;
    // Through the counting hooks, like every other buffer of the reader.
    std::unique_ptr<char, decltype(&Memory::Free)> copy(static_cast<char*>(Memory::Allocate(size)),
                                                        &Memory::Free);
    if (copy == nullptr) {
        result.Fail(Format(kErrorLayout, kOutOfMemoryMessage, std::uint64_t{0}));
        return result;
    }
    std::memcpy(copy.get(), text, size);
    rapidjson::InsituStringStream stream(copy.get());
    JsonTreeBuilder builder(result.Value(), text, copy.get());
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
