// Zeroing of secrets that a compiler may not leave out because the memory is never read again.
#pragma once

#include <cstddef>
#include <cstring>

namespace norvik_auth::util {

/// Sets `size` bytes at `data` to zero, even when nothing reads them afterwards. Inline, so that
/// a wipe of a known small size is a few stores rather than a call.
inline void secure_wipe(void* data, std::size_t size) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    std::memset(data, 0, size);
    // The compiler must assume that this empty statement reads the memory at `data`, so the
    // stores above stay, with link-time optimisation too.
    __asm__ __volatile__("" : : "r"(data) : "memory");
#else
    // Stores through a volatile pointer are never dropped.
    auto* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
}

}  // namespace norvik_auth::util
