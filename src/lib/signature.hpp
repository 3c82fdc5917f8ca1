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

/// True when `hash` is the lowercase hex HMAC-SHA-256 of the data-check string under `key`.
bool signature_matches(const webapp_data::WebAppInitData& init_data,
                       std::span<const std::uint8_t> key);

}  // namespace norvik_auth::lib
