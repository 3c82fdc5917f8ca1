// Secret-key derivation and signature checking of init data.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "lib/hmac_sha256.hpp"
#include "util/outcome.hpp"
#include "webapp_data/webapp_init_data.hpp"

namespace norvik_auth::lib {

/// The module's signature work over one HMAC engine. The derivation key is a public constant,
/// so its hash states are made once, here; no secret key is kept beyond a call. One call at a
/// time, as for the engine.
/// Each computation is a Failure only when libcrypto fails on the way (it allocates inside).
class Signer {
public:
    /// The signer, or a Failure saying why libcrypto cannot supply SHA-256. Throws
    /// std::bad_alloc when memory runs out.
    static util::Outcome<Signer> create();

    /// The bot's secret key: HMAC-SHA-256 of the token's UTF-8 bytes under the derivation key.
    util::Outcome<Digest> derive_secret_key(std::string_view bot_token);

    /// True when `hash` is the lowercase hex HMAC-SHA-256 of `data_check_string` under `key`.
    util::Outcome<bool> signature_matches(std::string_view data_check_string,
                                          std::string_view hash,
                                          std::span<const std::uint8_t> key);

    /// True when `init_data` carries a signature made with `key` over exactly the pairs it was
    /// parsed from: a data-check string whose lines could be read as other pairs proves nothing.
    util::Outcome<bool> signed_with(const webapp_data::WebAppInitData& init_data,
                                    std::span<const std::uint8_t> key);

private:
    Signer(HmacSha256&& hmac, HmacSha256::KeyStates&& derivation_key)
        : hmac_(std::move(hmac)), derivation_key_(std::move(derivation_key)) {}

    HmacSha256 hmac_;
    HmacSha256::KeyStates derivation_key_;
};

}  // namespace norvik_auth::lib
