#pragma once
// Per-type identity without run-time type information.
//
// Every native type T has two immutable records: the anonymous flavour (name
// is "#XXXXXXXX", the id in 8 upper-case hex digits) and the named flavour
// (name is T as a reader writes it, "std::string" or
// "Tavo::Client::Heartbeat::Api::LoginSession", the same text under GCC and
// clang; made at compile time). Both carry the same id:
// FNV-1a-32 of the signature text of StaticType::HashCode<T>(). The records
// live in static storage for the life of the process; callers keep pointers to
// them. First use is thread-safe; later uses cost at most one guard test and
// never allocate.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logging/Fnv1a.h"

namespace Tavo {

struct StaticType {
    std::uint32_t hashCode;  // the type id
    const char* name;        // hashText (anonymous) or the readable name (named)
    char hashText[10];       // "#%08X" of hashCode, NUL-terminated; zero when named

    // The id of T: FNV-1a-32 of HashCode<T>'s own signature text. Computed by
    // the compiler; usable in constant expressions.
    template <class T>
    static constexpr std::uint32_t HashCode();
    // T as a reader writes it, with full namespaces: inline namespaces of the
    // standard library dropped, "std::string" for the standard string, one
    // spelling of integer types and blanks. NUL-terminated, static. For
    // diagnostics only: the id does not depend on it.
    template <class T>
    static constexpr const char* Name();

    // The single record of each flavour for T: constant-initialised static
    // storage, so no first-use guard, no lock and no allocation.
    // [any-thread]
    template <class T>
    static constexpr const StaticType& Anonymous();
    template <class T>
    static constexpr const StaticType& Named();
};

}  // namespace Tavo

#include "binding/detail/StaticTypeImpl.h"
