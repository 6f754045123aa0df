#pragma once
// Base64 as blobs travel in text formats: the standard alphabet with "="
// padding, no line wrapping, no URL-safe variant. Bytes are unsigned.
// Pure functions; thread-safe.

#include <cstddef>
#include <string>
#include <string_view>

namespace Tavo {

// Index i holds the character for the 6-bit value i.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes `length` bytes at `bytes` into ceil(length / 3) * 4 characters,
// the last group padded with "=". A null `bytes` encodes as the empty text.
std::string Base64Encode(const void* bytes, std::size_t length);
inline std::string Base64Encode(std::string_view bytes) {
    return Base64Encode(bytes.data(), bytes.size());
}

// Decodes `text` up to its first "=" or first character outside the
// alphabet; the rest is ignored. Never fails: malformed input yields the bytes
// decoded before the stopping point, and a lone trailing character yields
// nothing. The result is a string of bytes.
std::string Base64Decode(std::string_view text);

// Whether every character of `text` is in the alphabet or is "=": what a blob
// given as text must satisfy before it is decoded.
bool IsBase64Text(std::string_view text);

}  // namespace Tavo
