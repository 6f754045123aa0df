#pragma once
// Builds a host value tree from fuzz bytes, as a careless or hostile host
// could hand one in: any type code (foreign ones too), any count, nesting up
// to past the depth limit, null pointers where text, bytes, elements, entries
// or keys should be, texts whose declared count disagrees with their length.
// What the pointers point at is always inside memory this builder owns and
// within the record's declared bounds (texts are NUL-terminated, blobs and
// arrays hold at least their count), since nothing can check a host's
// pointer. The builder owns every byte of the tree until it is destroyed.
//
// Input grammar, one record at a time (bytes past the end read as 0):
//   type byte: low 4 bits pick the code (0..10; 11..15 map to the foreign
//   codes 11, 12, 255, 0xFFFF and 0x80000000, with an 8-byte payload); bit 4
//   asks for a null pointer; bits 5..7 give the count of elements or
//   entries (0..7) or the length of a text or blob (0..6, 7: the next byte).
//   A text's declared count is its length, or the next byte when bit 5 is set.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostValue.h"

namespace Tavo::Fuzzing {

class HostValueBuilder {
public:
    static constexpr int kMaxDepth = 80;  // beyond the converters' limit of 64

    explicit HostValueBuilder(std::string_view input) : input_(input) {}

    HostValue Build() { return Record(0); }

private:
    std::uint8_t Byte() {
        return position_ < input_.size() ? static_cast<std::uint8_t>(input_[position_++]) : 0;
    }
    std::uint64_t Word() {
        std::uint64_t word = 0;
        for (int i = 0; i < 8; ++i) {
            word |= std::uint64_t{Byte()} << (8 * i);
        }
        return word;
    }
    std::string_view Bytes(std::size_t count) {
        const std::size_t available = position_ < input_.size() ? input_.size() - position_ : 0;
        const std::string_view bytes =
            input_.substr(position_, count < available ? count : available);
        position_ += bytes.size();
        return bytes;
    }
    const char* Text(std::size_t length) {
        texts_.emplace_back(Bytes(length));  // NUL-terminated by std::string
        return texts_.back().c_str();
    }

    HostValue Record(int depth) {
        const std::uint8_t head = Byte();
        static constexpr std::uint32_t kForeign[] = {11, 12, 255, 0xFFFF, 0x80000000u};
        const std::uint32_t low = head & 0x0F;
        const std::uint32_t code = low <= 10 ? low : kForeign[low - 11];
        const bool null = (head & 0x10) != 0;
        const std::uint32_t small = head >> 5;
        HostValue value{};
        value.type = code;
        switch (low <= 10 ? code : 99) {
            case 0:
                break;
            case 1:
                value.payload.boolean = Byte();
                break;
            case 2:
            case 3:
            case 4:
                value.payload.u64 = Word();
                break;
            case 5:
            case 6: {
                const std::size_t length = small == 7 ? Byte() : small;
                value.payload.ref.pointer = null ? nullptr : Text(length);
                // The declared count need not match: the converters read to the NUL.
                value.payload.ref.count =
                    (head & 0x20) != 0 ? Byte() : static_cast<std::uint32_t>(length);
                break;
            }
            case 7:
            case 8: {
                const std::size_t length = small == 7 ? Byte() : small;
                const char* bytes = Text(length);
                value.payload.ref.pointer = null ? nullptr : bytes;
                value.payload.ref.count = static_cast<std::uint32_t>(texts_.back().size());
                break;
            }
            case 9: {
                const std::uint32_t count = depth >= kMaxDepth ? 0 : small;
                elements_.emplace_back(count);
                std::vector<HostValue>& elements = elements_.back();
                for (HostValue& element : elements) {
                    element = Record(depth + 1);
                }
                value.payload.ref.pointer = null ? nullptr : elements.data();
                value.payload.ref.count = count;
                break;
            }
            case 10: {
                const std::uint32_t count = depth >= kMaxDepth ? 0 : small;
                entries_.emplace_back(count);
                std::vector<HostMapEntry>& entries = entries_.back();
                for (HostMapEntry& entry : entries) {
                    const std::uint8_t keyHead = Byte();
                    entry.key = (keyHead & 0x80) != 0 ? nullptr : Text(keyHead & 0x0F);
                    entry.ownsKey = keyHead & 1;
                    entry.value = Record(depth + 1);
                }
                value.payload.ref.pointer = null ? nullptr : entries.data();
                value.payload.ref.count = count;
                break;
            }
            default:  // a foreign code with whatever payload
                value.payload.u64 = Word();
                break;
        }
        return value;
    }

    std::string_view input_;
    std::size_t position_ = 0;
    std::deque<std::string> texts_;
    std::deque<std::vector<HostValue>> elements_;
    std::deque<std::vector<HostMapEntry>> entries_;
};

}  // namespace Tavo::Fuzzing
