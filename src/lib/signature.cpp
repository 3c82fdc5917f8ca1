// Secret-key derivation from a bot token and the signature check of parsed init data.
#include "lib/signature.hpp"

#include <array>
#include <string_view>

namespace norvik_auth::lib {
namespace {

constexpr std::string_view kDerivationKey = "SignedView";
constexpr std::size_t kHexSignatureSize = 2 * std::tuple_size_v<Digest>;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

/// Lowercase base16: high nibble first, so every byte takes exactly two characters.
std::array<char, kHexSignatureSize> to_lower_hex(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::array<char, kHexSignatureSize> hex{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
    }
    return hex;
}

}  // namespace

Digest derive_secret_key(HmacSha256& hmac, std::string_view bot_token) {
    return hmac(bytes_of(kDerivationKey), bytes_of(bot_token));
}

bool signature_matches(HmacSha256& hmac, std::string_view data_check_string,
                       std::string_view hash, std::span<const std::uint8_t> key) {
    const auto expected = to_lower_hex(hmac(key, bytes_of(data_check_string)));
    // The length is public (always 64); the bytes are compared without an early exit so the
    // time taken does not tell an attacker how much of a forged signature was right.
    return hash.size() == expected.size() &&
           constant_time_equal(expected.data(), hash.data(), expected.size());
}

bool signed_with(HmacSha256& hmac, const webapp_data::WebAppInitData& init_data,
                 std::span<const std::uint8_t> key) {
    return init_data.data_check_string_unambiguous &&
           signature_matches(hmac, init_data.data_check_string, init_data.hash, key);
}

}  // namespace norvik_auth::lib
