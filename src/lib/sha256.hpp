// SHA-256 as FIPS 180-4 defines it: the constants, the portable block functions that every
// processor-specific kernel must agree with, and hashing of a message from a given state.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "util/byte_order.hpp"
#include "util/secure_wipe.hpp"

namespace norvik_auth::lib {

inline constexpr std::size_t kSha256BlockSize = 64;

using Digest = std::array<std::uint8_t, 32>;

/// The eight words H0..H7 of the hash between blocks.
using Sha256State = std::array<std::uint32_t, 8>;

/// One block as its sixteen message words W0..W15, already read big-endian.
using Sha256Words = std::array<std::uint32_t, 16>;

/// A kernel: SHA-256's compression function in two forms.
struct Sha256Kernel {
    /// Compresses `count` consecutive 64-byte blocks at `blocks` (any alignment) into `state`.
    void (*blocks)(Sha256State& state, const std::uint8_t* blocks, std::size_t count);
    /// Compresses one block given as words, for the blocks the hashing builds itself (the last
    /// one with its padding, HMAC's pads and inner digest). A kernel reads them a word at a
    /// time where wider loads would wait for the word stores that just made them.
    void (*words)(Sha256State& state, const Sha256Words& words);
    /// Compresses two independent blocks given as words, each into its own state, their rounds
    /// in turn: where a processor can run two rounds at once, HMAC's second pad costs little.
    void (*word_pair)(Sha256State& first, const Sha256Words& first_words, Sha256State& second,
                      const Sha256Words& second_words);
};

/// H(0), FIPS 180-4 section 5.3.3.
inline constexpr Sha256State kSha256Initial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

/// K0..K63, FIPS 180-4 section 4.2.2. Aligned so that vector kernels load four at a time.
alignas(16) inline constexpr std::array<std::uint32_t, 64> kSha256RoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace sha256_detail {

constexpr std::uint32_t load_big_endian(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

// The functions of FIPS 180-4 section 4.1.2.
constexpr std::uint32_t choose(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & y) ^ (~x & z);
}
constexpr std::uint32_t majority(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & y) ^ (x & z) ^ (y & z);
}
constexpr std::uint32_t big_sigma0(std::uint32_t x) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
constexpr std::uint32_t big_sigma1(std::uint32_t x) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
constexpr std::uint32_t small_sigma0(std::uint32_t x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
constexpr std::uint32_t small_sigma1(std::uint32_t x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

/// One round with the roles of the working variables passed in: `d` becomes the next e and
/// `h` the next a, so eight calls with the names rotated make eight rounds without moves.
constexpr void round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                     std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                     std::uint32_t constant_plus_word) {
    const std::uint32_t t1 = h + big_sigma1(e) + choose(e, f, g) + constant_plus_word;
    d += t1;
    h = t1 + big_sigma0(a) + majority(a, b, c);
}

/// FIPS 180-4 section 6.2.2 on one block whose words are in `w`, which then serves as the
/// rolling window of the message schedule: W(t) for t >= 16 replaces W(t - 16).
constexpr void compress(Sha256State& state, Sha256Words& w) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (std::size_t t = 0; t < 64; t += 8) {
        const auto word = [&](std::size_t i) {
            if (i >= 16) {
                w[i & 15] += small_sigma1(w[(i - 2) & 15]) + w[(i - 7) & 15] +
                             small_sigma0(w[(i - 15) & 15]);
            }
            return kSha256RoundConstants[i] + w[i & 15];
        };
        round(a, b, c, d, e, f, g, h, word(t));
        round(h, a, b, c, d, e, f, g, word(t + 1));
        round(g, h, a, b, c, d, e, f, word(t + 2));
        round(f, g, h, a, b, c, d, e, word(t + 3));
        round(e, f, g, h, a, b, c, d, word(t + 4));
        round(d, e, f, g, h, a, b, c, word(t + 5));
        round(c, d, e, f, g, h, a, b, word(t + 6));
        round(b, c, d, e, f, g, h, a, word(t + 7));
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

/// Wipes what may come from a key; nothing to wipe while compiling.
constexpr void wipe(auto& secret) {
    if (!std::is_constant_evaluated()) util::secure_wipe(secret.data(), sizeof secret);
}

}  // namespace sha256_detail

namespace kernels {

/// The reference, from bytes. Usable while compiling, for constant keys.
constexpr void sha256_blocks_portable(Sha256State& state, const std::uint8_t* blocks,
                                      std::size_t count) {
    Sha256Words w{};
    for (; count > 0; --count, blocks += kSha256BlockSize) {
        for (std::size_t t = 0; t < 16; ++t) w[t] = sha256_detail::load_big_endian(blocks + 4 * t);
        sha256_detail::compress(state, w);
    }
    sha256_detail::wipe(w);
}

/// The reference, from words.
constexpr void sha256_words_portable(Sha256State& state, const Sha256Words& words) {
    Sha256Words w = words;
    sha256_detail::compress(state, w);
    sha256_detail::wipe(w);
}

/// The reference, one block after the other.
constexpr void sha256_word_pair_portable(Sha256State& first, const Sha256Words& first_words,
                                         Sha256State& second, const Sha256Words& second_words) {
    sha256_words_portable(first, first_words);
    sha256_words_portable(second, second_words);
}

}  // namespace kernels

inline constexpr Sha256Kernel kSha256Portable{kernels::sha256_blocks_portable,
                                              kernels::sha256_words_portable,
                                              kernels::sha256_word_pair_portable};

/// `bytes` (fewer than 64, or 64 with `next` zero) as big-endian words, followed by the byte
/// `next` and zeros, every word XORed with `mask`. Each word is made in a register and stored
/// once: see Sha256Kernel::words.
constexpr void load_words(std::span<const std::uint8_t> bytes, Sha256Words& words,
                          std::uint32_t mask = 0, std::uint8_t next = 0) {
    const std::size_t whole = bytes.size() / 4;
    std::uint32_t partial = std::uint32_t{next} << (24 - 8 * (bytes.size() % 4));
    for (std::size_t i = 4 * whole; i < bytes.size(); ++i) {
        partial |= std::uint32_t{bytes[i]} << (24 - 8 * (i % 4));
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::uint32_t word = i < whole ? sha256_detail::load_big_endian(bytes.data() + 4 * i)
                                   : i == whole ? partial
                                                : 0;
        words[i] = word ^ mask;
    }
}

/// Hashes `message` into `state`, which has `blocks_done` whole blocks behind it, up to and
/// including the padding of FIPS 180-4 section 5.1.1 (0x80, zeros, the length in bits as 64
/// bits big-endian): `state` is then the hash of everything. Whole blocks are compressed where
/// they lie; the last one or two are built as words.
constexpr void sha256_to_end(Sha256State& state, std::uint64_t blocks_done,
                             std::span<const std::uint8_t> message, const Sha256Kernel& kernel) {
    const std::size_t whole = message.size() / kSha256BlockSize;
    if (whole > 0) kernel.blocks(state, message.data(), whole);
    const std::span<const std::uint8_t> tail = message.subspan(whole * kSha256BlockSize);
    Sha256Words last;
    load_words(tail, last, 0, 0x80);
    if (tail.size() >= kSha256BlockSize - 8) {  // no room for the length: one more block
        kernel.words(state, last);
        last.fill(0);
    }
    const std::uint64_t bits = (blocks_done * kSha256BlockSize + message.size()) * 8;
    last[14] = static_cast<std::uint32_t>(bits >> 32);
    last[15] = static_cast<std::uint32_t>(bits);
    kernel.words(state, last);
    sha256_detail::wipe(last);
}

/// The digest: the state's words big-endian. A word's four bytes go in one store, which the
/// compiler does not always see in byte stores.
constexpr void store_digest(const Sha256State& state, Digest& digest) {
    for (std::size_t i = 0; i < state.size(); ++i) {
        std::uint32_t word = state[i];
        if (std::is_constant_evaluated()) {
            for (std::size_t j = 4; j-- > 0; word >>= 8) {
                digest[4 * i + j] = static_cast<std::uint8_t>(word);
            }
        } else {
            if constexpr (std::endian::native == std::endian::little) {
                word = util::byte_swap32(word);
            }
            std::memcpy(digest.data() + 4 * i, &word, sizeof word);
        }
    }
}

/// SHA-256 of `message` through `kernel`.
constexpr Digest sha256(std::span<const std::uint8_t> message, const Sha256Kernel& kernel) {
    Sha256State state = kSha256Initial;
    sha256_to_end(state, 0, message, kernel);
    Digest digest{};
    store_digest(state, digest);
    sha256_detail::wipe(state);
    return digest;
}

}  // namespace norvik_auth::lib
