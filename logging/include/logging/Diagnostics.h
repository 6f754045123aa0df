#pragma once
// Diagnostics: assertion reports for broken invariants, fatal checks, UTC time
// stamps and the high-resolution clock.
//
// Each reported check carries a code "ALE-" plus eight characters that names
// the place in the code. Reports are logged at level Error with group DBG;
// a fatal check then ends the process at once:
//
//   TAVO_REPORT("ALE-8A14EBBK", "seconds %lld", (long long)seconds);  // continues
//   TAVO_FATAL("ALE-EECF0606", "host API %s", version.c_str());       // never returns
//
// Misuse of an interface by our own code (an end without a start) is checked
// with TAVO_ASSERT, which reports and continues by default; tests replace the
// handler (SetAssertionHandler) or define TAVO_ASSERT before including this.
// Its code is made from the place of the check (CheckCodeAt); the report
// carries it as the expression and the failed condition as the description.

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/Fnv1a.h"
#include "logging/Log.h"

namespace Tavo::Diagnostics {

// Check codes used across the system.
inline constexpr const char* kUtcConversionFailed = "ALE-8A14EBBK";  // report only
inline constexpr const char* kFutureError = "ALE-6D828C10";          // fatal
inline constexpr const char* kIncompatibleHostApi = "ALE-EECF0606";  // fatal

// Descriptions are cut to this many characters.
inline constexpr std::size_t kMaxDescription = 1023;

// A check code: "ALE-", eight characters, NUL.
struct CheckCode {
    char text[13];
};

// The code of the check at `line` of `file`: "ALE-" and the FNV-1a hash of
// "<file name>:<line>" in eight upper-case hex digits. Only the name after
// the last '/' or '\\' counts, so the code is the same whichever folder the
// source was built from. Usable in constant expressions. [any-thread]
constexpr CheckCode CheckCodeAt(const char* file, int line) {
    const char* name = file;
    for (const char* p = file; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            name = p + 1;
        }
    }
    char digits[12] = {};
    std::size_t start = sizeof digits;
    unsigned value = line < 0 ? 0u : static_cast<unsigned>(line);
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const std::uint32_t hash = Fnv1a32(std::string_view(digits + start, sizeof digits - start),
                                       Fnv1a32(":", Fnv1a32(name)));
    CheckCode code{{'A', 'L', 'E', '-'}};
    constexpr const char* kHex = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i) {
        code.text[4 + i] = kHex[(hash >> (28 - 4 * i)) & 0xFu];
    }
    code.text[12] = '\0';
    return code;
}

// The assertion report text: "Assertion failed!" and two line feeds, then
// each part that is given (non-null and non-empty; the line when not 0):
// "File: f\n", "Line: n\n\n", "Function: g\n\n", "Expression: e", and
// "\n\nDescription: d". [any-thread]
std::string AssertionReport(const char* expression, const char* file, int line,
                            const char* function, const char* description);

// Reports a failed check: formats the printf `description` (may be null; cut
// to 1023 characters), builds the report with `code` as the expression and
// logs it at level Error, group DBG, format "%s". Returns normally and never
// fails. [any-thread]
void Report(const char* code, const char* file, int line, const char* function,
            const char* description, ...) __attribute__((format(printf, 5, 6)));
void ReportV(const char* code, const char* file, int line, const char* function,
             const char* description, std::va_list arguments) __attribute__((format(printf, 5, 0)));

// Report with the description already formatted (null or empty: none).
// [any-thread]
void ReportText(const char* code, const char* file, int line, const char* function,
                const char* description);

// Reports like Report, then ends the process at once without unwinding
// (Platform::FailFast), so that every log target, the host's included, has
// the report first. [any-thread]
[[noreturn]] void FatalCheck(const char* code, const char* file, int line, const char* function,
                             const char* description, ...) __attribute__((format(printf, 5, 6)));

// What a failed TAVO_ASSERT calls, with the check's code and the failed
// condition's text. The default reports them (code as the expression,
// condition as the description) and returns; the code after the assertion
// must still leave a sound state. The texts are static.
using AssertionHandler = void (*)(const char* code, const char* expression, const char* file,
                                  int line, const char* function);
// Installs `handler` (null restores the default); returns the previous one.
// [any-thread]
AssertionHandler SetAssertionHandler(AssertionHandler handler);
// Calls the installed handler. [any-thread]
void AssertionFailed(const char* code, const char* expression, const char* file, int line,
                     const char* function);

// "%Y-%m-%dT%H:%M:%SZ" of `secondsSince1970` in UTC, e.g.
// "2026-12-05T09:18:16Z". When the instant cannot be converted, reports
// "ALE-8A14EBBK" and returns the empty text. [any-thread]
std::string FormatUtcTime(std::int64_t secondsSince1970);

// Ticks per second of the high-resolution counter, read once. [any-thread]
std::uint64_t CounterFrequency();
// Seconds since the counter was first read in this process (at load).
// [any-thread]
double ElapsedSeconds();
// The current local time, as a log record carries it. [any-thread]
LogTime LocalTimeFields();

}  // namespace Tavo::Diagnostics

// Reports a failed check with the calling place; printf description.
#define TAVO_REPORT(code, ...) \
    ::Tavo::Diagnostics::Report((code), __FILE__, __LINE__, __func__, __VA_ARGS__)
// Reports and ends the process; printf description.
#define TAVO_FATAL(code, ...) \
    ::Tavo::Diagnostics::FatalCheck((code), __FILE__, __LINE__, __func__, __VA_ARGS__)

// Checks an invariant of our own code; see SetAssertionHandler. The code is
// computed at compile time into static storage.
#ifndef TAVO_ASSERT
#define TAVO_ASSERT(condition)                                                          \
    ((condition) ? static_cast<void>(0)                                                 \
                 : ::Tavo::Diagnostics::AssertionFailed(                                \
                       [] {                                                             \
                           static constexpr ::Tavo::Diagnostics::CheckCode kCheckCode = \
                               ::Tavo::Diagnostics::CheckCodeAt(__FILE__, __LINE__);    \
                           return kCheckCode.text;                                      \
                       }(),                                                             \
                       #condition, __FILE__, __LINE__, __func__))
#endif
