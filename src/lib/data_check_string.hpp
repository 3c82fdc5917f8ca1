// The text the init-data signature covers, built from the decoded pairs.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "lib/field_map.hpp"
#include "webapp_data/text_arena.hpp"

namespace norvik_auth::lib {

/// The size of the data-check string of `entries`, without building it.
std::size_t data_check_string_size(std::span<const FieldEntry> entries);

/// The text the signature covers, and whether its lines can only be read as the pairs it was
/// built from (no name with '=' or a line feed, no value with a line feed).
struct DataCheckString {
    std::string_view text;
    bool unambiguous = true;
};

/// Lines "name=value" of the entries other than `hash` with a non-empty value, sorted bytewise
/// on the whole line and joined by '\n', kept in `texts`. Entries must have distinct names.
/// The value of each entry that makes a line then views its copy in the text, and so lives as
/// long as `texts`; the entries keep their order.
DataCheckString build_data_check_string(std::span<FieldEntry> entries,
                                        webapp_data::TextArena& texts);

}  // namespace norvik_auth::lib
