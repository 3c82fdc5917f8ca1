// UTF-8: sequence lengths, decoding and encoding of code points, and repair of ill-formed bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace norvik_auth::util {

/// The three bytes of U+FFFD, which stand for each ill-formed subsequence.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

/// Length of the sequence that `lead` starts in valid UTF-8; 0 for a byte that starts none.
std::size_t sequence_length(unsigned char lead);

/// The code point of a complete, valid sequence of `length` bytes.
char32_t decode_sequence(const unsigned char* bytes, std::size_t length);

/// Writes `code_point` (a scalar value) as UTF-8; returns the number of bytes, 1 to 4.
std::size_t encode(char32_t code_point, char* out);

/// The unit at the start of `rest` (not empty): its length and whether it is well formed. An
/// ill-formed unit is a maximal subpart: the lead byte and the continuation bytes that could
/// still have completed it, or the byte alone when it can start no sequence.
struct Unit {
    std::size_t length;
    bool well_formed;
};
Unit next_unit(std::string_view rest);

/// Offset of the first ill-formed unit of `bytes`, or its size when all of it is well formed.
std::size_t first_ill_formed(std::string_view bytes);

/// Appends `bytes` to `out`, each ill-formed unit replaced by U+FFFD.
template <class String>
void append_repaired(std::string_view bytes, String& out) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Unit unit = next_unit(bytes.substr(i));
        if (unit.well_formed) {
            out.append(bytes.substr(i, unit.length));
        } else {
            out.append(kReplacementCharacter);
        }
        i += unit.length;
    }
}

}  // namespace norvik_auth::util
