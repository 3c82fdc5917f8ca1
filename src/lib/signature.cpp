// Secret-key derivation from a bot token and the signature check of parsed init data.
#include "lib/signature.hpp"

#include <array>
#include <cstring>
#include <string_view>

namespace norvik_auth::lib {
namespace {

constexpr std::string_view kDerivationKey = "SignedView";
constexpr std::size_t kHexSignatureSize = 2 * std::tuple_size_v<Digest>;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

/// The two lowercase hex digits of every byte value, high nibble first.
constexpr std::array<std::array<char, 2>, 256> make_hex_pairs() {
    constexpr char kDigits[] = "0123456789abcdef";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int byte = 0; byte < 256; ++byte) pairs[byte] = {kDigits[byte >> 4], kDigits[byte & 0x0f]};
    return pairs;
}
constexpr auto kHexPairs = make_hex_pairs();

/// Lowercase base16: every byte takes exactly two characters.
std::array<char, kHexSignatureSize> to_lower_hex(const Digest& digest) {
    std::array<char, kHexSignatureSize> hex;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        std::memcpy(hex.data() + 2 * i, kHexPairs[digest[i]].data(), 2);
    }
    return hex;
}

}  // namespace

Signer::Signer() : derivation_key_(hmac_.key_states(bytes_of(kDerivationKey))) {}

Digest Signer::derive_secret_key(std::string_view bot_token) {
    return hmac_(derivation_key_, bytes_of(bot_token));
}

bool Signer::signature_matches(std::string_view data_check_string, std::string_view hash,
                               std::span<const std::uint8_t> key) {
    const auto expected = to_lower_hex(hmac_(key, bytes_of(data_check_string)));
    // The length is public (always 64); the bytes are compared without an early exit so the
    // time taken does not tell an attacker how much of a forged signature was right.
    return hash.size() == expected.size() &&
           constant_time_equal(expected.data(), hash.data(), expected.size());
}

bool Signer::signed_with(const webapp_data::WebAppInitData& init_data,
                         std::span<const std::uint8_t> key) {
    return init_data.data_check_string_unambiguous &&
           signature_matches(init_data.data_check_string, init_data.hash, key);
}

}  // namespace norvik_auth::lib
