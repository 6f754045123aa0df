#pragma once
// The readable name of a type, made at compile time from the compiler's
// signature text: the type as a reader would write it, the same text under
// GCC and clang. Included by binding/detail/StaticTypeImpl.h only.
//
// The written form of T is taken from a signature ("[with T = X]" in GCC,
// "[T = X]" in clang, "TypeNameSignature<X>(void)" in MSVC) and rewritten
// token by token:
//   - inline namespaces of the standard library go ("std::__cxx11::",
//     "std::__1::"), and "std::basic_string<char>" becomes "std::string";
//   - a run of integer keywords is put in one order, "int" dropped beside
//     "short" or "long" ("long long unsigned int" -> "unsigned long long",
//     "long int" -> "long"; MSVC's "__int64" is "long long");
//   - the class-keys MSVC writes ("class ", "struct ", "enum ") go;
//   - blanks: one after each comma and between two words or a word after
//     "*" or "&"; none elsewhere ("const char*", "std::vector<std::string>>"
//     closes without a blank, "void(*)(int)");
//   - GCC's "{anonymous}" is written "(anonymous namespace)", as clang does.
// Default template arguments are not removed: GCC and clang leave them out
// already; MSVC spells them and keeps them.

#include <cstddef>
#include <string_view>

namespace Tavo::detail {

// Where the readable name goes: first counted, then written into an array of
// exactly that size.
struct TypeNameCounter {
    std::size_t size = 0;
    char last = '\0';
    constexpr void Put(char c) {
        ++size;
        last = c;
    }
};

template <std::size_t N>
struct TypeNameText {
    char text[N] = {};
    std::size_t size = 0;
    char last = '\0';
    constexpr void Put(char c) {
        text[size++] = c;
        last = c;
    }
};

constexpr bool IsTypeNameWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$';
}

constexpr bool IsTypeNameBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The compiler's signature text of this function for T, which names T.
template <class T>
constexpr const char* TypeNameSignature() {
#if defined(_MSC_VER) && !defined(__clang__)
    return __FUNCSIG__;
#else
    return __PRETTY_FUNCTION__;
#endif
}

// The written form of T in the signature text of TypeNameSignature<T>; the
// whole text when no form is recognised.
constexpr std::string_view WrittenFormOfT(std::string_view signature) {
    constexpr std::string_view kGcc = "[with T = ";
    constexpr std::string_view kClang = "[T = ";
    if (const std::size_t at = signature.find(kGcc); at != std::string_view::npos) {
        const std::size_t end = signature.rfind(']');
        return signature.substr(at + kGcc.size(), end - at - kGcc.size());
    }
    if (const std::size_t at = signature.find(kClang); at != std::string_view::npos) {
        const std::size_t end = signature.rfind(']');
        return signature.substr(at + kClang.size(), end - at - kClang.size());
    }
    // MSVC: "const char *__cdecl Tavo::detail::TypeNameSignature<X>(void)".
    constexpr std::string_view kMsvc = "TypeNameSignature<";
    const std::size_t open = signature.find(kMsvc);
    const std::size_t close = signature.rfind(">(void)");
    if (open != std::string_view::npos && close != std::string_view::npos &&
        close > open + kMsvc.size()) {
        return signature.substr(open + kMsvc.size(), close - open - kMsvc.size());
    }
    return signature;
}

template <class Sink>
constexpr void PutText(Sink& out, std::string_view text) {
    for (char c : text) {
        out.Put(c);
    }
}

// Writes a run of integer keywords in the one order.
template <class Sink>
constexpr void PutIntegerWords(Sink& out, int isUnsigned, int isSigned, int shorts, int longs,
                               int chars, int ints) {
    bool first = true;
    const auto word = [&](std::string_view text) {
        if (!first) {
            out.Put(' ');
        }
        PutText(out, text);
        first = false;
    };
    if (isUnsigned != 0) {
        word("unsigned");
    } else if (isSigned != 0 && chars != 0) {
        word("signed");  // "signed char" is a type of its own
    }
    if (chars != 0) {
        word("char");
    } else if (shorts != 0) {
        word("short");
    } else if (longs != 0) {
        word("long");
        if (longs > 1) {
            word("long");
        }
    } else if (ints != 0 || isUnsigned != 0 || isSigned != 0) {
        word("int");
    }
}

