// Decoding of application/x-www-form-urlencoded text into ordered (name, value) pairs.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

namespace norvik_auth::lib {

/// A decoded pair as views.
struct FormPairView {
    std::string_view name;
    std::string_view value;
};

/// Every pair of an input decoded at once, in input order: split on raw '&' (empty sequences
/// skipped) and the first '=', '+' mapped to space, percent-decoded, and each maximal
/// ill-formed UTF-8 subsequence replaced with U+FFFD. Never fails. Parts that need no decoding
/// are views of the input; the others view one buffer owned here. Views live as long as the
/// object and the input. Its memory comes from `memory`.
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
    /// The decoded part: a view of `raw` itself, or of what was appended to the buffer. The
    /// first `prefix` bytes decode to themselves; `has_escape`: `raw` holds '+' or '%'.
    std::string_view add_part(std::string_view raw, std::size_t prefix, bool has_escape);

    std::pmr::string decoded_;  // reserved once for the worst case, so views into it stay valid
    std::pmr::vector<FormPairView> pairs_;
};

}  // namespace norvik_auth::lib
