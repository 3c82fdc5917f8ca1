// A byte cursor over one complete JSON text, and where its failures point.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "webapp_data/json_error.hpp"
#include "webapp_data/json_stops.hpp"

namespace norvik_auth::webapp_data {

/// Looks at and takes the bytes of a text, and keeps the failure of its decoding.
///
/// The grammar's functions over the reader answer `[[nodiscard]] bool`: true when they went on,
/// false when the text was refused, the reader then holding why (as CPython's functions return
/// null with the exception set). A value they read goes to an out-parameter. The first failure
/// ends the decoding: no function runs on after a false.
///
/// A failure is recorded with the position of one of two rules: `error` points just past the
/// last byte taken, `peek_error` one byte further (capped at the end), as for a failure found by
/// looking at a byte without taking it. Both return false, for `return reader.error(...);`.
class JsonReader {
public:
    static constexpr int kEnd = -1;

    explicit JsonReader(std::string_view text) : text_(text) {}

    /// The next byte without taking it, or kEnd.
    int peek() const {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEnd;
    }
    /// Takes the next byte, or returns kEnd.
    int next() {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_++]) : kEnd;
    }
    /// Takes the byte that peek() returned; only call when it was not kEnd.
    void eat() { ++index_; }
    /// Skips JSON whitespace (space, tab, line feed, carriage return) and peeks.
    int skip_whitespace() {
        // Compact JSON has no whitespace at all: the next byte is usually the answer.
        if (index_ < text_.size() && static_cast<unsigned char>(text_[index_]) > ' ') {
            return static_cast<unsigned char>(text_[index_]);
        }
        return skip_some_whitespace();
    }

    /// The bytes not taken yet, for scanning loops; `advance` takes `count` of them.
    std::string_view rest() const { return text_.substr(index_); }
    void advance(std::size_t count) { index_ += count; }

    /// How many bytes from the cursor come before the first '"', '\\' or control character (all
    /// that are left when there is none): the plain run of a string at the cursor.
    std::size_t plain_run_length() {
        if constexpr (!kJsonBlockStops) {
            return json_plain_run_length_words(rest());
        } else {
            // The stops of the cursor's block are usually known already, found for an earlier
            // string of it: a string that ends in the same block then costs a shift and a count.
            const std::size_t offset = index_ % kJsonStopBlock;
            if (index_ - offset == stops_block_) {
                const std::uint64_t ahead = stops_ >> offset;
                if (ahead != 0) return static_cast<std::size_t>(std::countr_zero(ahead));
            }
            return find_plain_run_end();
        }
    }

    [[nodiscard]] bool error(Syntax syntax) { return fail_at(index_, message(syntax)); }
    [[nodiscard]] bool peek_error(Syntax syntax) { return fail_at(peek_offset(), message(syntax)); }
    /// A failure worded for this input, such as an invalid type with the value found.
    [[nodiscard]] bool peek_error(std::string&& message) {
        return fail_at(peek_offset(), std::move(message));
    }

    /// The failure the last false stood for.
    JsonError& failure() { return failure_; }

private:
    int skip_some_whitespace();
    std::size_t find_plain_run_end();
    void find_stops(std::size_t block);
    std::size_t peek_offset() const { return std::min(text_.size(), index_ + 1); }
    /// Record the failure with the line and column of `offset`; return false. Out of the way of
    /// the decoding that goes on.
    [[gnu::cold]] bool fail_at(std::size_t offset, std::string_view fixed_message);
    [[gnu::cold]] bool fail_at(std::size_t offset, std::string&& message);
    struct Position {
        std::size_t line;
        std::size_t column;
    };
    Position position_of(std::size_t offset) const;

    std::string_view text_;
    std::size_t index_ = 0;
    // The stops of the block of the text that starts at `stops_block_`, one bit a byte; no
    // block starts at the initial offset.
    std::size_t stops_block_ = static_cast<std::size_t>(-1);
    std::uint64_t stops_ = 0;
    JsonError failure_;
};

/// After the first letter of `null`, `true` or `false` was taken: takes the rest of it.
[[nodiscard]] bool expect_ident(JsonReader& reader, std::string_view rest);

}  // namespace norvik_auth::webapp_data
