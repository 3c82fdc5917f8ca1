// From an init-data query string to a WebAppInitData with its data-check string.
#pragma once

#include <string_view>

#include "util/outcome.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::lib {

/// Parses init data (UTF-8): the record, or the failure with its caller-visible message.
util::Outcome<webapp_data::WebAppInitData> parse_init_data(std::string_view query);

}  // namespace norvik_auth::lib
