#pragma once
// Errors as values: `Failure` and `MaybeType`, used by every layer above.

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace Tavo {

// An error value: a signed 32-bit code and a message. The message is either an
// owned text or a literal text pointer, which may be null ("no message").
// Failures made inside the plugin have code 0; request failures carry 400 or
// the host's status code.
class Failure {
public:
    Failure() = default;
    Failure(std::int32_t code, std::string message)
        : code_(code), owned_(std::move(message)), hasOwned_(true) {}

    // A failure whose message is a literal (static storage) text, possibly null.
    static Failure Literal(std::int32_t code, const char* literal) {
        Failure f;
        f.code_ = code;
        f.literal_ = literal;
        return f;
    }

    std::int32_t Code() const { return code_; }
    // The message text; null only for a literal failure made without text.
    const char* Message() const { return hasOwned_ ? owned_.c_str() : literal_; }
    bool HasMessage() const { return Message() != nullptr; }

private:
    std::int32_t code_ = 0;
    std::string owned_;
    const char* literal_ = nullptr;
    bool hasOwned_ = false;
};

// Either a value of T or an error of E (always `Failure` in this system).
// `MaybeType<E, void>` is plain success or an error.
template <class E, class T>
class [[nodiscard]] MaybeType {
public:
    MaybeType(T value) : state_(std::in_place_index<1>, std::move(value)) {}
    MaybeType(E error) : state_(std::in_place_index<0>, std::move(error)) {}

    bool HasValue() const { return state_.index() == 1; }
    bool IsFailure() const { return state_.index() == 0; }
    explicit operator bool() const { return HasValue(); }

    // Preconditions: HasValue() for Value(), IsFailure() for Error().
    T& Value() & { return std::get<1>(state_); }
    const T& Value() const& { return std::get<1>(state_); }
    T&& Value() && { return std::get<1>(std::move(state_)); }
    const E& Error() const { return std::get<0>(state_); }

private:
    std::variant<E, T> state_;
};

template <class E>
class [[nodiscard]] MaybeType<E, void> {
public:
    MaybeType() = default;
    MaybeType(E error) : error_(std::move(error)), failed_(true) {}

    static MaybeType Success() { return MaybeType(); }

    bool HasValue() const { return !failed_; }
    bool IsFailure() const { return failed_; }
    explicit operator bool() const { return !failed_; }
    const E& Error() const { return error_; }

private:
    E error_{};
    bool failed_ = false;
};

template <class T>
using Maybe = MaybeType<Failure, T>;

}  // namespace Tavo
