// A byte cursor over one JSON text: whitespace, literals, strings, numbers, skipping values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "webapp_data/json_error.hpp"

namespace norvik_auth::webapp_data {

/// A number as read: an unsigned or negative integer, or floating point for everything else.
struct JsonNumber {
    enum class Kind { Unsigned, Negative, Float } kind;
    std::uint64_t unsigned_value = 0;
    std::int64_t negative_value = 0;
    double float_value = 0.0;

    /// "integer `5`", "integer `-5`" or "floating point `1.5`".
    std::string description() const;

private:
    static std::string plain_decimal(double value);
};

/// Reads a complete in-memory text. Errors carry the position of one of two rules: `error`
/// points just past the last byte taken, `peek_error` one byte further (capped at the end),
/// as for a failure found by looking at a byte without taking it.
class JsonReader {
public:
    static constexpr int kEnd = -1;

    explicit JsonReader(std::string_view text) : text_(text) {}

    std::size_t index() const { return index_; }
    /// The next byte without taking it, or kEnd.
    int peek() const {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEnd;
    }
    /// Takes the byte that peek() returned; only call when it was not kEnd.
    void eat() { ++index_; }
    /// Skips JSON whitespace (space, tab, line feed, carriage return) and peeks.
    int skip_whitespace();

    JsonError error(Syntax syntax) const { return error_at(index_, message(syntax)); }
    JsonError peek_error(Syntax syntax) const { return peek_error(message(syntax)); }
    JsonError peek_error(std::string_view text) const;

    /// After `n` has been taken: the rest of `null`, `true` or `false`.
    void expect_ident(std::string_view rest);
    /// After the opening quote has been taken: the unescaped string into `out` (replaced).
    void parse_string(std::string& out);
    /// As parse_string, but a string without escapes is returned as a view of the text itself;
    /// otherwise it is unescaped into `scratch`, which the view then shows.
    std::string_view parse_string_view(std::string& scratch);
    /// After an optional '-' has been taken: a number starting at a digit (or failing).
    JsonNumber parse_number(bool positive);
    /// Skips one value of any type and depth with a bracket stack of its own, checking syntax.
    void skip_value();

private:
    JsonError error_at(std::size_t offset, std::string_view text) const;
    int next_or_end() {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_++]) : kEnd;
    }
    int peek_or_nul() const { return index_ < text_.size() ? peek() : 0; }

    // Strings (json_reader.cpp)
    void append_string(std::string& out);
    void parse_escape(std::string& out);
    void parse_unicode_escape(std::string& out);
    std::uint16_t decode_hex_escape();
    void skip_string();
    void skip_escape();

    // Numbers (json_number.cpp)
    double parse_long_integer(bool positive, std::uint64_t significand);
    double parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent);
    double parse_decimal_overflow(bool positive, std::uint64_t significand,
                                  std::int32_t exponent);
    double parse_exponent(bool positive, std::uint64_t significand, std::int32_t exponent);
    double parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exp);
    double float_from_parts(bool positive, std::uint64_t significand, std::int32_t exponent);
    void skip_number();
    void skip_decimal();
    void skip_exponent();

    std::string_view text_;
    std::size_t index_ = 0;
};

}  // namespace norvik_auth::webapp_data
