// Quoting of texts and writing of scalar values in the records' one-line text form.
#include "webapp_data/text_form.hpp"

#include <charconv>
#include <cstddef>

#include "util/utf8.hpp"
#include "webapp_data/unicode_escape_table.hpp"

namespace norvik_auth::webapp_data {
namespace {

/// Printable ASCII other than the quote and the backslash: by far the most common bytes.
bool is_plain_ascii(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

void append_unicode_escape(std::string& out, char32_t code_point) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits,
                                   static_cast<std::uint32_t>(code_point), 16).ptr;
    out += "\\u{";
    out.append(digits, end);
    out += '}';
}

/// Writes an ASCII byte that is not plain: a short escape where one exists, else by the table.
void append_ascii_special(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\t': out += "\\t"; return;
        case '\r': out += "\\r"; return;
        case '\n': out += "\\n"; return;
        case '\0': out += "\\0"; return;
        default: break;
    }
    if (unicode_escape_table::is_escaped(byte)) {
        append_unicode_escape(out, byte);
    } else {
        out += static_cast<char>(byte);
    }
}

template <class Integer>
void append_decimal(std::string& out, Integer value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
    if (out.capacity() - out.size() < text.size() + 2) out.reserve(out.size() + text.size() + 2);
    out += '"';
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = begin + text.size();
    // Characters written as themselves accumulate in [run, p) and are appended in one piece.
    const unsigned char* run = begin;
    const unsigned char* p = begin;
    const auto flush = [&] { out.append(reinterpret_cast<const char*>(run), p - run); };
    while (p < end) {
        const unsigned char byte = *p;
        if (is_plain_ascii(byte)) {
            ++p;
            continue;
        }
        if (byte < 0x80) {
            flush();
            append_ascii_special(out, byte);
            run = ++p;
            continue;
        }
        std::size_t length = util::sequence_length(byte);
        // The input is valid UTF-8; a malformed byte is passed through rather than over-read.
        if (length == 0 || static_cast<std::size_t>(end - p) < length) length = 1;
        const char32_t code_point = util::decode_sequence(p, length);
        if (length == 1 || !unicode_escape_table::is_escaped(code_point)) {
            p += length;
            continue;
        }
        flush();
        append_unicode_escape(out, code_point);
        p += length;
        run = p;
    }
    flush();
    out += '"';
}

void append_text_value(std::string& out, std::int64_t value) { append_decimal(out, value); }

void append_text_value(std::string& out, std::uint64_t value) { append_decimal(out, value); }

void append_text_value(std::string& out, bool value) { out += value ? "true" : "false"; }

}  // namespace norvik_auth::webapp_data
