// HMAC-SHA-256 and constant-time comparison, backed by OpenSSL's libcrypto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "util/outcome.hpp"

// libcrypto's own types, declared here so that its headers stay inside hmac_sha256.cpp.
struct evp_md_st;
struct evp_md_ctx_st;

namespace norvik_auth::lib {

using Digest = std::array<std::uint8_t, 32>;

/// HMAC-SHA-256 through libcrypto. The algorithm is fetched and the hashing context made once,
/// when the object is made, so a computation needs neither; no key material stays in the
/// object between computations. One computation at a time: callers serialise.
class HmacSha256 {
public:
    /// The engine, or a Failure saying why libcrypto cannot supply SHA-256 (no provider offers
    /// it, or it failed to start), with libcrypto's own reason where it gave one. Throws
    /// std::bad_alloc when memory runs out.
    static util::Outcome<HmacSha256> create();
    HmacSha256(HmacSha256&& other) noexcept;
    HmacSha256& operator=(HmacSha256&&) = delete;
    ~HmacSha256();

    /// HMAC-SHA-256 of `message` under `key`; any lengths, zero included. A Failure when
    /// libcrypto fails on the way (it allocates inside); the object stays usable.
    util::Outcome<Digest> operator()(std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> message);

    /// The hash states of one key after its inner and outer pads: messages under that key then
    /// cost two blocks fewer each. For keys that are no secret (a constant of the protocol):
    /// the states live as long as this object.
    class KeyStates {
    public:
        KeyStates(const KeyStates&) = delete;
        KeyStates& operator=(const KeyStates&) = delete;
        KeyStates(KeyStates&& other) noexcept;
        KeyStates& operator=(KeyStates&&) = delete;
        ~KeyStates();

    private:
        friend class HmacSha256;
        KeyStates() = default;
        evp_md_ctx_st* inner_ = nullptr;
        evp_md_ctx_st* outer_ = nullptr;
    };

    /// A Failure when libcrypto refuses; throws std::bad_alloc when memory runs out.
    util::Outcome<KeyStates> key_states(std::span<const std::uint8_t> key);
    /// HMAC-SHA-256 of `message` under the key of `states`; fails as operator() does.
    util::Outcome<Digest> operator()(const KeyStates& states,
                                     std::span<const std::uint8_t> message);

private:
    HmacSha256() = default;

    // The steps of a computation: false when libcrypto failed at one.

    /// Writes the 64-byte inner and outer pads of `key`.
    [[nodiscard]] bool make_pads(std::span<const std::uint8_t> key, std::uint8_t* inner_pad,
                                 std::uint8_t* outer_pad);
    [[nodiscard]] bool hash_padded(const std::uint8_t* pad, std::span<const std::uint8_t> message,
                                   std::uint8_t* out);
    [[nodiscard]] bool hash_from(const evp_md_ctx_st* state,
                                 std::span<const std::uint8_t> message, std::uint8_t* out);

    evp_md_st* sha256_ = nullptr;
    evp_md_ctx_st* context_ = nullptr;
};

/// Compares two equally long buffers in time independent of their contents.
bool constant_time_equal(const void* a, const void* b, std::size_t size);

}  // namespace norvik_auth::lib
