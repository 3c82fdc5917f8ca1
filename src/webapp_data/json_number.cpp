// Numbers: integers kept exact while they fit 64 bits, everything else as floating point.
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Whether value * 10 + digit would exceed limit.
template <class T>
bool would_overflow(T value, T digit, T limit) {
    return value >= limit / 10 && (value > limit / 10 || digit > limit % 10);
}

// Exponent arithmetic wraps like 32-bit machine integers; only absurdly long inputs get there.
std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t saturating_add(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    if (sum > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

// 1e0 .. 1e308, each the correctly rounded double of its literal.
const std::array<double, 309>& powers_of_ten() {
    static const std::array<double, 309> table = [] {
        std::array<double, 309> t{};
        for (int i = 0; i < 309; ++i) {
            const std::string literal = "1e" + std::to_string(i);
            std::from_chars(literal.data(), literal.data() + literal.size(), t[i]);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string JsonNumber::description() const {
    switch (kind) {
        case Kind::Unsigned: return "integer `" + std::to_string(unsigned_value) + "`";
        case Kind::Negative: return "integer `" + std::to_string(negative_value) + "`";
        case Kind::Float: break;
    }
    return "floating point `" + plain_decimal(float_value) + "`";
}

// The shortest digits that read back as the same double, written out without an exponent
// and always with a decimal point: 1e21 is "1000000000000000000000.0", 1.5e-7 "0.00000015".
std::string JsonNumber::plain_decimal(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t e = text.find('e');
    std::string_view mantissa = text.substr(0, e);
    std::string out;
    if (!mantissa.empty() && mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    // The decimal point goes after `point` digits.
    const long point = static_cast<long>(exponent) + 1;
    const long count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point < count) {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    } else {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
        out += ".0";
    }
    return out;
}

JsonNumber JsonReader::parse_number(bool positive) {
    const int first = next_or_end();
    if (first == kEnd) throw error(Syntax::EofWhileParsingValue);
    if (!is_digit(first)) throw error(Syntax::InvalidNumber);

    std::uint64_t significand = static_cast<std::uint64_t>(first - '0');
    if (first == '0') {
        // Only one leading zero.
        if (is_digit(peek_or_nul())) throw peek_error(Syntax::InvalidNumber);
    } else {
        while (is_digit(peek_or_nul())) {
            const auto digit = static_cast<std::uint64_t>(peek() - '0');
            if (would_overflow(significand, digit, kU64Max)) {
                JsonNumber n{JsonNumber::Kind::Float};
                n.float_value = parse_long_integer(positive, significand);
                return n;
            }
            eat();
            significand = significand * 10 + digit;
        }
    }

    const int c = peek_or_nul();
    if (c == '.' || c == 'e' || c == 'E') {
        JsonNumber n{JsonNumber::Kind::Float};
        n.float_value = c == '.' ? parse_decimal(positive, significand, 0)
                                 : parse_exponent(positive, significand, 0);
        return n;
    }
    if (positive) {
        JsonNumber n{JsonNumber::Kind::Unsigned};
        n.unsigned_value = significand;
        return n;
    }
    // Negation that does not fit (and -0) reads as floating point.
    const auto negated = static_cast<std::int64_t>(0 - significand);
    if (negated >= 0) {
        JsonNumber n{JsonNumber::Kind::Float};
        n.float_value = -static_cast<double>(significand);
        return n;
    }
    JsonNumber n{JsonNumber::Kind::Negative};
    n.negative_value = negated;
    return n;
}

// Digits beyond 64 bits only scale the value.
double JsonReader::parse_long_integer(bool positive, std::uint64_t significand) {
    std::int32_t exponent = 0;
    for (;;) {
        const int c = peek_or_nul();
        if (is_digit(c)) {
            eat();
            exponent = wrapping_add(exponent, 1);
        } else if (c == '.') {
            return parse_decimal(positive, significand, exponent);
        } else if (c == 'e' || c == 'E') {
            return parse_exponent(positive, significand, exponent);
        } else {
            return float_from_parts(positive, significand, exponent);
        }
    }
}

double JsonReader::parse_decimal(bool positive, std::uint64_t significand,
                                 std::int32_t exponent_before_point) {
    eat();  // '.'
    std::int32_t exponent_after_point = 0;
    while (is_digit(peek_or_nul())) {
        const auto digit = static_cast<std::uint64_t>(peek() - '0');
        if (would_overflow(significand, digit, kU64Max)) {
            return parse_decimal_overflow(positive, significand,
                                          wrapping_add(exponent_before_point, exponent_after_point));
        }
        eat();
        significand = significand * 10 + digit;
        exponent_after_point = wrapping_add(exponent_after_point, -1);
    }
    if (exponent_after_point == 0) {
        throw peek_error(peek() == kEnd ? Syntax::EofWhileParsingValue : Syntax::InvalidNumber);
    }
    const std::int32_t exponent = wrapping_add(exponent_before_point, exponent_after_point);
    const int c = peek_or_nul();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent);
    return float_from_parts(positive, significand, exponent);
}

double JsonReader::parse_decimal_overflow(bool positive, std::uint64_t significand,
                                          std::int32_t exponent) {
    while (is_digit(peek_or_nul())) eat();
    const int c = peek_or_nul();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent);
    return float_from_parts(positive, significand, exponent);
}

double JsonReader::parse_exponent(bool positive, std::uint64_t significand,
                                  std::int32_t starting_exponent) {
    eat();  // 'e' or 'E'
    bool positive_exp = true;
    if (peek_or_nul() == '+') {
        eat();
    } else if (peek_or_nul() == '-') {
        eat();
        positive_exp = false;
    }
    const int first = next_or_end();
    if (first == kEnd) throw error(Syntax::EofWhileParsingValue);
    if (!is_digit(first)) throw error(Syntax::InvalidNumber);

    std::int32_t exp = first - '0';
    while (is_digit(peek_or_nul())) {
        const std::int32_t digit = peek() - '0';
        eat();
        if (would_overflow(exp, digit, std::numeric_limits<std::int32_t>::max())) {
            return parse_exponent_overflow(positive, significand == 0, positive_exp);
        }
        exp = exp * 10 + digit;
    }
    const std::int32_t final_exponent =
        positive_exp ? saturating_add(starting_exponent, exp) : saturating_add(starting_exponent, -exp);
    return float_from_parts(positive, significand, final_exponent);
}

// An exponent too large for 32 bits: zero for negative exponents or a zero significand,
// otherwise out of range rather than infinity.
double JsonReader::parse_exponent_overflow(bool positive, bool zero_significand,
                                           bool positive_exp) {
    if (!zero_significand && positive_exp) throw error(Syntax::NumberOutOfRange);
    while (is_digit(peek_or_nul())) eat();
    return positive ? 0.0 : -0.0;
}

double JsonReader::float_from_parts(bool positive, std::uint64_t significand,
                                    std::int32_t exponent) {
    const auto& powers = powers_of_ten();
    double f = static_cast<double>(significand);
    for (;;) {
        const std::uint32_t magnitude = exponent < 0 ? 0u - static_cast<std::uint32_t>(exponent)
                                                     : static_cast<std::uint32_t>(exponent);
        if (magnitude < powers.size()) {
            if (exponent >= 0) {
                f *= powers[magnitude];
                if (std::isinf(f)) throw error(Syntax::NumberOutOfRange);
            } else {
                f /= powers[magnitude];
            }
            break;
        }
        if (f == 0.0) break;
        if (exponent >= 0) throw error(Syntax::NumberOutOfRange);
        f /= 1e308;
        exponent += 308;
    }
    return positive ? f : -f;
}

void JsonReader::skip_number() {
    const int first = next_or_end();
    if (first == '0') {
        if (is_digit(peek_or_nul())) throw peek_error(Syntax::InvalidNumber);
    } else if (is_digit(first)) {
        while (is_digit(peek_or_nul())) eat();
    } else {
        throw error(Syntax::InvalidNumber);
    }
    const int c = peek_or_nul();
    if (c == '.') {
        skip_decimal();
    } else if (c == 'e' || c == 'E') {
        skip_exponent();
    }
}

void JsonReader::skip_decimal() {
    eat();  // '.'
    bool any_digit = false;
    while (is_digit(peek_or_nul())) {
        eat();
        any_digit = true;
    }
    if (!any_digit) throw peek_error(Syntax::InvalidNumber);
    const int c = peek_or_nul();
    if (c == 'e' || c == 'E') skip_exponent();
}

void JsonReader::skip_exponent() {
    eat();  // 'e' or 'E'
    const int sign = peek_or_nul();
    if (sign == '+' || sign == '-') eat();
    if (!is_digit(next_or_end())) throw error(Syntax::InvalidNumber);
    while (is_digit(peek_or_nul())) eat();
}

}  // namespace norvik_auth::webapp_data
