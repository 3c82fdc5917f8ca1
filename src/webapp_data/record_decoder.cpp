// The object and array forms of a record, and the decoding of its member values.
#include "webapp_data/record_decoder.hpp"

#include <limits>

#include "util/byte_scan.hpp"
#include "webapp_data/json_error.hpp"
#include "webapp_data/json_number.hpp"
#include "webapp_data/json_reader.hpp"
#include "webapp_data/json_skip.hpp"
#include "webapp_data/json_string.hpp"
#include "webapp_data/text_form.hpp"

namespace norvik_auth::webapp_data {

namespace {

// A member or element sequence either decodes, fails on its syntax or a value (the reader
// holding why), or breaks a rule of the record (a missing or repeated member, a short array),
// whose position is only known once the enclosing bracket has been looked at.
enum class Members { Decoded, Refused, BrokeRule };

/// A syntax failure of a member sequence, positioned one past the byte looked at.
Members refuse(JsonReader& reader, Syntax syntax) {
    (void)reader.peek_error(syntax);
    return Members::Refused;
}

/// Whether a value can start with `c`.
bool starts_value(int c) {
    return c == 'n' || c == 't' || c == 'f' || c == '-' || c == '"' || c == '[' || c == '{' ||
           (c >= '0' && c <= '9');
}

// The found value, taken whole when it is a scalar, described for an invalid-type failure;
// positioned just past it. The expectation is `expected` followed by `expected_name` (a
// record's "struct " and name). Always false: the reader holds the failure.
[[gnu::cold]] bool invalid_type(JsonReader& reader, std::string_view expected,
                                std::string_view expected_name = {}) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingValue);
    if (!starts_value(c)) return reader.peek_error(Syntax::ExpectedSomeValue);
    std::string message;
    message.reserve(64);
    message.append("invalid type: ", 14);
    std::string scratch;
    std::string_view text;
    JsonNumber number;
    switch (c) {
        case 'n':
            reader.eat();
            if (!expect_ident(reader, "ull")) return false;
            message += "null";
            break;
        case 't':
            reader.eat();
            if (!expect_ident(reader, "rue")) return false;
            message += "boolean `true`";
            break;
        case 'f':
            reader.eat();
            if (!expect_ident(reader, "alse")) return false;
            message += "boolean `false`";
            break;
        case '-':
            reader.eat();
            if (!parse_number(reader, false, number)) return false;
            number.append_description(message);
            break;
        case '"':
            reader.eat();
            if (!parse_string(reader, scratch, text)) return false;
            message += "string ";
            append_quoted(message, text);
            break;
        case '[': message += "sequence"; break;
        case '{': message += "map"; break;
        default:
            if (!parse_number(reader, true, number)) return false;
            number.append_description(message);
            break;
    }
    message.append(", expected ", 11).append(expected).append(expected_name);
    return reader.peek_error(std::move(message));
}

/// A number read whole that an i64 field refuses: `problem` is "invalid type: " or
/// "invalid value: ". Always false.
[[gnu::cold]] bool refuse_number(JsonReader& reader, std::string_view problem,
                                 const JsonNumber& number) {
    std::string message;
    message.reserve(64);
    message.append(problem);
    number.append_description(message);
    message.append(", expected i64", 14);
    return reader.peek_error(std::move(message));
}

bool decode_i64(JsonReader& reader, std::int64_t& out) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingValue);
    JsonNumber number;
    if (c == '-') {
        reader.eat();
        if (!parse_number(reader, false, number)) return false;
    } else if (c >= '0' && c <= '9') {
        if (!parse_number(reader, true, number)) return false;
    } else {
        return invalid_type(reader, "i64");
    }
    switch (number.kind) {
        case JsonNumber::Kind::Negative: out = number.negative_value; return true;
        case JsonNumber::Kind::Unsigned:
            if (number.unsigned_value <= std::numeric_limits<std::int64_t>::max()) {
                out = static_cast<std::int64_t>(number.unsigned_value);
                return true;
            }
            return refuse_number(reader, "invalid value: ", number);
        case JsonNumber::Kind::Float: break;
    }
    return refuse_number(reader, "invalid type: ", number);
}

