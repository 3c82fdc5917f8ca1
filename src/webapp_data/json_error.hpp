// The failure result of decoding a record from JSON: a message and where it happened.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace norvik_auth::webapp_data {

/// A JSON decoding failure; line is 1-based, column counts bytes from the start of the line.
class JsonError : public std::exception {
public:
    JsonError(std::string message, std::size_t line, std::size_t column)
        : message_(std::move(message)), line_(line), column_(column) {}

    const std::string& message() const { return message_; }
    std::size_t line() const { return line_; }
    std::size_t column() const { return column_; }
    const char* what() const noexcept override { return message_.c_str(); }

    /// The diagnostic form `Error("<message>", line: L, column: C)`, message quoted and escaped.
    std::string debug_text() const;

private:
    std::string message_;
    std::size_t line_;
    std::size_t column_;
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
