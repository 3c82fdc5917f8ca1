// Wording of JSON decoding failures and their diagnostic text form.
#include "webapp_data/json_error.hpp"

#include <charconv>
#include <cstring>

#include "webapp_data/text_form.hpp"

namespace norvik_auth::webapp_data {

namespace {

/// Whether `text` is written as itself between the quotes: printable ASCII, no quote and no
/// backslash (every syntax message, and most others).
bool quotes_as_is(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') return false;
    }
    return true;
}

}  // namespace

void JsonError::append_debug_text(std::string& out) const {
    // Written with few calls: the position into a buffer of its own first, and a plain message
    // with the pieces around it copied in one go.
    char position[64];
    char* end = position;
    const auto put = [&end](std::string_view text) {
        std::memcpy(end, text.data(), text.size());
        end += text.size();
    };
    put("\", line: ");
    end = std::to_chars(end, position + sizeof position, line_).ptr;
    put(", column: ");
    end = std::to_chars(end, position + sizeof position, column_).ptr;
    put(")");
    const std::string_view tail(position, static_cast<std::size_t>(end - position));
    const std::string_view text = message();
    constexpr std::string_view kHead = "Error(\"";
    if (quotes_as_is(text)) {
        const std::size_t start = out.size();
        out.resize(start + kHead.size() + text.size() + tail.size());
        char* const to = out.data() + start;
        std::memcpy(to, kHead.data(), kHead.size());
        std::memcpy(to + kHead.size(), text.data(), text.size());
        std::memcpy(to + kHead.size() + text.size(), tail.data(), tail.size());
        return;
    }
    out.reserve(out.size() + text.size() + sizeof position);
    out.append("Error(", 6);
    append_quoted(out, text);
    out.append(tail.substr(1));  // append_quoted wrote the closing quote
}

std::string JsonError::debug_text() const {
    std::string out;
    append_debug_text(out);
    return out;
}

std::string_view message(Syntax syntax) {
    switch (syntax) {
        case Syntax::EofWhileParsingList: return "EOF while parsing a list";
        case Syntax::EofWhileParsingObject: return "EOF while parsing an object";
        case Syntax::EofWhileParsingString: return "EOF while parsing a string";
        case Syntax::EofWhileParsingValue: return "EOF while parsing a value";
        case Syntax::ExpectedColon: return "expected `:`";
        case Syntax::ExpectedListCommaOrEnd: return "expected `,` or `]`";
        case Syntax::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
        case Syntax::ExpectedSomeIdent: return "expected ident";
        case Syntax::ExpectedSomeValue: return "expected value";
        case Syntax::InvalidEscape: return "invalid escape";
        case Syntax::InvalidNumber: return "invalid number";
        case Syntax::NumberOutOfRange: return "number out of range";
        case Syntax::ControlCharacterWhileParsingString:
            return "control character (\\u0000-\\u001F) found while parsing a string";
        case Syntax::KeyMustBeAString: return "key must be a string";
        case Syntax::LoneLeadingSurrogateInHexEscape: return "lone leading surrogate in hex escape";
        case Syntax::TrailingComma: return "trailing comma";
        case Syntax::TrailingCharacters: return "trailing characters";
        case Syntax::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
    }
    return "unknown syntax error";
}

}  // namespace norvik_auth::webapp_data
