// JSON strings: unescaping into text, and skipping with the same checks.
#pragma once

#include <string>
#include <string_view>

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

/// After the opening quote was taken: the string's text into `text`. A string without escapes
/// is a view of the JSON text itself; otherwise it is unescaped into `scratch`, which the view
/// then shows.
[[nodiscard]] bool parse_string(JsonReader& reader, std::string& scratch, std::string_view& text);

/// After the opening quote was taken: takes the string, checking control characters and the
/// form of escapes but pairing no surrogates.
[[nodiscard]] bool skip_string(JsonReader& reader);

}  // namespace norvik_auth::webapp_data
