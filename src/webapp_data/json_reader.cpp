// The JSON cursor: positions of errors, whitespace, literals and strings.
#include "webapp_data/json_reader.hpp"

#include "util/byte_scan.hpp"

#include <algorithm>
#include <cstring>

namespace norvik_auth::webapp_data {

namespace {

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Bytes that end a plain run inside a string: the quote, the backslash and control characters.
bool ends_plain_run(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

/// Offset of the first byte at or after `from` that ends a plain run, or the text's size.
std::size_t plain_run_end(std::string_view text, std::size_t from) {
    std::size_t i = from;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t word = util::load_word(text.data() + i);
        const std::uint64_t flags = util::bytes_equal(word, '"') | util::bytes_equal(word, '\\') |
                                    util::zero_bytes(word & (util::kEveryByte * 0xE0));
        if (flags != 0) return i + util::first_flagged(flags);
    }
    while (i < text.size() && !ends_plain_run(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

}  // namespace

int JsonReader::skip_whitespace() {
    // Compact JSON has no whitespace at all: the next byte is usually the answer.
    if (index_ < text_.size() && static_cast<unsigned char>(text_[index_]) > ' ') {
        return static_cast<unsigned char>(text_[index_]);
    }
    while (index_ < text_.size()) {
        const char c = text_[index_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') {
            return static_cast<unsigned char>(c);
        }
        ++index_;
    }
    return kEnd;
}

// Line and column are only computed here, on failure, so the success path never counts lines.
JsonError JsonReader::error_at(std::size_t offset, std::string_view text) const {
    const std::string_view before = text_.substr(0, offset);
    const std::size_t last_feed = before.rfind('\n');
    const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
    return JsonError(std::string(text), line, offset - line_start);
}

JsonError JsonReader::peek_error(std::string_view text) const {
    return error_at(std::min(text_.size(), index_ + 1), text);
}

void JsonReader::expect_ident(std::string_view rest) {
    for (const char expected : rest) {
        const int c = next_or_end();
        if (c == kEnd) throw error(Syntax::EofWhileParsingValue);
        if (c != static_cast<unsigned char>(expected)) throw error(Syntax::ExpectedSomeIdent);
    }
}

void JsonReader::parse_string(std::string& out) {
    out.clear();
    append_string(out);
}

std::string_view JsonReader::parse_string_view(std::string& scratch) {
    // Strings without escapes (nearly all member names) are viewed in place.
    const std::size_t start = index_;
    const std::size_t end = plain_run_end(text_, start);
    if (end < text_.size() && text_[end] == '"') {
        index_ = end + 1;
        return text_.substr(start, end - start);
    }
    scratch.clear();
    append_string(scratch);
    return scratch;
}

void JsonReader::append_string(std::string& out) {
    for (;;) {
        const std::size_t start = index_;
        index_ = plain_run_end(text_, index_);
        out.append(text_.data() + start, index_ - start);
        if (index_ == text_.size()) throw error(Syntax::EofWhileParsingString);
        const char c = text_[index_++];
        if (c == '"') return;
        if (c != '\\') throw error(Syntax::ControlCharacterWhileParsingString);
        parse_escape(out);
    }
}

void JsonReader::parse_escape(std::string& out) {
    const int c = next_or_end();
    switch (c) {
        case kEnd: throw error(Syntax::EofWhileParsingString);
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': parse_unicode_escape(out); break;
        default: throw error(Syntax::InvalidEscape);
    }
}

// A leading surrogate must be followed at once by an escaped trailing one; the pair is one
// code point. Texts are always valid UTF-8, so a lone surrogate is refused.
void JsonReader::parse_unicode_escape(std::string& out) {
    const std::uint16_t first = decode_hex_escape();
    if (first >= 0xDC00 && first <= 0xDFFF) throw error(Syntax::LoneLeadingSurrogateInHexEscape);
    if (first < 0xD800 || first > 0xDBFF) {
        append_utf8(out, first);
        return;
    }
    for (const char expected : {'\\', 'u'}) {
        const int c = next_or_end();
        if (c == kEnd) throw error(Syntax::EofWhileParsingString);
        if (c != expected) throw error(Syntax::UnexpectedEndOfHexEscape);
    }
    const std::uint16_t second = decode_hex_escape();
    if (second < 0xDC00 || second > 0xDFFF) throw error(Syntax::LoneLeadingSurrogateInHexEscape);
    append_utf8(out, 0x10000 + ((static_cast<std::uint32_t>(first - 0xD800) << 10) |
                                static_cast<std::uint32_t>(second - 0xDC00)));
}

// Fewer than four bytes left means the text ended inside the escape, whatever they are;
// otherwise the first byte that is no hex digit is the failure, pointed at just past it.
std::uint16_t JsonReader::decode_hex_escape() {
    if (text_.size() - index_ < 4) {
        index_ = text_.size();
        throw error(Syntax::EofWhileParsingString);
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(static_cast<unsigned char>(text_[index_++]));
        if (digit < 0) throw error(Syntax::InvalidEscape);
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// Skipping checks control characters and the form of escapes but pairs no surrogates; a
// control character is reported at its own offset, not past it.
void JsonReader::skip_string() {
    for (;;) {
        index_ = plain_run_end(text_, index_);
        if (index_ == text_.size()) throw error(Syntax::EofWhileParsingString);
        const char c = text_[index_];
        if (c == '"') {
            ++index_;
            return;
        }
        if (c != '\\') throw error(Syntax::ControlCharacterWhileParsingString);
        ++index_;
        skip_escape();
    }
}

void JsonReader::skip_escape() {
    const int c = next_or_end();
    switch (c) {
        case kEnd: throw error(Syntax::EofWhileParsingString);
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return;
        case 'u': decode_hex_escape(); return;
        default: throw error(Syntax::InvalidEscape);
    }
}

}  // namespace norvik_auth::webapp_data
