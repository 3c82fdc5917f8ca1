// Reading an unsigned 64-bit integer from decimal text, with the failure kinds callers report.
#pragma once

#include <cstdint>
#include <string_view>

#include "util/outcome.hpp"

namespace norvik_auth::lib {

/// Why a text is not an unsigned 64-bit decimal number.
enum class ParseIntErrorKind { Empty, InvalidDigit, PosOverflow };

/// Reads optional '+' then ASCII digits (leading zeros allowed): the value, or why the text is
/// none, which the first bad character decides.
util::Outcome<std::uint64_t, ParseIntErrorKind> parse_decimal_u64(std::string_view text);

/// The detail text of a failure, e.g. "ParseIntError { kind: Empty }".
std::string_view parse_int_error_text(ParseIntErrorKind kind);

}  // namespace norvik_auth::lib
