// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norvik_auth::lib {

struct FormPair {
    std::string name;
    std::string value;
};

/// Splits on raw '&' and the first '=', maps '+' to space, percent-decodes, and decodes UTF-8
/// replacing each maximal ill-formed subsequence with U+FFFD. Never fails.
std::vector<FormPair> decode_form(std::string_view input);

}  // namespace norvik_auth::lib