bool decode_text(JsonReader& reader, TextArena& texts, std::string_view& out) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingValue);
    if (c != '"') return invalid_type(reader, "a string");
    reader.eat();
    std::string scratch;  // only used, and allocated, when the string has escapes
    std::string_view text;
    if (!parse_string(reader, scratch, text)) return false;
    // A string without escapes views the JSON text; an unescaped one, in `scratch`, is copied.
    out = text.data() == scratch.data() ? texts.copy(text) : text;
    return true;
}

// `null` makes an optional empty; anything else is decoded as the value itself.
bool next_is_null(JsonReader& reader) { return reader.skip_whitespace() == 'n'; }

bool take_null(JsonReader& reader) {
    reader.eat();
    return expect_ident(reader, "ull");
}

bool decode_bool(JsonReader& reader, bool& out) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingValue);
    if (c == 't') {
        reader.eat();
        out = true;
        return expect_ident(reader, "rue");
    }
    if (c == 'f') {
        reader.eat();
        out = false;
        return expect_ident(reader, "alse");
    }
    return invalid_type(reader, "a boolean");
}

Members decode_object(JsonReader& reader, std::span<const FieldDecoder> fields, void* record,
                      TextArena& texts, std::string& broken_rule) {
    std::uint32_t seen = 0;  // bit i: member i has occurred
    std::size_t next = 0;    // where the search for the next member's name starts
    std::string scratch;  // holds member names that contain escapes
    bool first = true;
    for (;;) {
        int c = reader.skip_whitespace();
        if (c == JsonReader::kEnd) return refuse(reader, Syntax::EofWhileParsingObject);
        if (c == '}') break;
        if (first) {
            first = false;
            if (c != '"') return refuse(reader, Syntax::KeyMustBeAString);
        } else if (c == ',') {
            reader.eat();
            c = reader.skip_whitespace();
            if (c == '}') return refuse(reader, Syntax::TrailingComma);
            if (c == JsonReader::kEnd) return refuse(reader, Syntax::EofWhileParsingValue);
            if (c != '"') return refuse(reader, Syntax::KeyMustBeAString);
        } else {
            return refuse(reader, Syntax::ExpectedObjectCommaOrEnd);
        }
        reader.eat();
        std::string_view key;
        if (!parse_string(reader, scratch, key)) return Members::Refused;

        // Members usually come in declaration order, so the search starts after the last hit.
        std::size_t index = fields.size();
        std::size_t candidate = next;
        for (std::size_t tried = 0; tried < fields.size(); ++tried, ++candidate) {
            if (candidate == fields.size()) candidate = 0;
            if (util::same_bytes(fields[candidate].name, key)) {
                index = candidate;
                next = candidate + 1;
                break;
            }
        }
        const bool known = index < fields.size();
        if (known && (seen >> index & 1u)) {
            broken_rule = "duplicate field `";
            broken_rule += fields[index].name;
            broken_rule += '`';
            return Members::BrokeRule;
        }

        const int colon = reader.skip_whitespace();
        if (colon == JsonReader::kEnd) return refuse(reader, Syntax::EofWhileParsingObject);
        if (colon != ':') return refuse(reader, Syntax::ExpectedColon);
        reader.eat();

        if (known) {
            if (!fields[index].decode(reader, record, texts)) return Members::Refused;
            seen |= 1u << index;
        } else if (!skip_value(reader)) {
            return Members::Refused;
        }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!(seen >> i & 1u) && fields[i].required) {
            broken_rule = "missing field `";
            broken_rule += fields[i].name;
            broken_rule += '`';
            return Members::BrokeRule;
        }
    }
    return Members::Decoded;
}

