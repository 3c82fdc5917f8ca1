// Pair-at-a-time decoding of application/x-www-form-urlencoded text (the rules of decode_form).
#pragma once

#include <cstddef>
#include <string_view>

#include "lib/form_urlencoded.hpp"

namespace norvik_auth::lib {

/// Yields the pairs of `input` one by one, so that callers need not hold them all at once.
class FormPairReader {
public:
    /// `input` must outlive the reader.
    explicit FormPairReader(std::string_view input) : input_(input) {}

    /// Decodes the next pair into `pair` (overwriting it); false when no pair is left.
    bool next(FormPair& pair);

private:
    std::string_view input_;
    std::size_t position_ = 0;
};

}  // namespace norvik_auth::lib
