// The text the init-data signature covers, built from the decoded pairs.
#pragma once

#include <span>
#include <string>

#include "lib/field_map.hpp"

namespace norvik_auth::lib {

/// Lines "name=value" of the entries other than `hash` with a non-empty value, sorted bytewise
/// on the whole line and joined by '\n'. Entries must have distinct names; they are reordered.
std::string build_data_check_string(std::span<FieldEntry> entries);

}  // namespace norvik_auth::lib
