// Percent-decoding of one form component, the hot loop of form decoding.
#pragma once

#include <span>
#include <string_view>

namespace norvik_auth::lib {

/// Percent-decodes `raw` into `out` (room for raw.size() bytes), mapping '+' to space first so
/// that "%2B" still yields '+'; a '%' not followed by two hex digits stays literal. Returns the
/// end of the written bytes. Uses the widest vector kernel the processor runs (AVX-512 VBMI2,
/// else SSSE3).
char* percent_decode(std::string_view raw, char* out);

/// The same, one word at a time on any processor; the reference for the vector versions.
char* percent_decode_scalar(std::string_view raw, char* out);

/// A vector kernel, whole: for inputs of any length it writes what the scalar version writes.
struct PercentDecoder {
    const char* name;
    char* (*decode)(std::string_view raw, char* out);
};

/// Every vector kernel this processor can run, so that checks reach each one, not only the
/// one chosen.
std::span<const PercentDecoder> vector_percent_decoders();

}  // namespace norvik_auth::lib
