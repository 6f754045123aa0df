#include "formats/MessagePack.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "binding/BindingStructureAssembler.h"
#include "logging/Format.h"

namespace Tavo {

namespace {

// Messages. A position after a format byte is its 1-based offset; the
// position of a number or of string bytes is where they start.
constexpr const char* kInvalidFormat = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotString =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTooDeep =
    "Invalid MessagePack data at position %1. Nesting deeper than 1000 levels.";
constexpr const char* kTruncated8 =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated16 =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated32 =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated64 =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
constexpr const char* kStringTruncated =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kBytesTruncated =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
constexpr const char* kOutOfMemory = "Out of memory reading MessagePack data at position %1.";
constexpr const char* kTooManyElements = "Too many elements in a MessagePack array at position %1.";

static_assert(kMaxMessagePackDepth == 1000, "kTooDeep names the limit");

template <class Unsigned>
Unsigned FromBigEndian(Unsigned raw) {
    if constexpr (std::endian::native == std::endian::big) {
        return raw;
    } else if constexpr (sizeof raw == 2) {
        return __builtin_bswap16(raw);
    } else if constexpr (sizeof raw == 4) {
        return __builtin_bswap32(raw);
    } else {
        return __builtin_bswap64(raw);
    }
}

class MessagePackReader {
public:
    MessagePackReader(const std::uint8_t* data, std::size_t size, BindingResult& result)
        : data_(data), size_(size), reserveBudget_(size), result_(result) {}

    void Run();
    // Links the maps still open, so the tree is whole: before it is handed on
    // or failed.
    void Finish() noexcept { structures_.CloseAll(); }
    // The offset of the next byte to read.
    std::size_t Position() const { return position_; }

private:
    enum class State : std::uint8_t {
        Collection,  // an open array: `index` of `count` elements read
        Structure,   // an open map: `index` of `count` keys and values read
    };
    // One open container. Its target lives in its parent's element array or
    // field node, which cannot move while it is open (only the innermost
    // container grows).
    struct Frame {
        BindingProperty* target;
        std::uint64_t count;  // items the container announced; twice the pairs for a map
        std::uint64_t index;  // items read so far
        const char* key;      // the last map key read, pointing into the data
        std::size_t keySize;
        State state;
    };

    // Reads the value at the position into `target`: a scalar is stored, a
    // container is made and its frame pushed. False when reading must stop
    // (the result has failed).
    bool ReadValue(BindingProperty& target);
    // Reads a map key at the position into `frame`.
    bool ReadKey(Frame& frame);
    bool Open(BindingProperty& target, State state, std::uint64_t announced);

    // A big-endian unsigned number of kBytes bytes at the position.
    template <std::size_t kBytes>
    bool ReadNumber(std::uint64_t& out);
    // `length` bytes at the position, or a failure with `message` (size, position).
    bool Take(std::uint64_t length, const char* message, const char*& out);
    bool ReadLength(std::uint8_t format, std::uint8_t base, std::uint64_t& length);

