// Reading an unsigned 64-bit integer from decimal text, with the failure kinds callers report.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace norvik_auth::lib {

/// Why a text is not an unsigned 64-bit decimal number.
enum class ParseIntErrorKind { Empty, InvalidDigit, PosOverflow };

/// The value, or the reason the text was refused.
struct DecimalU64 {
    std::uint64_t value = 0;
    std::optional<ParseIntErrorKind> error;
};

/// Reads optional '+' then ASCII digits (leading zeros allowed); the first bad character decides.
DecimalU64 parse_decimal_u64(std::string_view text);

/// The detail text of a failure, e.g. "ParseIntError { kind: Empty }".
std::string_view parse_int_error_text(ParseIntErrorKind kind);

}  // namespace norvik_auth::lib
