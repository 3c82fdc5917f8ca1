// JSON numbers: integers kept exact while they fit 64 bits, everything else as floating point.
#pragma once

#include <cstdint>
#include <string>

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

/// A number as read: an unsigned or negative integer, or floating point for everything else
/// (a fraction, an exponent, -0, or an integer beyond 64 bits).
struct JsonNumber {
    enum class Kind { Unsigned, Negative, Float } kind = Kind::Unsigned;
    std::uint64_t unsigned_value = 0;
    std::int64_t negative_value = 0;
    double float_value = 0.0;

    /// Appends "integer `5`", "integer `-5`" or "floating point `1.5`".
    void append_description(std::string& out) const;
};

/// After an optional '-' was taken (`positive` false then): reads a number starting at a digit
/// into `number`. A magnitude too large for a double fails with "number out of range"; one too
/// small reads as zero.
[[nodiscard]] bool parse_number(JsonReader& reader, bool positive, JsonNumber& number);

/// Takes a number (after an optional '-'), checking only its grammar.
[[nodiscard]] bool skip_number(JsonReader& reader);

}  // namespace norvik_auth::webapp_data
