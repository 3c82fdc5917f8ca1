// Reading an unsigned 64-bit integer from decimal text, with the failure kinds callers report.
#include "lib/decimal_u64.hpp"

#include <limits>

namespace norvik_auth::lib {

util::Outcome<std::uint64_t, ParseIntErrorKind> parse_decimal_u64(std::string_view text) {
    if (text.empty()) return ParseIntErrorKind::Empty;
    // One '+' is a sign; a lone sign has no digits, and '-' is never a sign for this type.
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty()) return ParseIntErrorKind::InvalidDigit;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return ParseIntErrorKind::InvalidDigit;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return ParseIntErrorKind::PosOverflow;
        value = value * 10 + digit;
    }
    return value;
}

std::string_view parse_int_error_text(ParseIntErrorKind kind) {
    switch (kind) {
        case ParseIntErrorKind::Empty: return "ParseIntError { kind: Empty }";
        case ParseIntErrorKind::InvalidDigit: return "ParseIntError { kind: InvalidDigit }";
        case ParseIntErrorKind::PosOverflow: return "ParseIntError { kind: PosOverflow }";
    }
    return "ParseIntError { kind: InvalidDigit }";
}

}  // namespace norvik_auth::lib
