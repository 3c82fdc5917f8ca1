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

// A record-level failure (missing or repeated member, short array) whose position is only
// known once the enclosing bracket has been looked at.
struct RecordRuleError {
    std::string message;
};

// The found value, taken whole when it is a scalar, described for an invalid-type failure;
// positioned just past it.
JsonError invalid_type(JsonReader& reader, std::string_view expected) {
    std::string found;
    std::string scratch;
    switch (reader.skip_whitespace()) {
        case JsonReader::kEnd: return reader.peek_error(Syntax::EofWhileParsingValue);
        case 'n': reader.eat(); expect_ident(reader, "ull"); found = "null"; break;
        case 't': reader.eat(); expect_ident(reader, "rue"); found = "boolean `true`"; break;
        case 'f': reader.eat(); expect_ident(reader, "alse"); found = "boolean `false`"; break;
        case '-': reader.eat(); found = parse_number(reader, false).description(); break;
        case '"':
            reader.eat();
            found = "string ";
            append_quoted(found, parse_string(reader, scratch));
            break;
        case '[': found = "sequence"; break;
        case '{': found = "map"; break;
        default: {
            const int c = reader.peek();
            if (c >= '0' && c <= '9') {
                found = parse_number(reader, true).description();
                break;
            }
            return reader.peek_error(Syntax::ExpectedSomeValue);
        }
    }
    return reader.peek_error("invalid type: " + found + ", expected " + std::string(expected));
}

std::int64_t decode_i64(JsonReader& reader) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
    JsonNumber number;
    if (c == '-') {
        reader.eat();
        number = parse_number(reader, false);
    } else if (c >= '0' && c <= '9') {
        number = parse_number(reader, true);
    } else {
        throw invalid_type(reader, "i64");
    }
    switch (number.kind) {
        case JsonNumber::Kind::Negative: return number.negative_value;
        case JsonNumber::Kind::Unsigned:
            if (number.unsigned_value <= std::numeric_limits<std::int64_t>::max()) {
                return static_cast<std::int64_t>(number.unsigned_value);
            }
            throw reader.peek_error("invalid value: " + number.description() + ", expected i64");
        case JsonNumber::Kind::Float: break;
    }
    throw reader.peek_error("invalid type: " + number.description() + ", expected i64");
}

std::string_view decode_text(JsonReader& reader, TextArena& texts) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
    if (c != '"') throw invalid_type(reader, "a string");
    reader.eat();
    std::string scratch;  // only used, and allocated, when the string has escapes
    // A string without escapes is a view of the JSON text: kept as it is when that text lies
    // in `texts` already.
    return texts.keep(parse_string(reader, scratch));
}

// `null` makes an optional empty; anything else is decoded as the value itself.
bool take_null(JsonReader& reader) {
    if (reader.skip_whitespace() != 'n') return false;
    reader.eat();
    expect_ident(reader, "ull");
    return true;
}

bool decode_bool(JsonReader& reader) {
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
    if (c == 't') {
        reader.eat();
        expect_ident(reader, "rue");
        return true;
    }
    if (c == 'f') {
        reader.eat();
        expect_ident(reader, "alse");
        return false;
    }
    throw invalid_type(reader, "a boolean");
}

void decode_object(JsonReader& reader, std::span<const FieldDecoder> fields, void* record,
                   TextArena& texts) {
    std::uint32_t seen = 0;  // bit i: member i has occurred
    std::size_t next = 0;    // where the search for the next member's name starts
    std::string scratch;  // holds member names that contain escapes
    bool first = true;
    for (;;) {
        int c = reader.skip_whitespace();
        if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingObject);
        if (c == '}') break;
        if (first) {
            first = false;
            if (c != '"') throw reader.peek_error(Syntax::KeyMustBeAString);
        } else if (c == ',') {
            reader.eat();
            c = reader.skip_whitespace();
            if (c == '}') throw reader.peek_error(Syntax::TrailingComma);
            if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
            if (c != '"') throw reader.peek_error(Syntax::KeyMustBeAString);
        } else {
            throw reader.peek_error(Syntax::ExpectedObjectCommaOrEnd);
        }
        reader.eat();
        const std::string_view key = parse_string(reader, scratch);

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
            throw RecordRuleError{"duplicate field `" + std::string(fields[index].name) + "`"};
        }

        const int colon = reader.skip_whitespace();
        if (colon == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingObject);
        if (colon != ':') throw reader.peek_error(Syntax::ExpectedColon);
        reader.eat();

        if (known) {
            fields[index].decode(reader, record, texts);
            seen |= 1u << index;
        } else {
            skip_value(reader);
        }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!(seen >> i & 1u) && fields[i].required) {
            throw RecordRuleError{"missing field `" + std::string(fields[i].name) + "`"};
        }
    }
}