    bool Fail(const char* message, std::size_t position) {
        Finish();
        result_.Fail(Format(message, static_cast<std::uint64_t>(position)));
        return false;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    // Elements that may still be reserved. Every element takes at least one
    // byte, so reservations that sum up to the input size cover any honest
    // document, while announced counts cannot multiply memory through
    // nesting.
    std::size_t reserveBudget_;
    BindingResult& result_;
    std::vector<Frame> frames_;
    BindingStructureAssembler structures_;  // the maps among frames_
};

template <std::size_t kBytes>
bool MessagePackReader::ReadNumber(std::uint64_t& out) {
    if (size_ - position_ < kBytes) {
        constexpr const char* kMessage = kBytes == 1   ? kTruncated8
                                         : kBytes == 2 ? kTruncated16
                                         : kBytes == 4 ? kTruncated32
                                                       : kTruncated64;
        return Fail(kMessage, position_);
    }
    // One load and a byte swap rather than a loop of shifts.
    std::uint64_t value = 0;
    if constexpr (kBytes == 1) {
        value = data_[position_];
    } else if constexpr (kBytes == 2) {
        std::uint16_t raw;
        std::memcpy(&raw, data_ + position_, sizeof raw);
        value = FromBigEndian(raw);
    } else if constexpr (kBytes == 4) {
        std::uint32_t raw;
        std::memcpy(&raw, data_ + position_, sizeof raw);
        value = FromBigEndian(raw);
    } else {
        static_assert(kBytes == 8);
        std::memcpy(&value, data_ + position_, sizeof value);
        value = FromBigEndian(value);
    }
    position_ += kBytes;
    out = value;
    return true;
}

bool MessagePackReader::Take(std::uint64_t length, const char* message, const char*& out) {
    if (size_ - position_ < length) {
        Finish();
        result_.Fail(Format(message, length, static_cast<std::uint64_t>(position_)));
        return false;
    }
    out = reinterpret_cast<const char*>(data_ + position_);
    position_ += static_cast<std::size_t>(length);
    return true;
}

// The length of a str 8/16/32 or bin 8/16/32 format: `format - base` is 0, 1
// or 2 for a length of 1, 2 or 4 bytes.
bool MessagePackReader::ReadLength(std::uint8_t format, std::uint8_t base, std::uint64_t& length) {
    switch (format - base) {
        case 0:
            return ReadNumber<1>(length);
        case 1:
            return ReadNumber<2>(length);
        default:
            return ReadNumber<4>(length);
    }
}

bool MessagePackReader::ReadKey(Frame& frame) {
    const std::uint8_t format = data_[position_++];
    std::uint64_t length;
    if (format >= 0xA0 && format <= 0xBF) {
        length = format & 0x1Fu;
    } else if (format >= 0xD9 && format <= 0xDB) {
        if (!ReadLength(format, 0xD9, length)) {
            return false;
        }
    } else {
        return Fail(kKeyNotString, position_);
    }
    const char* text;
    if (!Take(length, kStringTruncated, text)) {
        return false;
    }
    frame.key = text;
    frame.keySize = static_cast<std::size_t>(length);
    return true;
}

bool MessagePackReader::Open(BindingProperty& target, State state, std::uint64_t announced) {
    if (state == State::Collection) {
        target.MakeCollection();  // an existing collection (a repeated key) is reused
        const std::size_t reserve = static_cast<std::size_t>(
            std::min<std::uint64_t>({announced, size_ - position_, reserveBudget_}));
        if (reserve > target.Size()) {
            target.Reserve(reserve);
            reserveBudget_ -= reserve;
        }
    } else {
        structures_.Open(target);  // an existing structure (a repeated key) is reused
        announced *= 2;
    }
    frames_.push_back(Frame{&target, announced, 0, nullptr, 0, state});
    return true;
}

bool MessagePackReader::ReadValue(BindingProperty& target) {
    const std::uint8_t format = data_[position_++];
    // Checked at the format byte, before a count is read.
    const bool container = (format >= 0x80 && format <= 0x9F) || (format >= 0xDC && format <= 0xDF);
    if (container && frames_.size() == kMaxMessagePackDepth) {
        return Fail(kTooDeep, position_);
    }
    if (format <= 0x7F) {
        target.SetSigned(std::int32_t{format});
    } else if (format >= 0xE0) {
        target.SetSigned(std::int32_t{static_cast<std::int8_t>(format)});
    } else if (format <= 0x8F) {
        return Open(target, State::Structure, format & 0x0Fu);
    } else if (format <= 0x9F) {
        return Open(target, State::Collection, format & 0x0Fu);
    } else if (format <= 0xBF) {
        const char* text;
        if (!Take(format & 0x1Fu, kStringTruncated, text)) {
            return false;
        }
        target.SetString(std::string_view(text, format & 0x1Fu));
    } else {
        std::uint64_t number;
        switch (format) {
            case 0xC0:  // nil: the slot stays as it is
                break;
            case 0xC2:
            case 0xC3:
                target.SetBool(format == 0xC3);
                break;
            case 0xC4:
            case 0xC5:
            case 0xC6: {
                const char* bytes;
                if (!ReadLength(format, 0xC4, number) || !Take(number, kBytesTruncated, bytes)) {
                    return false;
                }
                target.SetBlob(
                    std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes),
                                                  static_cast<std::size_t>(number)));
                break;
            }
            case 0xCA: {
                if (!ReadNumber<4>(number)) {
                    return false;
                }
                const auto bits = static_cast<std::uint32_t>(number);
                float value;
                std::memcpy(&value, &bits, sizeof value);
                target.SetFloat(static_cast<double>(value));
                break;
            }
            case 0xCB: {
                if (!ReadNumber<8>(number)) {
                    return false;
                }
                double value;
                std::memcpy(&value, &number, sizeof value);
                target.SetFloat(value);
                break;
            }
            case 0xCC:
                if (!ReadNumber<1>(number)) {
                    return false;
                }
                target.SetUnsigned(number);
                break;
            case 0xCD:
                if (!ReadNumber<2>(number)) {
                    return false;
                }
                target.SetUnsigned(number);
                break;
            case 0xCE:
                if (!ReadNumber<4>(number)) {
                    return false;
                }
                target.SetUnsigned(number);
                break;
            case 0xCF:
                if (!ReadNumber<8>(number)) {
                    return false;
                }
                target.SetUnsigned(number);
                break;
            case 0xD0:
                if (!ReadNumber<1>(number)) {
                    return false;
                }
                target.SetSigned(std::int64_t{static_cast<std::int8_t>(number)});
                break;
            case 0xD1:
                if (!ReadNumber<2>(number)) {
                    return false;
                }
                target.SetSigned(std::int64_t{static_cast<std::int16_t>(number)});
                break;
            case 0xD2:
                if (!ReadNumber<4>(number)) {
                    return false;
                }
                target.SetSigned(std::int64_t{static_cast<std::int32_t>(number)});
                break;
            case 0xD3:
                if (!ReadNumber<8>(number)) {
                    return false;
                }
                target.SetSigned(static_cast<std::int64_t>(number));
                break;
            case 0xD9:
            case 0xDA:
            case 0xDB: {
                const char* text;
                if (!ReadLength(format, 0xD9, number) || !Take(number, kStringTruncated, text)) {
                    return false;
                }
                target.SetString(std::string_view(text, static_cast<std::size_t>(number)));
                break;
            }
            case 0xDC:
                return ReadNumber<2>(number) && Open(target, State::Collection, number);
            case 0xDD:
                return ReadNumber<4>(number) && Open(target, State::Collection, number);
            case 0xDE:
                return ReadNumber<2>(number) && Open(target, State::Structure, number);
            case 0xDF:
                return ReadNumber<4>(number) && Open(target, State::Structure, number);
            default:  // 0xC1, ext 8/16/32 (0xC7-0xC9), fixext (0xD4-0xD8)
                return Fail(kInvalidFormat, position_);
        }
    }
    return true;
}

void MessagePackReader::Run() {
    frames_.reserve(16);
    if (!ReadValue(result_.Value())) {
        return;
    }
    // Until the root is complete or the data ends; a container cut short by
    // the end keeps what was read.
    while (!frames_.empty() && position_ < size_) {
        Frame& top = frames_.back();
        if (top.index == top.count) {
            if (top.state == State::Structure) {
                structures_.Close();
            }
            frames_.pop_back();
        } else if (top.state == State::Collection) {
            BindingProperty& element = top.target->Element(top.index++);
            if (!ReadValue(element)) {  // may push: `top` is stale after
                return;
            }
        } else if (top.index++ % 2 == 0) {
            if (!ReadKey(top)) {
                return;
            }
        } else {
            BindingProperty& field = structures_.Field(std::string_view(top.key, top.keySize));
            if (!ReadValue(field)) {
                return;
            }
        }
    }
}

}  // namespace

MessagePackReadResult ReadMessagePack(const void* data, std::size_t size) {
    MessagePackReadResult read;
    if (size == 0) {
        return read;
    }
    MessagePackReader reader(static_cast<const std::uint8_t*>(data), size, read.result);
    try {
        reader.Run();
        reader.Finish();
    } catch (const std::bad_alloc&) {
        reader.Finish();
        read.result.Fail(Format(kOutOfMemory, static_cast<std::uint64_t>(reader.Position())));
    } catch (const std::length_error&) {
        reader.Finish();
        read.result.Fail(Format(kTooManyElements, static_cast<std::uint64_t>(reader.Position())));
    }
    read.bytesConsumed = reader.Position();
    return read;
}

}  // namespace Tavo
