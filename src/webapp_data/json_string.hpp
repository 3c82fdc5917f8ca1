// JSON strings: unescaping into text, and skipping with the same checks.
#pragma once

#include <string>
#include <string_view>

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

/// parse_string for a string with escapes (or a failure): unescaped into `scratch`.
[[nodiscard]] bool parse_escaped_string(JsonReader& reader, std::string& scratch,
                                        std::string_view& text);

/// After the opening quote was taken: the string's text into `text`. A string without escapes
/// is a view of the JSON text itself; otherwise it is unescaped into `scratch`, which the view
/// then shows.
[[nodiscard]] inline bool parse_string(JsonReader& reader, std::string& scratch,
                                       std::string_view& text) {
    // Strings without escapes (nearly all) are viewed in place, here where the caller's
    // `text` can stay in a register.
    const std::size_t length = reader.plain_run_length();
    const std::string_view rest = reader.rest();
    if (length < rest.size() && rest[length] == '"') [[likely]] {
        reader.advance(length + 1);
        text = rest.substr(0, length);
        return true;
    }
    return parse_escaped_string(reader, scratch, text);
}

/// After the opening quote was taken: takes the string, checking control characters and the
/// form of escapes but pairing no surrogates.
[[nodiscard]] bool skip_string(JsonReader& reader);

}  // namespace norvik_auth::webapp_data