void decode_array(JsonReader& reader, std::string_view record_name,
                  std::span<const FieldDecoder> fields, void* record, TextArena& texts) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        int c = reader.skip_whitespace();
        if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingList);
        if (c == ']') {
            throw RecordRuleError{"invalid length " + std::to_string(i) + ", expected struct " +
                                  std::string(record_name) + " with " +
                                  std::to_string(fields.size()) + " elements"};
        }
        if (i > 0) {
            if (c != ',') throw reader.peek_error(Syntax::ExpectedListCommaOrEnd);
            reader.eat();
            c = reader.skip_whitespace();
            if (c == ']') throw reader.peek_error(Syntax::TrailingComma);
            if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
        }
        fields[i].decode(reader, record, texts);
    }
}

// The closing bracket is looked at even when the record's own rules failed, and a record-rule
// failure is positioned only after that look.
void close_array(JsonReader& reader, bool record_failed) {
    const int c = reader.skip_whitespace();
    if (c == ']') {
        reader.eat();
        return;
    }
    if (c == ',') {
        reader.eat();
        const int after = reader.skip_whitespace();
        if (record_failed) return;
        throw reader.peek_error(after == ']' ? Syntax::TrailingComma : Syntax::TrailingCharacters);
    }
    if (record_failed) return;
    throw reader.peek_error(c == JsonReader::kEnd ? Syntax::EofWhileParsingList
                                                  : Syntax::TrailingCharacters);
}

void close_object(JsonReader& reader, bool record_failed) {
    const int c = reader.skip_whitespace();
    if (c == '}') {
        reader.eat();
        return;
    }
    if (record_failed) return;
    throw reader.peek_error(c == ',' ? Syntax::TrailingComma
                            : c == JsonReader::kEnd ? Syntax::EofWhileParsingObject
                                                    : Syntax::TrailingCharacters);
}

}  // namespace

void decode_value(JsonReader& reader, std::int64_t& out, TextArena&) { out = decode_i64(reader); }

void decode_value(JsonReader& reader, std::string_view& out, TextArena& texts) {
    out = decode_text(reader, texts);
}

void decode_value(JsonReader& reader, std::optional<bool>& out, TextArena&) {
    if (take_null(reader)) {
        out.reset();
    } else {
        out = decode_bool(reader);
    }
}

void decode_value(JsonReader& reader, std::optional<std::string_view>& out, TextArena& texts) {
    if (take_null(reader)) {
        out.reset();
    } else {
        out = decode_text(reader, texts);
    }
}

void decode_record(std::string_view json, std::string_view record_name,
                   std::span<const FieldDecoder> fields, void* record, TextArena& texts) {
    JsonReader reader(json);
    const int c = reader.skip_whitespace();
    if (c == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingValue);
    if (c != '[' && c != '{') throw invalid_type(reader, "struct " + std::string(record_name));

    reader.eat();
    const bool is_array = c == '[';
    try {
        if (is_array) {
            decode_array(reader, record_name, fields, record, texts);
        } else {
            decode_object(reader, fields, record, texts);
        }
    } catch (const RecordRuleError& e) {
        if (is_array) {
            close_array(reader, true);
        } else {
            close_object(reader, true);
        }
        throw reader.peek_error(e.message);
    }
    if (is_array) {
        close_array(reader, false);
    } else {
        close_object(reader, false);
    }

    if (reader.skip_whitespace() != JsonReader::kEnd) {
        throw reader.peek_error(Syntax::TrailingCharacters);
    }
}

}  // namespace norvik_auth::webapp_data
