// Skipping a value of unknown shape with an explicit stack of open brackets, never recursion.
#include <vector>

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

void JsonReader::skip_value() {
    // Brackets opened and not yet closed, outermost first; the innermost is held in `enclosing`.
    std::vector<char> open;
    char enclosing = 0;
    for (;;) {
        const int c = skip_whitespace();
        char frame = 0;
        switch (c) {
            case kEnd: throw peek_error(Syntax::EofWhileParsingValue);
            case 'n': eat(); expect_ident("ull"); break;
            case 't': eat(); expect_ident("rue"); break;
            case 'f': eat(); expect_ident("alse"); break;
            case '-': eat(); skip_number(); break;
            case '"': eat(); skip_string(); break;
            case '[':
            case '{':
                if (enclosing != 0) open.push_back(enclosing);
                enclosing = 0;
                eat();
                frame = static_cast<char>(c);
                break;
            default:
                if (c >= '0' && c <= '9') {
                    skip_number();
                    break;
                }
                throw peek_error(Syntax::ExpectedSomeValue);
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
            const int next = skip_whitespace();
            if (next == ',' && accept_comma) {
                eat();
                break;
            }
            const bool closes = (next == ']' && frame == '[') || (next == '}' && frame == '{');
            if (!closes) {
                if (next == kEnd) {
                    throw peek_error(frame == '[' ? Syntax::EofWhileParsingList
                                                 : Syntax::EofWhileParsingObject);
                }
                if (accept_comma) {
                    throw peek_error(frame == '[' ? Syntax::ExpectedListCommaOrEnd
                                                  : Syntax::ExpectedObjectCommaOrEnd);
                }
                break;
            }
            eat();
            if (open.empty()) return;
            frame = open.back();
            open.pop_back();
            accept_comma = true;
        }

        if (frame == '{') {
            const int quote = skip_whitespace();
            if (quote == kEnd) throw peek_error(Syntax::EofWhileParsingObject);
            if (quote != '"') throw peek_error(Syntax::KeyMustBeAString);
            eat();
            skip_string();
            const int colon = skip_whitespace();
            if (colon == kEnd) throw peek_error(Syntax::EofWhileParsingObject);
            if (colon != ':') throw peek_error(Syntax::ExpectedColon);
            eat();
        }
        enclosing = frame;
    }
}

}  // namespace norvik_auth::webapp_data
