// From an init-data query string to a WebAppInitData with its data-check string.
#pragma once

#include <string_view>

#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::lib {

/// Parses init data (UTF-8); throws Abort with the caller-visible message on failure.
webapp_data::WebAppInitData parse_init_data(std::string_view query);

}  // namespace norvik_auth::lib
