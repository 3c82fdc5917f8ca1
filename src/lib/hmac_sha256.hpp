// HMAC-SHA-256 as RFC 2104 defines it, and a constant-time byte comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "lib/sha256.hpp"

namespace norvik_auth::lib {

/// A pad of RFC 2104, K ^ (`mask` in every word), where K is `key` padded with zeros to one
/// SHA-256 block, or, for a key longer than a block, its SHA-256 digest padded so.
constexpr void make_pad(std::span<const std::uint8_t> key, std::uint32_t mask, Sha256Words& pad,
                        const Sha256Kernel& kernel) {
    if (key.size() <= kSha256BlockSize) return load_words(key, pad, mask);
    Sha256State state = kSha256Initial;
    sha256_to_end(state, 0, key, kernel);
    for (std::size_t i = 0; i < pad.size(); ++i) pad[i] = (i < state.size() ? state[i] : 0) ^ mask;
    sha256_detail::wipe(state);
}

inline constexpr std::uint32_t kInnerPad = 0x36363636;
inline constexpr std::uint32_t kOuterPad = 0x5c5c5c5c;

/// The hash states after a key's inner pad (K ^ 0x36...) and outer pad (K ^ 0x5c...), the first
/// block of either hash. Kept between calls only for a key that is no secret: HMAC under it
/// then costs two blocks fewer per message.
struct HmacKeyStates {
    Sha256State inner;
    Sha256State outer;
};

/// The states of `key` through `kernel`: for a public key known when compiling, computed then
/// with the portable kernel.
constexpr HmacKeyStates hmac_key_states(std::span<const std::uint8_t> key,
                                        const Sha256Kernel& kernel) {
    // Each pad is built from the key on its own, a word at a time, rather than one from the
    // other in place: the kernel then reads every word straight from the store that made it.
    // A key longer than a block is hashed twice, a rare case paid for by the common one. The
    // two pads are compressed together, the outer one in the inner one's waits.
    HmacKeyStates states{kSha256Initial, kSha256Initial};
    Sha256Words inner_pad;
    Sha256Words outer_pad;
    make_pad(key, kInnerPad, inner_pad, kernel);
    make_pad(key, kOuterPad, outer_pad, kernel);
    kernel.word_pair(states.inner, inner_pad, states.outer, outer_pad);
    sha256_detail::wipe(inner_pad);
    sha256_detail::wipe(outer_pad);
    return states;
}

/// HMAC-SHA-256 of `message` under `key`, through the fastest kernel this processor runs. Keys
/// and messages of any length, zero included. Everything derived from the key (key block, pads,
/// states, inner digest) is wiped before the digest is returned.
Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

/// The same through a given kernel (to check each one).
Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
                   const Sha256Kernel& kernel);

/// HMAC-SHA-256 of `message` under the key whose states are `states`, through the fastest kernel.
Digest hmac_sha256(const HmacKeyStates& states, std::span<const std::uint8_t> message);

/// Compares two equally long buffers in time independent of their contents.
bool constant_time_equal(const void* a, const void* b, std::size_t size);

}  // namespace norvik_auth::lib
