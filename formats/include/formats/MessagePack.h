#pragma once
// Reading one MessagePack value into a dynamic value tree. The system reads
// MessagePack; it never writes it.
//
// The kind follows the format byte, never the value: positive and negative
// fixints and int 8..64 give signed, uint 8..64 unsigned, float 32 (widened
// exactly) and float 64 float, str string (its bytes as they are, NULs
// included), bin blob, array collection, map structure (keys must be
// strings; a repeated key reuses its field), nil leaves its slot empty. The
// ext formats and 0xC1 are refused. Numbers, lengths and counts are
// big-endian.
//
// Reading is one pass over the bytes with an explicit frame stack. It stops
// when the first value is complete, at the end of the data, or at the first
// error:
// - a container announcing more items than the data holds is not an error: it
//   keeps the items read; storage is never reserved beyond what the
//   remaining bytes could fill;
// - containers nested deeper than kMaxMessagePackDepth are refused, so that
//   every tree read here can be walked and written;
// - an error fails the result with a message naming the byte position (the
//   texts are listed in MessagePack.cpp); a position that follows a format
//   byte is that byte's 1-based offset, the position of a number or of
//   string bytes the 0-based offset where they start;
// - a refused allocation fails the result too, at the position reached.
//
// Thread-safe: no state is kept between calls.

#include <cstddef>

#include "binding/BindingProperty.h"

namespace Tavo {

// Arrays and maps nested deeper than this are refused.
inline constexpr std::size_t kMaxMessagePackDepth = 1000;

struct [[nodiscard]] MessagePackReadResult {
    BindingResult result;
    // Bytes read: the end of the value, or where reading stopped.
    std::size_t bytesConsumed = 0;
};

// Reads one value from the `size` bytes at `data` (null only with size 0).
// An empty input gives an empty value, ok, 0 bytes consumed. The result owns
// its tree; `data` is only read during the call.
MessagePackReadResult ReadMessagePack(const void* data, std::size_t size);

}  // namespace Tavo
