// Secret-key derivation and signature checking of init data.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "lib/hmac_sha256.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::lib {

/// The bot's secret key: HMAC-SHA-256 of the token's UTF-8 bytes under the derivation key.
Digest derive_secret_key(std::string_view bot_token);

/// True when `hash` is the lowercase hex HMAC-SHA-256 of `data_check_string` under `key`.
bool signature_matches(std::string_view data_check_string, std::string_view hash,
                       std::span<const std::uint8_t> key);

/// True when `init_data` carries a signature made with `key` over exactly the pairs it was
/// parsed from: a data-check string whose lines could be read as other pairs proves nothing.
bool signed_with(const webapp_data::WebAppInitData& init_data, std::span<const std::uint8_t> key);

}  // namespace norvik_auth::lib
