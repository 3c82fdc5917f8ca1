// From an init-data query string to a WebAppInitData with its data-check string.
#pragma once

#include <string_view>

#include "util/outcome.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::lib {

/// Parses init data (UTF-8) into `into`, a fresh record; on failure (with the caller-visible
/// message) `into` is left partial. Filled in place, as the record is large: its caller moves it
/// once, into the Python object.
util::Outcome<void> parse_init_data(std::string_view query, webapp_data::WebAppInitData& into);

}  // namespace norvik_auth::lib
