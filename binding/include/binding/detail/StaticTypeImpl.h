#pragma once
// Definitions behind binding/StaticType.h. Included by that header only.
//
// Why constexpr records: the id is a pure function of the signature text the
// compiler writes for HashCode<T>, so both records are built at compile time
// as inline static data members (one per program, merged across translation
// units). Reading them needs no guard, no lock and no allocation.
//
// The signature text is this compiler's pretty function name. It is the same
// on every call for one type and differs for distinct types, with one caveat
// of the compiler's spelling: types it prints alike (two lambdas of the same
// signature in one scope, say) share an id. Registered types are named
// structs and enums, which are always spelled apart.
//
// The id hashes the signature text of HashCode<T> exactly as the compiler
// writes it; the readable name (Name<T>, ReadableTypeName.h) is made apart
// and never feeds the id, so ids stay what they were.

#include <cstdint>

#include "binding/detail/ReadableTypeName.h"

namespace Tavo {

#if defined(_MSC_VER) && !defined(__clang__)
#define TAVO_SIGNATURE_TEXT __FUNCSIG__
#else
#define TAVO_SIGNATURE_TEXT __PRETTY_FUNCTION__
#endif

template <class T>
constexpr std::uint32_t StaticType::HashCode() {
    return Fnv1a32(TAVO_SIGNATURE_TEXT);
}

template <class T>
constexpr const char* StaticType::Name() {
    return detail::ReadableTypeName<T>::kText.text;
}

#undef TAVO_SIGNATURE_TEXT

namespace detail {

// "#%08X" of `hash`: '#', eight upper-case hex digits, NUL.
struct StaticTypeHashText {
    char text[10];
};

constexpr StaticTypeHashText FormatStaticTypeHashText(std::uint32_t hash) {
    constexpr const char* kDigits = "0123456789ABCDEF";
    StaticTypeHashText out{};
    out.text[0] = '#';
    for (int i = 0; i < 8; ++i) {
        out.text[1 + i] = kDigits[(hash >> (28 - 4 * i)) & 0xFu];
    }
    out.text[9] = '\0';
    return out;
}

template <class T>
struct StaticTypeRecords {
    static constexpr std::uint32_t kHash = StaticType::HashCode<T>();
    static constexpr StaticTypeHashText kText = FormatStaticTypeHashText(kHash);
    // The anonymous record names itself: `name` points at its own hashText.
    static constexpr StaticType kAnonymous{
        kHash,
        StaticTypeRecords::kAnonymous.hashText,
        {kText.text[0], kText.text[1], kText.text[2], kText.text[3], kText.text[4], kText.text[5],
         kText.text[6], kText.text[7], kText.text[8], kText.text[9]}};
    static constexpr StaticType kNamed{kHash, StaticType::Name<T>(), {}};
};

}  // namespace detail

template <class T>
constexpr const StaticType& StaticType::Anonymous() {
    return detail::StaticTypeRecords<T>::kAnonymous;
}

template <class T>
constexpr const StaticType& StaticType::Named() {
    return detail::StaticTypeRecords<T>::kNamed;
}

}  // namespace Tavo
