#pragma once
// RapidJSON's reader, writers and error texts, for this layer and its tests.
//
// Why the pragma: RapidJSON's internal stack starts without a buffer and its
// first push computes a null pointer plus an offset before it allocates,
// which the clang UndefinedBehaviorSanitizer reports as pointer overflow.
// Every reader and writer meets it on its first string, number or nesting
// level, so its functions are exempt from that one check; every other check
// stays on. Include RapidJSON through this header only, so that no
// instrumented copy of those functions is linked in.

// The standard headers RapidJSON includes come first, outside the pragma:
// an attribute it applied to their templates would conflict with their
// definitions seen earlier in the same file.
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iosfwd>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#if defined(__clang__)
#pragma clang attribute pop
#endif