// One word of an integer type, with what it adds to the run; false for any
// other word.
constexpr bool CountIntegerWord(std::string_view word, int& isUnsigned, int& isSigned, int& shorts,
                                int& longs, int& chars, int& ints) {
    if (word == "unsigned") {
        isUnsigned = 1;
    } else if (word == "signed") {
        isSigned = 1;
    } else if (word == "short") {
        ++shorts;
    } else if (word == "long") {
        ++longs;
    } else if (word == "__int64") {
        longs += 2;
    } else if (word == "char") {
        ++chars;
    } else if (word == "int") {
        ++ints;
    } else {
        return false;
    }
    return true;
}

template <class Sink>
constexpr void PutReadableTypeName(std::string_view in, Sink& out) {
    constexpr std::string_view kInlineNamespaces[] = {"__cxx11::", "__1::"};
    constexpr std::string_view kString = "basic_string<char>";
    constexpr std::string_view kAnonymous = "{anonymous}";
    constexpr std::string_view kClassKeys[] = {"class ", "struct ", "enum ", "union "};

    // A word goes after a blank when it follows a word or a "*" or "&".
    const auto beforeWord = [&out] {
        if (IsTypeNameWordChar(out.last) || out.last == '*' || out.last == '&') {
            out.Put(' ');
        }
    };
    std::size_t i = 0;
    while (i < in.size()) {
        const char c = in[i];
        if (IsTypeNameBlank(c)) {
            ++i;
            continue;
        }
        if (!IsTypeNameWordChar(c)) {
            if (in.substr(i).starts_with(kAnonymous)) {
                PutText(out, "(anonymous namespace)");
                i += kAnonymous.size();
                continue;
            }
            out.Put(c);
            ++i;
            if (c == ',') {
                out.Put(' ');
            }
            continue;
        }
        // A word: a class-key, an integer keyword run, "std" or any other.
        std::size_t end = i;
        while (end < in.size() && IsTypeNameWordChar(in[end])) {
            ++end;
        }
        const std::string_view word = in.substr(i, end - i);
        bool classKey = false;
        for (std::string_view key : kClassKeys) {
            classKey = classKey || in.substr(i).starts_with(key);
        }
        if (classKey) {
            i = end;
            continue;
        }
        int isUnsigned = 0, isSigned = 0, shorts = 0, longs = 0, chars = 0, ints = 0;
        if (CountIntegerWord(word, isUnsigned, isSigned, shorts, longs, chars, ints)) {
            // Take every following integer word of the run.
            std::size_t next = end;
            while (true) {
                std::size_t start = next;
                while (start < in.size() && IsTypeNameBlank(in[start])) {
                    ++start;
                }
                std::size_t stop = start;
                while (stop < in.size() && IsTypeNameWordChar(in[stop])) {
                    ++stop;
                }
                if (stop == start || !CountIntegerWord(in.substr(start, stop - start), isUnsigned,
                                                       isSigned, shorts, longs, chars, ints)) {
                    break;
                }
                next = stop;
            }
            beforeWord();
            PutIntegerWords(out, isUnsigned, isSigned, shorts, longs, chars, ints);
            i = next;
            continue;
        }
        beforeWord();
        PutText(out, word);
        i = end;
        if (word == "std" && in.substr(i).starts_with("::")) {
            PutText(out, "::");
            i += 2;
            for (std::string_view inlineNamespace : kInlineNamespaces) {
                if (in.substr(i).starts_with(inlineNamespace)) {
                    i += inlineNamespace.size();
                }
            }
            if (in.substr(i).starts_with(kString)) {
                PutText(out, "string");
                i += kString.size();
            }
        }
    }
}

// The readable name of T, NUL-terminated, in static storage of its exact
// size.
template <class T>
struct ReadableTypeName {
    static constexpr std::string_view kWritten = WrittenFormOfT(TypeNameSignature<T>());
    static constexpr std::size_t kSize = [] {
        TypeNameCounter counter;
        PutReadableTypeName(kWritten, counter);
        return counter.size;
    }();
    static constexpr TypeNameText<kSize + 1> kText = [] {
        TypeNameText<kSize + 1> text;
        PutReadableTypeName(kWritten, text);
        return text;
    }();
};

}  // namespace Tavo::detail
