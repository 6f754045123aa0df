#pragma once
// The YAML reader: one YAML document into a BindingProperty tree, built from
// libyaml's parser events. There is no YAML writer.
//
// Scalars in value position resolve as follows. Quoted scalars are strings.
// Plain, literal and folded scalars without a tag are, in this order: empty
// ("", "~", "null", "Null", "NULL"), a number (the whole text read by strtod,
// infinities excluded; integral values become unsigned, or signed when below
// zero; others float), a bool word (true/True/TRUE/y/Y/yes/Yes/YES/on/On/ON
// and the false words false/False/FALSE/n/N/no/No/NO/off/Off/OFF), else a
// string. The tags !!str, !!int, !!float and !!bool are honoured; any other
// tag on a scalar fails. Mapping keys are never resolved: a key is its text.
//
// Anchors remember where their node sits in the tree (its path from the
// root); an alias deep-copies the value found there. An alias to a node that
// is still open (one of its own ancestors) is a cycle and fails.
//
// Limits that keep hostile input bounded:
//   - at most kYamlMaxDepth nested sequences and mappings, aliases included;
//   - alias expansion may create at most
//     clamp(kYamlAliasBudgetPerByte * input bytes, kYamlAliasBudgetFloor,
//     kYamlAliasBudgetCeiling) values in total (each path step walked to find
//     an anchored node counts as one).
//
// Errors: the first failure ends the parse; the result then holds
// {"error": message}. Positions in messages are 1-based, except libyaml's own
// syntax errors, which keep libyaml's 0-based line and column.
//
// Thread-safe: each call uses only its own parser and state.

#include <cstddef>
#include <string_view>

#include "binding/BindingProperty.h"

namespace Tavo {

inline constexpr std::size_t kYamlMaxDepth = 1000;
inline constexpr std::size_t kYamlAliasBudgetFloor = 100000;
inline constexpr std::size_t kYamlAliasBudgetPerByte = 100;
inline constexpr std::size_t kYamlAliasBudgetCeiling = 10000000;

// Reads the single YAML document in `text` (UTF-8; its bytes, by length, may
// be any). An empty or blank text reads as ok with an empty value. Never
// throws for bad input; memory exhaustion becomes a failed result.
// [any-thread]
BindingResult ParseYaml(std::string_view text);

}  // namespace Tavo
