// A byte cursor over one complete JSON text, and where its failures point.
#include "webapp_data/json_reader.hpp"

#include <cstring>

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

// Out of line, so that the callers of plain_run_length save no registers for the rare case.
[[gnu::noinline]] std::size_t JsonReader::find_plain_run_end() {
    for (std::size_t at = index_; at < text_.size();) {
        const std::size_t offset = at % kJsonStopBlock;
        const std::size_t block = at - offset;
        if (block != stops_block_) find_stops(block);
        const std::uint64_t ahead = stops_ >> offset;
        if (ahead != 0) return at + static_cast<std::size_t>(std::countr_zero(ahead)) - index_;
        at = block + kJsonStopBlock;
    }
    return text_.size() - index_;
}

void JsonReader::find_stops(std::size_t block) {
    const std::size_t left = text_.size() - block;
    if (left >= kJsonStopBlock) {
        stops_ = json_block_stops(text_.data() + block, kJsonStopBlock);
    } else if (text_.size() >= kJsonStopBlock) {
        // The last, partial block of a longer text is read as the end of the last whole block's
        // worth of bytes, the bits of the bytes before it shifted out: no copy and no mask.
        stops_ = json_block_stops(text_.data() + text_.size() - kJsonStopBlock, kJsonStopBlock) >>
                 (kJsonStopBlock - left);
    } else {
        stops_ = json_block_stops(text_.data(), left);
    }
    stops_block_ = block;
}

// Line and column are only computed here, on failure, so the success path never counts lines.
// Line feeds are rare in JSON members: each is found by memchr, which a text without one
// passes in a single call.
JsonReader::Position JsonReader::position_of(std::size_t offset) const {
    std::size_t line = 1;
    std::size_t line_start = 0;
    while (line_start < offset) {
        const void* const feed = std::memchr(text_.data() + line_start, '\n', offset - line_start);
        if (feed == nullptr) break;
        ++line;
        line_start = static_cast<std::size_t>(static_cast<const char*>(feed) - text_.data()) + 1;
    }
    return {line, offset - line_start};
}

bool JsonReader::fail_at(std::size_t offset, std::string_view fixed_message) {
    const Position at = position_of(offset);
    failure_ = JsonError(fixed_message, at.line, at.column);
    return false;
}

bool JsonReader::fail_at(std::size_t offset, std::string&& message) {
    const Position at = position_of(offset);
    failure_ = JsonError(std::move(message), at.line, at.column);
    return false;
}

bool expect_ident(JsonReader& reader, std::string_view rest) {
    for (const char expected : rest) {
        const int c = reader.next();
        if (c == JsonReader::kEnd) return reader.error(Syntax::EofWhileParsingValue);
        if (c != static_cast<unsigned char>(expected)) {
            return reader.error(Syntax::ExpectedSomeIdent);
        }
    }
    return true;
}

}  // namespace norvik_auth::webapp_data
