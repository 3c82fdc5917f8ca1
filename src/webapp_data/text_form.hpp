// The one-line text form (`__repr__`) of the records and of their values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace norvik_auth::webapp_data {

/// Appends `text` (valid UTF-8) in double quotes, escaping quotes, backslashes, control,
/// format, private-use, unassigned, separator (except U+0020) and grapheme-extending characters.
void append_quoted(std::string& out, std::string_view text);

void append_text_value(std::string& out, std::int64_t value);
void append_text_value(std::string& out, std::uint64_t value);
void append_text_value(std::string& out, bool value);
inline void append_text_value(std::string& out, std::string_view value) {
    append_quoted(out, value);
}

/// "None", or "Some(" + the value's text form + ")".
template <class T>
void append_text_value(std::string& out, const std::optional<T>& value) {
    if (!value) {
        out += "None";
        return;
    }
    out += "Some(";
    append_text_value(out, *value);
    out += ')';
}

/// A record, by its table of fields: `Name { label: value, .. }`.
template <class Record>
    requires requires { Record::fields(); }
void append_text_value(std::string& out, const Record& record) {
    out += Record::kName;
    out += " { ";
    std::string_view separator;
    std::apply(
        [&](const auto&... field) {
            ((out += separator, separator = ", ", out += field.label, out += ": ",
              append_text_value(out, record.*field.member)),
             ...);
        },
        Record::fields());
    out += " }";
}

}  // namespace norvik_auth::webapp_data
