// Skipping a value of unknown shape with an explicit stack of open brackets, never recursion.
#include "webapp_data/json_skip.hpp"

#include <vector>

#include "webapp_data/json_number.hpp"
#include "webapp_data/json_string.hpp"

namespace norvik_auth::webapp_data {

void skip_value(JsonReader& reader) {
    // Brackets opened and not yet closed, outermost first; the innermost is held in `enclosing`.
    std::vector<char> open;
    char enclosing = 0;
    for (;;) {
        const int c = reader.skip_whitespace();
        char frame = 0;
        switch (c) {
            case JsonReader::kEnd: throw reader.peek_error(Syntax::EofWhileParsingValue);
            case 'n': reader.eat(); expect_ident(reader, "ull"); break;
            case 't': reader.eat(); expect_ident(reader, "rue"); break;
            case 'f': reader.eat(); expect_ident(reader, "alse"); break;
            case '-': reader.eat(); skip_number(reader); break;
            case '"': reader.eat(); skip_string(reader); break;
            case '[':
            case '{':
                if (enclosing != 0) open.push_back(enclosing);
                enclosing = 0;
                reader.eat();
                frame = static_cast<char>(c);
                break;
            default:
                if (c >= '0' && c <= '9') {
                    skip_number(reader);
                    break;
                }
                throw reader.peek_error(Syntax::ExpectedSomeValue);
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
                return;
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
                    throw reader.peek_error(frame == '[' ? Syntax::EofWhileParsingList
                                                 : Syntax::EofWhileParsingObject);
                }
                if (accept_comma) {
                    throw reader.peek_error(frame == '[' ? Syntax::ExpectedListCommaOrEnd
                                                  : Syntax::ExpectedObjectCommaOrEnd);
                }
                break;
            }
            reader.eat();
            if (open.empty()) return;
            frame = open.back();
            open.pop_back();
            accept_comma = true;
        }

        if (frame == '{') {
            const int quote = reader.skip_whitespace();
            if (quote == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingObject);
            if (quote != '"') throw reader.peek_error(Syntax::KeyMustBeAString);
            reader.eat();
            skip_string(reader);
            const int colon = reader.skip_whitespace();
            if (colon == JsonReader::kEnd) throw reader.peek_error(Syntax::EofWhileParsingObject);
            if (colon != ':') throw reader.peek_error(Syntax::ExpectedColon);
            reader.eat();
        }
        enclosing = frame;
    }
}

}  // namespace norvik_auth::webapp_data
