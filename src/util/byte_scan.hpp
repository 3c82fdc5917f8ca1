// Word-at-a-time byte tests for the scanning loops of the decoders.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace norvik_auth::util {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

/// Eight bytes from `p`, in memory order in whatever the machine's byte order is.
inline std::uint64_t load_word(const void* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

/// 0x80 in every byte of `word` that is zero, and 0 elsewhere (exact, no false positives).
inline std::uint64_t zero_bytes(std::uint64_t word) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    return ~(((word & kLow7) + kLow7) | word | kLow7);
}

/// 0x80 in every byte of `word` equal to `byte`.
inline std::uint64_t bytes_equal(std::uint64_t word, unsigned char byte) {
    return zero_bytes(word ^ (kEveryByte * byte));
}

/// Index, in memory order, of the first byte flagged by the tests above (flags non-zero).
inline unsigned first_flagged(std::uint64_t flags) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<unsigned>(std::countr_zero(flags)) / 8;
    } else {
        return static_cast<unsigned>(std::countl_zero(flags)) / 8;
    }
}

}  // namespace norvik_auth::util
