#pragma once
// Writing a dynamic value tree as JSON text, byte for byte the text of
// RapidJSON's writers.
//
// Kinds map as follows: empty → null (an empty root → the empty text); bool;
// signed and unsigned → decimal 64-bit integers; float → the shortest text
// that reads back as the same double, a whole number keeping ".0" (3.0), and
// null for NaN and the infinities, which JSON cannot express; string → a JSON
// string (quote and backslash escaped, control characters as \b \t \n \f \r
// or \u00XX, everything else as is); blob → a string of its Base64 text;
// enum → its registered name as a string, or its signed number when there is
// no registry or no name for it; collection → array in index order;
// structure → object with the fields in ascending byte order of their names.
//
// Thread-safe: the tree is only read, and must not change during the call.

#include <string>

#include "binding/BindingProperty.h"

namespace Tavo {

class BindingRegistry;

// Returns `value` as JSON text. `registry` (may be null) only names enum
// values. `lineBreak` null or "" selects the compact layout, without any
// blank; any other text the indented layout (4 blanks per level, a line break
// after "[" "{" and ",", ": " after names, empty containers as [] and {}),
// with `lineBreak` ending each line. Never fails for any tree; only a refused
// allocation throws std::bad_alloc.
std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry = nullptr,
                      const char* lineBreak = nullptr);

}  // namespace Tavo
