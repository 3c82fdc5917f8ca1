// JSON numbers: integers kept exact while they fit 64 bits, everything else as floating point.
#include "webapp_data/json_number.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <string_view>
#include <system_error>

namespace norvik_auth::webapp_data {
namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

/// Takes a run of digits and returns it.
std::string_view take_digits(JsonReader& reader) {
    const std::string_view rest = reader.rest();
    std::size_t count = 0;
    while (count < rest.size() && is_digit(static_cast<unsigned char>(rest[count]))) ++count;
    reader.advance(count);
    return rest.substr(0, count);
}

// A number cut off by the end of the text after its sign, point or exponent marker fails with
// `cut_off`: the end of a value being decoded, or, in a value only skipped, an invalid number, as
// a number missing its digits anywhere else. The position is the end of the text either way.

/// The integer part: one '0', or a digit 1-9 and more digits. The first digit is not taken yet.
bool take_integer_part(JsonReader& reader, Syntax cut_off, std::string_view& part) {
    const std::string_view rest = reader.rest();
    const int first = reader.next();
    if (first == JsonReader::kEnd) return reader.error(cut_off);
    if (!is_digit(first)) return reader.error(Syntax::InvalidNumber);
    if (first == '0') {
        // Only one leading zero.
        if (is_digit(reader.peek())) return reader.peek_error(Syntax::InvalidNumber);
        part = rest.substr(0, 1);
        return true;
    }
    part = rest.substr(0, 1 + take_digits(reader).size());
    return true;
}

/// After '.' was seen (not taken): the fraction's digits, at least one.
bool take_fraction(JsonReader& reader, Syntax cut_off, std::string_view& digits) {
    reader.eat();
    digits = take_digits(reader);
    if (digits.empty()) {
        return reader.peek_error(reader.peek() == JsonReader::kEnd ? cut_off
                                                                   : Syntax::InvalidNumber);
    }
    return true;
}

/// An exponent as taken: its sign and value, unless its digits exceeded 32 bits.
struct Exponent {
    bool negative = false;
    std::int32_t value = 0;
    bool overflowed = false;
};

/// After 'e' or 'E' was seen (not taken): the optional sign and at least one digit. Stops just
/// past the digit that makes the value exceed 32 bits, if one does.
bool take_exponent(JsonReader& reader, Syntax cut_off, Exponent& exponent) {
    reader.eat();
    const int sign = reader.peek();
    if (sign == '+' || sign == '-') {
        reader.eat();
        exponent.negative = sign == '-';
    }
    const int first = reader.next();
    if (first == JsonReader::kEnd) return reader.error(cut_off);
    if (!is_digit(first)) return reader.error(Syntax::InvalidNumber);
    std::int64_t value = first - '0';
    while (is_digit(reader.peek())) {
        value = value * 10 + (reader.next() - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) {
            exponent.overflowed = true;
            return true;
        }
    }
    exponent.value = static_cast<std::int32_t>(value);
    return true;
}

/// The value of the digits if it fits 64 bits.
bool to_u64(std::string_view digits, std::uint64_t& value) {
    return std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc{};
}

bool all_zero(std::string_view digits) {
    return digits.find_first_not_of('0') == std::string_view::npos;
}

/// For a nonzero value that a double cannot hold: whether it is too large, rather than below
/// the smallest subnormal; std::from_chars reports both alike. Such values are far from 1.
bool too_large(std::string_view integer, std::string_view fraction, const Exponent& exponent) {
    // The power of ten just above the first nonzero digit, before the exponent.
    const std::int64_t scale =
        !all_zero(integer)
            ? static_cast<std::int64_t>(integer.size() - integer.find_first_not_of('0'))
            : -static_cast<std::int64_t>(fraction.find_first_not_of('0'));
    return scale + (exponent.negative ? -exponent.value : exponent.value) > 0;
}

/// The shortest digits that read back as the same double, written out without an exponent
/// and always with a decimal point: 1e21 is "1000000000000000000000.0", 1.5e-7 "0.00000015".
std::string plain_decimal(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    const auto length = static_cast<std::size_t>(result.ptr - buffer.data());
    const std::string_view text(buffer.data(), length);
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

JsonNumber floating(double value) {
    JsonNumber number{JsonNumber::Kind::Float};
    number.float_value = value;
    return number;
}

}  // namespace

void JsonNumber::append_description(std::string& out) const {
    switch (kind) {
        case Kind::Unsigned:
            out += "integer `";
            out += std::to_string(unsigned_value);
            break;
        case Kind::Negative:
            out += "integer `";
            out += std::to_string(negative_value);
            break;
        case Kind::Float:
            out += "floating point `";
            out += plain_decimal(float_value);
            break;
    }
    out += '`';
}

bool parse_number(JsonReader& reader, bool positive, JsonNumber& number) {
    const char* const token = reader.rest().data() - (positive ? 0 : 1);
    constexpr Syntax kCutOff = Syntax::EofWhileParsingValue;
    std::string_view integer;
    if (!take_integer_part(reader, kCutOff, integer)) return false;
    std::string_view fraction;
    if (reader.peek() == '.' && !take_fraction(reader, kCutOff, fraction)) return false;
    Exponent exponent;
    const bool has_exponent = reader.peek() == 'e' || reader.peek() == 'E';
    if (has_exponent && !take_exponent(reader, kCutOff, exponent)) return false;
    if (exponent.overflowed) {
        // Such an exponent fails where it got there when it would make a nonzero value larger;
        // otherwise the value is zero.
        if (!exponent.negative && !(all_zero(integer) && all_zero(fraction))) {
            return reader.error(Syntax::NumberOutOfRange);
        }
        take_digits(reader);
        number = floating(positive ? 0.0 : -0.0);
        return true;
    }

    std::uint64_t magnitude = 0;
    if (fraction.empty() && !has_exponent && to_u64(integer, magnitude)) {
        if (positive) {
            number = JsonNumber{JsonNumber::Kind::Unsigned};
            number.unsigned_value = magnitude;
            return true;
        }
        // Negation that does not fit (and -0) reads as floating point.
        const auto negated = static_cast<std::int64_t>(0 - magnitude);
        if (negated >= 0) {
            number = floating(-static_cast<double>(magnitude));
            return true;
        }
        number = JsonNumber{JsonNumber::Kind::Negative};
        number.negative_value = negated;
        return true;
    }

    // Correctly rounded; JSON's number grammar is a subset of what from_chars reads.
    double value = 0.0;
    const auto result = std::from_chars(token, reader.rest().data(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (too_large(integer, fraction, exponent)) return reader.error(Syntax::NumberOutOfRange);
        value = positive ? 0.0 : -0.0;
    }
    number = floating(value);
    return true;
}

bool skip_number(JsonReader& reader) {
    constexpr Syntax kCutOff = Syntax::InvalidNumber;
    std::string_view part;
    if (!take_integer_part(reader, kCutOff, part)) return false;
    if (reader.peek() == '.' && !take_fraction(reader, kCutOff, part)) return false;
    if (reader.peek() == 'e' || reader.peek() == 'E') {
        Exponent exponent;
        if (!take_exponent(reader, kCutOff, exponent)) return false;
        take_digits(reader);  // whatever digits an overflowing exponent left
    }
    return true;
}

}  // namespace norvik_auth::webapp_data
