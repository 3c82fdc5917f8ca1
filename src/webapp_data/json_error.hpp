// The failure result of decoding a record from JSON: a message and where it happened.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace norvik_auth::webapp_data {

/// A JSON decoding failure; line is 1-based, column counts bytes from the start of the line.
/// A plain value: the decoder hands it back, it is never thrown.
class JsonError {
public:
    JsonError() = default;
    /// A failure worded by a fixed text (a syntax failure), which is viewed, not copied.
    JsonError(std::string_view fixed_message, std::size_t line, std::size_t column)
        : fixed_message_(fixed_message), line_(line), column_(column) {}
    /// A failure worded for this input: what was found, or which member broke a rule.
    JsonError(std::string&& message, std::size_t line, std::size_t column)
        : composed_message_(std::move(message)), line_(line), column_(column) {}

    std::string_view message() const {
        return composed_message_.empty() ? fixed_message_ : composed_message_;
    }
    std::size_t line() const { return line_; }
    std::size_t column() const { return column_; }

    /// Appends the diagnostic form `Error("<message>", line: L, column: C)`, message quoted and
    /// escaped.
    void append_debug_text(std::string& out) const;
    std::string debug_text() const;

private:
    std::string_view fixed_message_;
    std::string composed_message_;  // never empty when used
    std::size_t line_ = 1;
    std::size_t column_ = 0;
};

/// The syntax failures of the decoder; `message` gives their fixed wording.
enum class Syntax {
    EofWhileParsingList,
    EofWhileParsingObject,
    EofWhileParsingString,
    EofWhileParsingValue,
    ExpectedColon,
    ExpectedListCommaOrEnd,
    ExpectedObjectCommaOrEnd,
    ExpectedSomeIdent,
    ExpectedSomeValue,
    InvalidEscape,
    InvalidNumber,
    NumberOutOfRange,
    ControlCharacterWhileParsingString,
    KeyMustBeAString,
    LoneLeadingSurrogateInHexEscape,
    TrailingComma,
    TrailingCharacters,
    UnexpectedEndOfHexEscape,
};

/// The fixed text of a syntax failure.
std::string_view message(Syntax syntax);

}  // namespace norvik_auth::webapp_data
