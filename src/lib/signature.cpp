// Secret-key derivation from a bot token and the signature check of parsed init data.
#include "lib/signature.hpp"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/kernels.hpp"
#include "util/secure_wipe.hpp"

#ifdef NORVIK_SSE2
#include <emmintrin.h>
#endif

namespace norvik_auth::lib {
namespace {

constexpr std::string_view kDerivationKey = "SignedView";
constexpr std::size_t kHexSignatureSize = 2 * std::tuple_size_v<Digest>;

// The derivation key is public, so its states are computed while compiling and live in the
// module's constant data.
constexpr HmacKeyStates kDerivationKeyStates = [] {
    std::array<std::uint8_t, kDerivationKey.size()> key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(kDerivationKey[i]);
    }
    return hmac_key_states(key, kSha256Portable);
}();

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

#ifdef NORVIK_SSE2
/// The lowercase hex digit of each lane's value, 0 to 15: '0' + n, and 39 more past 9 to
/// reach 'a'.
__m128i hex_digits(__m128i nibbles) {
    const __m128i past_nine = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
    return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                        _mm_and_si128(past_nine, _mm_set1_epi8(39)));
}
#endif

// Made at load from the kernel table: the compare is called once per validation.
const HexCompareFn kHexCompare = chosen_kernel<SignatureHexEntry>().run;

}  // namespace

namespace kernels {

bool hex_compare_bytewise(const Digest& digest, const char* hash) {
    std::string hex;
    for (const std::uint8_t byte : digest) hex.append(kHexPairs[byte].data(), 2);
    return hex == std::string_view(hash, kHexSignatureSize);
}

/// The digits looked up two at a time, then every byte compared.
bool hex_compare_portable(const Digest& digest, const char* hash) {
    std::array<char, kHexSignatureSize> hex;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        std::memcpy(hex.data() + 2 * i, kHexPairs[digest[i]].data(), 2);
    }
    const bool equal = constant_time_equal(hex.data(), hash, hex.size());
    util::secure_wipe(hex.data(), hex.size());  // as the digest is
    return equal;
}

#ifdef NORVIK_SSE2
/// The digits made sixteen at a time, in registers, and every byte compared whatever the
/// outcome.
bool hex_compare_sse2(const Digest& digest, const char* hash) {
    const __m128i low_nibble = _mm_set1_epi8(0x0f);
    __m128i difference = _mm_setzero_si128();
    for (std::size_t half = 0; half < 2; ++half) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(digest.data() + 16 * half));
        const __m128i high = hex_digits(_mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibble));
        const __m128i low = hex_digits(_mm_and_si128(bytes, low_nibble));
        const char* const text = hash + 32 * half;
        // Each byte's high digit comes first.
        difference = _mm_or_si128(
            difference,
            _mm_xor_si128(_mm_unpacklo_epi8(high, low),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(text))));
        difference = _mm_or_si128(
            difference,
            _mm_xor_si128(_mm_unpackhi_epi8(high, low),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16))));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(difference, _mm_setzero_si128())) == 0xffff;
}
#endif

}  // namespace kernels

Digest derive_secret_key(std::string_view bot_token) {
    return hmac_sha256(kDerivationKeyStates, bytes_of(bot_token));
}

bool signature_matches(std::string_view data_check_string, std::string_view hash,
                       std::span<const std::uint8_t> key) {
    Digest expected = hmac_sha256(key, bytes_of(data_check_string));
    // The length is public (always 64); the bytes are compared without an early exit so the
    // time taken does not tell an attacker how much of a forged signature was right.
    const bool matches = hash.size() == kHexSignatureSize && kHexCompare(expected, hash.data());
    util::secure_wipe(expected.data(), expected.size());
    return matches;
}

bool signed_with(const webapp_data::WebAppInitData& init_data, std::span<const std::uint8_t> key) {
    if (!init_data.data_check_string_unambiguous) return false;
    return signature_matches(init_data.data_check_string, init_data.hash, key);
}

}  // namespace norvik_auth::lib
