// Byte order helpers that every compiler the module is built with understands.
#pragma once

#include <bit>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <stdlib.h>
#endif

namespace norvik_auth::util {

/// `value` with its eight bytes in reverse order, by shifts, for compilers without a builtin.
constexpr std::uint64_t byte_swap64_shifts(std::uint64_t value) {
    value = (value & 0x00000000FFFFFFFFULL) << 32 | value >> 32;
    value = (value & 0x0000FFFF0000FFFFULL) << 16 | (value >> 16 & 0x0000FFFF0000FFFFULL);
    return (value & 0x00FF00FF00FF00FFULL) << 8 | (value >> 8 & 0x00FF00FF00FF00FFULL);
}
static_assert(byte_swap64_shifts(0x0102030405060708ULL) == 0x0807060504030201ULL);

/// `value` with its eight bytes in reverse order: one instruction where the compiler has one.
inline std::uint64_t byte_swap64(std::uint64_t value) {
#if defined(__cpp_lib_byteswap)
    return std::byteswap(value);
#elif defined(_MSC_VER) && !defined(__clang__)
    return _byteswap_uint64(value);
#elif defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(value);
#else
    return byte_swap64_shifts(value);
#endif
}

/// `value` with its four bytes in reverse order: one instruction where the compiler has one.
inline std::uint32_t byte_swap32(std::uint32_t value) {
#if defined(__cpp_lib_byteswap)
    return std::byteswap(value);
#elif defined(_MSC_VER) && !defined(__clang__)
    return _byteswap_ulong(value);
#elif defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(value);
#else
    return value >> 24 | (value >> 8 & 0xff00) | (value << 8 & 0xff0000) | value << 24;
#endif
}

/// Eight bytes read as one number that orders like the bytes compared one by one.
inline std::uint64_t big_endian_value(std::uint64_t word_in_memory_order) {
    if constexpr (std::endian::native == std::endian::little) {
        return byte_swap64(word_in_memory_order);
    } else {
        return word_in_memory_order;
    }
}

}  // namespace norvik_auth::util
