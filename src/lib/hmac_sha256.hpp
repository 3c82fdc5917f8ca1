// HMAC-SHA-256 and constant-time comparison, backed by OpenSSL's libcrypto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace norvik_auth::lib {

using Digest = std::array<std::uint8_t, 32>;

/// HMAC-SHA-256 of `message` under `key`; any lengths, zero included.
Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

/// Compares two equally long buffers in time independent of their contents.
bool constant_time_equal(const void* a, const void* b, std::size_t size);

}  // namespace norvik_auth::lib
