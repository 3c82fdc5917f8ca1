// A byte cursor over one complete JSON text, and where its failures point.
#include "webapp_data/json_reader.hpp"

#include <algorithm>

namespace norvik_auth::webapp_data {

int JsonReader::skip_some_whitespace() {
    while (index_ < text_.size()) {
        const char c = text_[index_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') {
            return static_cast<unsigned char>(c);
        }
        ++index_;
    }
    return kEnd;
}

// Line and column are only computed here, on failure, so the success path never counts lines.
JsonError JsonReader::error_at(std::size_t offset, std::string_view text) const {
    const std::string_view before = text_.substr(0, offset);
    const std::size_t last_feed = before.rfind('\n');
    const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
    return JsonError(std::string(text), line, offset - line_start);
}

JsonError JsonReader::peek_error(std::string_view text) const {
    return error_at(std::min(text_.size(), index_ + 1), text);
}

void expect_ident(JsonReader& reader, std::string_view rest) {
    for (const char expected : rest) {
        const int c = reader.next();
        if (c == JsonReader::kEnd) throw reader.error(Syntax::EofWhileParsingValue);
        if (c != static_cast<unsigned char>(expected)) {
            throw reader.error(Syntax::ExpectedSomeIdent);
        }
    }
}

}  // namespace norvik_auth::webapp_data
