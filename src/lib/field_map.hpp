// The init-data members as a map from name to the value of the name's last pair.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace norvik_auth::lib {

/// Name to value, names compared as exact bytes; a tree keeps the worst case at n log n.
using FieldEntries = std::map<std::string, std::string, std::less<>>;

/// Decodes `query` pair by pair; a later pair replaces the value of an earlier one of its name.
FieldEntries collect_fields(std::string_view query);

/// The value stored for `name`, or nullptr.
std::string* find_field(FieldEntries& fields, std::string_view name);

}  // namespace norvik_auth::lib
