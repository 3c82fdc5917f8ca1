// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <optional>
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
bool decode_component(std::string_view raw, std::pmr::string& out);

/// A decoded pair as views.
struct FormPairView {
    std::string_view name;
    std::string_view value;
};

/// Every pair of an input decoded at once, in input order. Parts that need no decoding are
/// views of the input; the others view one buffer owned here. Views live as long as the object
/// and the input. Its memory comes from `memory`.
class DecodedForm {
public:
    explicit DecodedForm(std::string_view input,
                         std::pmr::memory_resource* memory = std::pmr::get_default_resource());
    DecodedForm(const DecodedForm&) = delete;
    DecodedForm& operator=(const DecodedForm&) = delete;

    /// The pairs; callers may reorder or drop them.
    std::pmr::vector<FormPairView>& pairs() { return pairs_; }
    const std::pmr::vector<FormPairView>& pairs() const { return pairs_; }

private:
    /// Fills the pairs with `room` bytes reserved for decoded parts; false if that was too few.
    bool decode_pairs(std::string_view input, std::size_t room);
    /// The decoded part, or nothing when the buffer had to move to hold it.
    std::optional<std::string_view> add_part(std::string_view raw);

    std::pmr::string decoded_;  // never reallocated while views into it are kept
    std::pmr::vector<FormPairView> pairs_;
};

}  // namespace norvik_auth::lib
