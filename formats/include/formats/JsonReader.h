#pragma once
// Reading JSON text into a dynamic value tree.
//
// The tokenizer is RapidJSON's reader with its default grammar (strict JSON:
// no comments, no trailing commas, no NaN or infinity literals; escapes and
// surrogate pairs decoded to UTF-8) and exact number conversion, so that a
// float written by WriteJson reads back as the same double. Its events build
// the tree directly, with no intermediate document:
// - null: inside an array an empty element is appended; elsewhere the target
//   stays as it is (a fresh member or the root stays empty);
// - true/false: bool;
// - integers: non-negative ones are unsigned (even when small), negative ones
//   signed; 64-bit where needed. A fraction, an exponent, or an integer beyond
//   the 64-bit ranges gives a float (the nearest double);
// - strings and member names: their decoded text up to the first NUL;
// - arrays: collections, elements in document order;
// - objects: structures. Each member fetches or creates the field of its name
//   and stores its value there, so a repeated name reuses the field: scalars
//   overwrite, objects merge, arrays append, null keeps what was there.
//
// An empty or blank document reads as ok and empty. Errors fail the result
// with "Error: <text> at offset <byte offset>.", the text being the reader's
// English message for its error code; trailing characters after the value
// give "The document root must not follow by other values."; a number beyond
// the range of double gives "Number too big to be stored in double." at its
// first character, whether or not the reader noticed it. Nesting deeper
// than kMaxJsonDepth arrays and objects fails with "Nesting deeper than 1000
// levels." at the offset of the first bracket too many, so that every tree
// read here can be walked, copied and written without running out of stack.
// A refused allocation fails the result with "Out of memory." at the offset
// reached. Nothing is thrown for bad input.
//
// Thread-safe: no state is kept between calls.

#include <cstddef>
#include <string>

#include "binding/BindingProperty.h"

namespace Tavo {

// Arrays and objects nested deeper than this are refused.
inline constexpr std::size_t kMaxJsonDepth = 1000;

// Parses the NUL-terminated `text` (null reads as the empty text). The
// result owns its tree; `text` is only read during the call.
BindingResult ParseJson(const char* text);
// Parses the characters of `text`, up to its first NUL.
BindingResult ParseJson(const std::string& text);

}  // namespace Tavo
