// JSON strings: unescaping into text, and skipping with the same checks.
#include "webapp_data/json_string.hpp"

#include <cstdint>

#include "util/utf8.hpp"

namespace norvik_auth::webapp_data {
namespace {

int hex_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/// Takes the plain run at the cursor, appending it to `out` when given.
void take_plain_run(JsonReader& reader, std::string* out) {
    const std::size_t length = reader.plain_run_length();
    if (out != nullptr) out->append(reader.rest().data(), length);
    reader.advance(length);
}

// Fewer than four bytes left means the text ended inside the escape, whatever they are;
// otherwise the first byte that is no hex digit is the failure, pointed at just past it.
bool take_hex_escape(JsonReader& reader, std::uint16_t& unit) {
    if (reader.rest().size() < 4) {
        reader.advance(reader.rest().size());
        return reader.error(Syntax::EofWhileParsingString);
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(reader.next());
        if (digit < 0) return reader.error(Syntax::InvalidEscape);
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    unit = static_cast<std::uint16_t>(value);
    return true;
}

void append_code_point(std::string& out, char32_t code_point) {
    char bytes[4];
    out.append(bytes, util::encode(code_point, bytes));
}

// A leading surrogate must be followed at once by an escaped trailing one; the pair is one
// code point. Texts are always valid UTF-8, so a lone surrogate is refused.
bool take_unicode_escape(JsonReader& reader, std::string& out) {
    std::uint16_t first = 0;
    if (!take_hex_escape(reader, first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) {
        return reader.error(Syntax::LoneLeadingSurrogateInHexEscape);
    }
    if (first < 0xD800 || first > 0xDBFF) {
        append_code_point(out, first);
        return true;
    }
    for (const char expected : {'\\', 'u'}) {
        const int c = reader.next();
        if (c == JsonReader::kEnd) return reader.error(Syntax::EofWhileParsingString);
        if (c != expected) return reader.error(Syntax::UnexpectedEndOfHexEscape);
    }
    std::uint16_t second = 0;
    if (!take_hex_escape(reader, second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) {
        return reader.error(Syntax::LoneLeadingSurrogateInHexEscape);
    }
    append_code_point(out, 0x10000 + ((static_cast<char32_t>(first - 0xD800) << 10) |
                                      static_cast<char32_t>(second - 0xDC00)));
    return true;
}

/// After a backslash was taken: the escape, unescaped into `out`, or only checked when null.
bool take_escape(JsonReader& reader, std::string* out) {
    const int c = reader.next();
    char unescaped;
    switch (c) {
        case JsonReader::kEnd: return reader.error(Syntax::EofWhileParsingString);
        case '"': unescaped = '"'; break;
        case '\\': unescaped = '\\'; break;
        case '/': unescaped = '/'; break;
        case 'b': unescaped = '\b'; break;
        case 'f': unescaped = '\f'; break;
        case 'n': unescaped = '\n'; break;
        case 'r': unescaped = '\r'; break;
        case 't': unescaped = '\t'; break;
        case 'u': {
            if (out != nullptr) return take_unicode_escape(reader, *out);
            std::uint16_t unit = 0;
            return take_hex_escape(reader, unit);
        }
        default: return reader.error(Syntax::InvalidEscape);
    }
    if (out != nullptr) *out += unescaped;
    return true;
}

/// Takes the rest of a string up to and including its closing quote; `out` as for take_escape.
bool take_string(JsonReader& reader, std::string* out) {
    for (;;) {
        take_plain_run(reader, out);
        const int c = reader.peek();
        if (c == JsonReader::kEnd) return reader.error(Syntax::EofWhileParsingString);
        if (c == '"') {
            reader.eat();
            return true;
        }
        // Unescaping reports a control character past it; skipping, at its own offset.
        if (c != '\\') {
            if (out != nullptr) reader.eat();
            return reader.error(Syntax::ControlCharacterWhileParsingString);
        }
        reader.eat();
        if (!take_escape(reader, out)) return false;
    }
}

}  // namespace

bool parse_escaped_string(JsonReader& reader, std::string& scratch, std::string_view& text) {
    scratch.clear();
    if (!take_string(reader, &scratch)) return false;
    text = scratch;
    return true;
}

bool skip_string(JsonReader& reader) { return take_string(reader, nullptr); }

}  // namespace norvik_auth::webapp_data
