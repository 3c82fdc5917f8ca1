// The text the init-data signature covers, built from the decoded pairs.
#pragma once

#include <string>

#include "lib/field_map.hpp"

namespace norvik_auth::lib {

/// Lines "name=value" of the entries other than `hash` with a non-empty value, sorted bytewise
/// on the whole line and joined by '\n'.
std::string build_data_check_string(const FieldEntries& fields);

}  // namespace norvik_auth::lib
