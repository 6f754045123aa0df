// Assertion reports, fatal checks, UTC time stamps and the clocks.

#include "logging/Diagnostics.h"

#include <atomic>
#include <cstdio>

#include "EventTracing.h"
#include "platform/Platform.h"

namespace Tavo::Diagnostics {
namespace {

bool Given(const char* text) {
    return text != nullptr && text[0] != '\0';
}

void DefaultAssertionHandler(const char* code, const char* expression, const char* file, int line,
                             const char* function) {
    ReportText(code, file, line, function, expression);
}

std::atomic<AssertionHandler> g_assertionHandler{&DefaultAssertionHandler};

std::uint64_t FirstCounterReading() {
    static const std::uint64_t first = Platform::HighResolutionCounter();
    return first;
}

// Start the clock when the library is loaded, so "#H" counts from there, then
// announce the library to the system's event tracing.
[[maybe_unused]] const bool g_clockStarted =
    (CounterFrequency(), FirstCounterReading(), StartEventTracing(), true);

}  // namespace

std::string AssertionReport(const char* expression, const char* file, int line,
                            const char* function, const char* description) {
    std::string report = "Assertion failed!\n\n";
    if (Given(file)) {
        report.append("File: ").append(file).append("\n");
    }
    if (line != 0) {
        report.append("Line: ").append(std::to_string(line)).append("\n\n");
    }
    if (Given(function)) {
        report.append("Function: ").append(function).append("\n\n");
    }
    if (Given(expression)) {
        report.append("Expression: ").append(expression);
    }
    if (Given(description)) {
        report.append("\n\nDescription: ").append(description);
    }
    return report;
}

void ReportText(const char* code, const char* file, int line, const char* function,
                const char* description) {
    try {
        const std::string report = AssertionReport(code, file, line, function, description);
        Log(LogLevel::Error, LogGroup::DBG, "%s", report.c_str());
    } catch (...) {
        // Out of memory for the text: the code alone still says where.
        Log(LogLevel::Error, LogGroup::DBG, "Assertion failed!\n\nExpression: %s",
            code != nullptr ? code : "");
    }
}

void ReportV(const char* code, const char* file, int line, const char* function,
             const char* description, std::va_list arguments) {
    char text[kMaxDescription + 1];
    text[0] = '\0';
    if (description != nullptr && std::vsnprintf(text, sizeof text, description, arguments) < 0) {
        text[0] = '\0';
    }
    ReportText(code, file, line, function, text);
}

void Report(const char* code, const char* file, int line, const char* function,
            const char* description, ...) {
    std::va_list arguments;
    va_start(arguments, description);
    ReportV(code, file, line, function, description, arguments);
    va_end(arguments);
}

void FatalCheck(const char* code, const char* file, int line, const char* function,
                const char* description, ...) {
    std::va_list arguments;
    va_start(arguments, description);
    ReportV(code, file, line, function, description, arguments);
    va_end(arguments);
    std::fflush(nullptr);  // buffered console lines before the report's end
    Platform::FailFast();
}

AssertionHandler SetAssertionHandler(AssertionHandler handler) {
    return g_assertionHandler.exchange(handler != nullptr ? handler : &DefaultAssertionHandler);
}

void AssertionFailed(const char* code, const char* expression, const char* file, int line,
                     const char* function) {
    g_assertionHandler.load()(code, expression, file, line, function);
}

std::string FormatUtcTime(std::int64_t secondsSince1970) {
    Platform::CalendarTime utc;
    if (!Platform::UtcFromSeconds(secondsSince1970, utc)) {
        ReportText(kUtcConversionFailed, nullptr, 0, nullptr, nullptr);
        return std::string();
    }
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.year,
                                     utc.month, utc.day, utc.hour, utc.minute, utc.second);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

std::uint64_t CounterFrequency() {
    static const std::uint64_t frequency = Platform::HighResolutionFrequency();
    return frequency;
}

double ElapsedSeconds() {
    static const double secondsPerTick = 1.0 / static_cast<double>(CounterFrequency());
    const std::uint64_t first = FirstCounterReading();
    return static_cast<double>(Platform::HighResolutionCounter() - first) * secondsPerTick;
}

LogTime LocalTimeFields() {
    const Platform::CalendarTime now = Platform::LocalTimeNow();
    return LogTime{now.year, now.month, now.day, now.hour, now.minute, now.second, now.millisecond};
}

}  // namespace Tavo::Diagnostics
