// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#include "lib/form_urlencoded.hpp"

#include <cstddef>
#include <utility>

#include "lib/form_pair_reader.hpp"

namespace norvik_auth::lib {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

int hex_digit_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class Rewrite { None, CheckUtf8, PercentDecode };

/// What `raw` needs: nothing for plain ASCII, a UTF-8 check for other bytes, full decoding for
/// '+' or '%'.
Rewrite rewrite_needed(std::string_view raw) {
    Rewrite needed = Rewrite::None;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '+' || byte == '%') return Rewrite::PercentDecode;
        if (byte >= 0x80) needed = Rewrite::CheckUtf8;
    }
    return needed;
}

/// Maps '+' to space first, so that "%2B" still yields a literal '+', then decodes "%XX".
std::string percent_decode(std::string_view raw) {
    std::string bytes;
    bytes.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto byte = static_cast<unsigned char>(raw[i]);
        if (byte == '+') {
            bytes += ' ';
            continue;
        }
        if (byte == '%' && raw.size() - i > 2) {
            const int high = hex_digit_value(static_cast<unsigned char>(raw[i + 1]));
            const int low = hex_digit_value(static_cast<unsigned char>(raw[i + 2]));
            if (high >= 0 && low >= 0) {
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        // A '%' that starts no escape stays literal; decoding resumes with the byte after it.
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

/// Length of the UTF-8 unit at the start of `rest` (non-empty) and whether it is well formed.
/// An ill-formed unit is the maximal subpart: the lead byte and the continuation bytes that could
/// still have completed it, or just the byte itself when it can start no sequence at all.
struct Utf8Unit {
    std::size_t length;
    bool well_formed;
};

Utf8Unit next_utf8_unit(std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    if (lead < 0x80) return {1, true};
    std::size_t expected;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        expected = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        expected = 3;
        if (lead == 0xE0) second_low = 0xA0;   // no overlong forms
        if (lead == 0xED) second_high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        expected = 4;
        if (lead == 0xF0) second_low = 0x90;   // no overlong forms
        if (lead == 0xF4) second_high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    std::size_t taken = 1;
    while (taken < expected && taken < rest.size()) {
        const auto byte = static_cast<unsigned char>(rest[taken]);
        const unsigned char low = taken == 1 ? second_low : 0x80;
        const unsigned char high = taken == 1 ? second_high : 0xBF;
        if (byte < low || byte > high) break;
        ++taken;
    }
    return {taken, taken == expected};
}

/// Offset of the first ill-formed unit of `bytes`, or its size when all of it is well formed.
std::size_t first_ill_formed(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const Utf8Unit unit = next_utf8_unit(bytes.substr(i));
        if (!unit.well_formed) return i;
        i += unit.length;
    }
    return i;
}

/// Rewrites `bytes` from offset `from` on, replacing each ill-formed unit with U+FFFD.
std::string replace_ill_formed(std::string_view bytes, std::size_t from) {
    std::string text;
    text.reserve(bytes.size() + 2 * (bytes.size() - from));
    text.append(bytes.substr(0, from));
    std::size_t i = from;
    while (i < bytes.size()) {
        const Utf8Unit unit = next_utf8_unit(bytes.substr(i));
        if (unit.well_formed) {
            text.append(bytes.substr(i, unit.length));
        } else {
            text.append(kReplacementCharacter);
        }
        i += unit.length;
    }
    return text;
}

std::string decode_component(std::string_view raw) {
    switch (rewrite_needed(raw)) {
        case Rewrite::None:
            break;
        case Rewrite::CheckUtf8: {
            const std::size_t bad = first_ill_formed(raw);
            if (bad != raw.size()) return replace_ill_formed(raw, bad);
            break;
        }
        case Rewrite::PercentDecode: {
            std::string bytes = percent_decode(raw);
            const std::size_t bad = first_ill_formed(bytes);
            if (bad != bytes.size()) return replace_ill_formed(bytes, bad);
            return bytes;
        }
    }
    return std::string(raw);
}

}  // namespace

bool FormPairReader::next(FormPair& pair) {
    while (position_ <= input_.size()) {
        std::size_t stop = input_.find('&', position_);
        if (stop == std::string_view::npos) stop = input_.size();
        const std::string_view sequence = input_.substr(position_, stop - position_);
        position_ = stop + 1;
        if (sequence.empty()) continue;
        const std::size_t equals = sequence.find('=');
        pair.name = decode_component(sequence.substr(0, equals));
        pair.value = equals == std::string_view::npos ? std::string()
                                                      : decode_component(sequence.substr(equals + 1));
        return true;
    }
    return false;
}

std::vector<FormPair> decode_form(std::string_view input) {
    std::vector<FormPair> pairs;
    FormPairReader reader(input);
    FormPair pair;
    while (reader.next(pair)) pairs.push_back(std::move(pair));
    return pairs;
}

}  // namespace norvik_auth::lib
