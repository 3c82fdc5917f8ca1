// UTF-8: sequence lengths, decoding and encoding of code points, and repair of ill-formed bytes.
#include "util/utf8.hpp"

#include "util/byte_scan.hpp"

namespace norvik_auth::util {
namespace {

/// Offset of the first byte of `bytes` at or above 0x80, or its size; eight bytes at a time.
std::size_t first_non_ascii(std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        if (load_word(bytes.data() + i) & kHighBits) break;
    }
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    return i;
}

}  // namespace

std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

char32_t decode_sequence(const unsigned char* bytes, std::size_t length) {
    if (length == 1) return bytes[0];
    char32_t code_point = bytes[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (bytes[i] & 0x3F);
    return code_point;
}

std::size_t encode(char32_t code_point, char* out) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code_point >> 12));
        out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code_point >> 18));
    out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 4;
}

Unit next_unit(std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest[0]);
    const std::size_t expected = sequence_length(lead);
    if (expected == 1) return {1, true};
    if (expected == 0) return {1, false};
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead == 0xE0) second_low = 0xA0;   // no overlong forms
    if (lead == 0xED) second_high = 0x9F;  // no surrogates
    if (lead == 0xF0) second_low = 0x90;   // no overlong forms
    if (lead == 0xF4) second_high = 0x8F;  // nothing above U+10FFFF
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

std::size_t first_ill_formed(std::string_view bytes) {
    std::size_t i = 0;
    for (;;) {
        i += first_non_ascii(bytes.substr(i));
        if (i == bytes.size()) return i;
        const Unit unit = next_unit(bytes.substr(i));
        if (!unit.well_formed) return i;
        i += unit.length;
    }
}

}  // namespace norvik_auth::util