Members decode_array(JsonReader& reader, std::string_view record_name,
                     std::span<const FieldDecoder> fields, void* record, TextArena& texts,
                     std::string& broken_rule) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        int c = reader.skip_whitespace();
        if (c == JsonReader::kEnd) return refuse(reader, Syntax::EofWhileParsingList);
        if (c == ']') {
            broken_rule = "invalid length " + std::to_string(i) + ", expected struct ";
            broken_rule += record_name;
            broken_rule += " with " + std::to_string(fields.size()) + " elements";
            return Members::BrokeRule;
        }
        if (i > 0) {
            if (c != ',') return refuse(reader, Syntax::ExpectedListCommaOrEnd);
            reader.eat();
            c = reader.skip_whitespace();
            if (c == ']') return refuse(reader, Syntax::TrailingComma);
            if (c == JsonReader::kEnd) return refuse(reader, Syntax::EofWhileParsingValue);
        }
        if (!fields[i].decode(reader, record, texts)) return Members::Refused;
    }
    return Members::Decoded;
}

// The closing bracket is looked at even when the record's own rules failed, and a record-rule
// failure is positioned only after that look; then nothing found here is a failure of its own.
bool close_array(JsonReader& reader, bool record_failed) {
    const int c = reader.skip_whitespace();
    if (c == ']') {
        reader.eat();
        return true;
    }
    if (c == ',') {
        reader.eat();
        const int after = reader.skip_whitespace();
        if (record_failed) return true;
        return reader.peek_error(after == ']' ? Syntax::TrailingComma
                                              : Syntax::TrailingCharacters);
    }
    if (record_failed) return true;
    return reader.peek_error(c == JsonReader::kEnd ? Syntax::EofWhileParsingList
                                                   : Syntax::TrailingCharacters);
}

bool close_object(JsonReader& reader, bool record_failed) {
    const int c = reader.skip_whitespace();
    if (c == '}') {
        reader.eat();
        return true;
    }
    if (record_failed) return true;
    return reader.peek_error(c == ','                  ? Syntax::TrailingComma
                             : c == JsonReader::kEnd ? Syntax::EofWhileParsingObject
                                                     : Syntax::TrailingCharacters);
}

bool decode_record(JsonReader& reader, std::string_view record_name,
                   std::span<const FieldDecoder> fields, void* record, TextArena& texts) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingValue);
    if (c != '[' && c != '{') return invalid_type(reader, "struct ", record_name);

    reader.eat();
    const bool is_array = c == '[';
    std::string broken_rule;  // worded only when a rule is broken
    const Members members =
        is_array ? decode_array(reader, record_name, fields, record, texts, broken_rule)
                 : decode_object(reader, fields, record, texts, broken_rule);
    if (members == Members::Refused) return false;
    const bool broke_rule = members == Members::BrokeRule;
    if (!(is_array ? close_array(reader, broke_rule) : close_object(reader, broke_rule))) {
        return false;
    }
    if (broke_rule) return reader.peek_error(std::move(broken_rule));

    if (reader.skip_whitespace() != JsonReader::kEnd) {
        return reader.peek_error(Syntax::TrailingCharacters);
    }
    return true;
}

}  // namespace

bool decode_value(JsonReader& reader, std::int64_t& out, TextArena&) {
    return decode_i64(reader, out);
}

bool decode_value(JsonReader& reader, std::string_view& out, TextArena& texts) {
    return decode_text(reader, texts, out);
}

bool decode_value(JsonReader& reader, std::optional<bool>& out, TextArena&) {
    if (next_is_null(reader)) {
        out.reset();
        return take_null(reader);
    }
    bool value = false;
    if (!decode_bool(reader, value)) return false;
    out = value;
    return true;
}

bool decode_value(JsonReader& reader, std::optional<std::string_view>& out, TextArena& texts) {
    if (next_is_null(reader)) {
        out.reset();
        return take_null(reader);
    }
    std::string_view text;
    if (!decode_text(reader, texts, text)) return false;
    out = text;
    return true;
}

bool decode_record(std::string_view json, std::string_view record_name,
                   std::span<const FieldDecoder> fields, void* record, TextArena& texts,
                   JsonError& failure) {
    JsonReader reader(json);
    if (decode_record(reader, record_name, fields, record, texts)) return true;
    failure = std::move(reader.failure());
    return false;
}

}  // namespace norvik_auth::webapp_data
