// Percent-decoding of one form component, the hot loop of form decoding.
#pragma once

#include <string_view>

namespace norvik_auth::lib {

/// Percent-decodes `raw` into `out` (room for raw.size() bytes), mapping '+' to space first so
/// that "%2B" still yields '+'; a '%' not followed by two hex digits stays literal. Returns the
/// end of the written bytes. Uses SSSE3 where the processor has it.
char* percent_decode(std::string_view raw, char* out);

/// The same, one word at a time on any processor; the reference for the vector version.
char* percent_decode_scalar(std::string_view raw, char* out);

}  // namespace norvik_auth::lib
