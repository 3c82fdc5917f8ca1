// Percent-decoding of one form component, the hot loop of form decoding.
#pragma once

#include <string_view>

namespace norvik_auth::lib {

/// Percent-decodes `raw` into `out` (room for raw.size() bytes), mapping '+' to space first so
/// that "%2B" still yields '+'; a '%' not followed by two hex digits stays literal. Returns the
/// end of the written bytes. Uses the widest kernel of lib/kernels.hpp that the processor runs
/// (AVX-512 VBMI2, else SSSE3, else the word-at-a-time loop below).
char* percent_decode(std::string_view raw, char* out);

/// The same, one word at a time on any processor.
char* percent_decode_scalar(std::string_view raw, char* out);

}  // namespace norvik_auth::lib
