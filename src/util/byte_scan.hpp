// Word-at-a-time byte tests for the scanning loops of the decoders, and a short-text compare.
#pragma once

#include <bit>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <string_view>

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

/// Whether `a` and `b` hold the same bytes. Short texts (names, mostly) are compared as two
/// overlapping words each, without a call: inlined even into the largest callers, where the
/// compiler would otherwise call it.
[[gnu::always_inline]] inline bool same_bytes(std::string_view a, std::string_view b) {
    const std::size_t size = a.size();
    if (size != b.size()) return false;
    if (size > 16) return std::memcmp(a.data(), b.data(), size) == 0;
    if (size >= 8) {
        return ((load_word(a.data()) ^ load_word(b.data())) |
                (load_word(a.data() + size - 8) ^ load_word(b.data() + size - 8))) == 0;
    }
    if (size >= 4) {
        std::uint32_t words[4];
        std::memcpy(&words[0], a.data(), 4);
        std::memcpy(&words[1], a.data() + size - 4, 4);
        std::memcpy(&words[2], b.data(), 4);
        std::memcpy(&words[3], b.data() + size - 4, 4);
        return ((words[0] ^ words[2]) | (words[1] ^ words[3])) == 0;
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
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
