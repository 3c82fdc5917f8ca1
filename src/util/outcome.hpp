// What an operation that can refuse its input hands back: its value, or why there is none.
// Failures travel as values, never thrown, so that refusing costs no more than accepting.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace norvik_auth::util {

/// Why an input was refused, in the words its caller will read: worded once, where the failure
/// was found.
struct Failure {
    std::string message;
};

/// A T, or why there is none: a Failure, unless the operation has a plainer answer (a kind of
/// error its caller words). Look before taking: value() and failure() need the matching state.
template <class T, class Why = Failure>
class [[nodiscard]] Outcome {
public:
    Outcome(T&& value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(const T& value) : state_(std::in_place_index<0>, value) {}
    Outcome(Why&& why) : state_(std::in_place_index<1>, std::move(why)) {}
    Outcome(const Why& why) : state_(std::in_place_index<1>, why) {}

    explicit operator bool() const noexcept { return state_.index() == 0; }

    T& value() & noexcept { return *std::get_if<0>(&state_); }
    const T& value() const& noexcept { return *std::get_if<0>(&state_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&state_)); }
    const Why& failure() const& noexcept { return *std::get_if<1>(&state_); }
    Why&& failure() && noexcept { return std::move(*std::get_if<1>(&state_)); }

private:
    // A variant stays trivially copyable when both sides are, and so travels in registers.
    std::variant<T, Why> state_;
};

/// Success with nothing to hand back, or why not.
template <class Why>
class [[nodiscard]] Outcome<void, Why> {
public:
    Outcome() = default;
    Outcome(Why&& why) : why_(std::move(why)) {}
    Outcome(const Why& why) : why_(why) {}

    explicit operator bool() const noexcept { return !why_.has_value(); }

    const Why& failure() const& noexcept { return *why_; }
    Why&& failure() && noexcept { return std::move(*why_); }

private:
    std::optional<Why> why_;
};

}  // namespace norvik_auth::util
