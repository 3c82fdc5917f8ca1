// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#pragma once

#include <cstddef>
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

/// Decodes one name or value, appending the result to `out`; returns false, appending
/// nothing, when `raw` is already its own decoded form.
bool decode_component(std::string_view raw, std::string& out);

/// Every pair of an input decoded at once, in input order. Parts that need no decoding are
/// views of the input; the others share one buffer. Views live as long as the object and input.
class DecodedForm {
public:
    explicit DecodedForm(std::string_view input);
    DecodedForm(const DecodedForm&) = delete;
    DecodedForm& operator=(const DecodedForm&) = delete;

    std::size_t size() const { return parts_.size() / 2; }
    std::string_view name(std::size_t pair) const { return text(parts_[2 * pair]); }
    std::string_view value(std::size_t pair) const { return text(parts_[2 * pair + 1]); }

private:
    // A part is either a view of the input (`input` set) or a range of `decoded_`, which may
    // still grow while parts are added.
    struct Part {
        const char* input;
        std::size_t offset;
        std::size_t size;
    };
    std::string_view text(const Part& part) const {
        return {part.input != nullptr ? part.input : decoded_.data() + part.offset, part.size};
    }
    void add_part(std::string_view raw);

    std::string decoded_;
    std::vector<Part> parts_;  // name, value, name, value, ...
};

}  // namespace norvik_auth::lib
