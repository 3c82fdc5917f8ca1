// Skipping a JSON value of unknown shape, checking its syntax on the way.
#pragma once

#include "webapp_data/json_reader.hpp"

namespace norvik_auth::webapp_data {

/// Takes one value of any type and depth, with a bracket stack of its own (never recursion).
[[nodiscard]] bool skip_value(JsonReader& reader);

}  // namespace norvik_auth::webapp_data
