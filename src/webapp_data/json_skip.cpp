// Skipping a value of unknown shape with an explicit stack of open brackets, never recursion.
#include "webapp_data/json_skip.hpp"

#include <vector>

#include "webapp_data/json_number.hpp"
#include "webapp_data/json_string.hpp"

namespace norvik_auth::webapp_data {

bool skip_value(JsonReader& reader) {
    // Brackets opened and not yet closed, outermost first; the innermost is held in `enclosing`.
    std::vector<char> open;
    char enclosing = 0;
    for (;;) {
        const int c = reader.skip_whitespace();
        char frame = 0;
        switch (c) {
            case JsonReader::kEnd: return reader.peek_error(Syntax::EofWhileParsingValue);
            case 'n':
                reader.eat();
                if (!expect_ident(reader, "ull")) return false;
                break;
            case 't':
                reader.eat();
                if (!expect_ident(reader, "rue")) return false;
                break;
            case 'f':
                reader.eat();
                if (!expect_ident(reader, "alse")) return false;
                break;
            case '-':
                reader.eat();
                if (!skip_number(reader)) return false;
                break;
            case '"':
                reader.eat();
                if (!skip_string(reader)) return false;
                break;
            case '[':
            case '{':
                if (enclosing != 0) open.push_back(enclosing);
                enclosing = 0;
                reader.eat();
                frame = static_cast<char>(c);
                break;
            default:
                if (c >= '0' && c <= '9') {
                    if (!skip_number(reader)) return false;
                    break;
                }
                return reader.peek_error(Syntax::ExpectedSomeValue);
        }

        // After a scalar, or right after an opening bracket: what follows in the enclosing frame.
        bool accept_comma = false;
        if (frame == 0) {
            if (enclosing != 0) {
                frame = enclosing;
                enclosing = 0;
            } else if (!open.empty()) {
                frame = open.back();
                open.pop_back();
            } else {
                return true;
            }
            accept_comma = true;
        }

        for (;;) {
            const int next = reader.skip_whitespace();
            if (next == ',' && accept_comma) {
                reader.eat();
                break;
            }
            const bool closes = (next == ']' && frame == '[') || (next == '}' && frame == '{');
            if (!closes) {
                if (next == JsonReader::kEnd) {
                    return reader.peek_error(frame == '[' ? Syntax::EofWhileParsingList
                                                          : Syntax::EofWhileParsingObject);
                }
                if (accept_comma) {
                    return reader.peek_error(frame == '[' ? Syntax::ExpectedListCommaOrEnd
                                                          : Syntax::ExpectedObjectCommaOrEnd);
                }
                break;
            }
            reader.eat();
            if (open.empty()) return true;
            frame = open.back();
            open.pop_back();
            accept_comma = true;
        }

        if (frame == '{') {
            const int quote = reader.skip_whitespace();
            if (quote == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingObject);
            if (quote != '"') return reader.peek_error(Syntax::KeyMustBeAString);
            reader.eat();
            if (!skip_string(reader)) return false;
            const int colon = reader.skip_whitespace();
            if (colon == JsonReader::kEnd) return reader.peek_error(Syntax::EofWhileParsingObject);
            if (colon != ':') return reader.peek_error(Syntax::ExpectedColon);
            reader.eat();
        }
        enclosing = frame;
    }
}

}  // namespace norvik_auth::webapp_data
