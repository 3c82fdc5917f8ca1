// HMAC-SHA-256 over the core's own SHA-256, and a constant-time byte comparison.
#include "lib/hmac_sha256.hpp"

#include "lib/kernels.hpp"
#include "util/byte_scan.hpp"

namespace norvik_auth::lib {
namespace {

// Made at load from the kernel table.
const Sha256Kernel kChosen = chosen_kernel<Sha256Entry>().run;

/// The outer hash's second and last block: the inner digest (the inner state's words, as the
/// digest's bytes would be read back) and the padding of a 96-byte message.
Sha256Words outer_block(const Sha256State& inner) {
    Sha256Words block{};
    std::copy(inner.begin(), inner.end(), block.begin());
    block[8] = 0x80000000;
    block[15] = (kSha256BlockSize + sizeof(Digest)) * 8;
    return block;
}

/// Finishes HMAC from the states after both pads: the inner hash over `message`, then the
/// outer one. `inner` and `outer` are used up and wiped, with the block between them.
Digest finish_hmac(Sha256State& inner, Sha256State& outer, std::span<const std::uint8_t> message,
                   const Sha256Kernel& kernel) {
    sha256_to_end(inner, 1, message, kernel);
    Sha256Words block = outer_block(inner);
    kernel.words(outer, block);
    Digest digest;
    store_digest(outer, digest);
    sha256_detail::wipe(block);
    sha256_detail::wipe(inner);
    sha256_detail::wipe(outer);
    return digest;
}

}  // namespace

// RFC 2104: H((K ^ opad) || H((K ^ ipad) || message)).
Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message,
                   const Sha256Kernel& kernel) {
    HmacKeyStates states = hmac_key_states(key, kernel);
    return finish_hmac(states.inner, states.outer, message, kernel);
}

Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
    return hmac_sha256(key, message, kChosen);
}

Digest hmac_sha256(const HmacKeyStates& states, std::span<const std::uint8_t> message) {
    Sha256State inner = states.inner;
    Sha256State outer = states.outer;
    return finish_hmac(inner, outer, message, kChosen);
}

bool constant_time_equal(const void* a, const void* b, std::size_t size) {
    // Differences are folded together eight bytes at a time and looked at once, at the end:
    // no branch and no load depends on the contents.
    const auto* left = static_cast<const unsigned char*>(a);
    const auto* right = static_cast<const unsigned char*>(b);
    std::uint64_t difference = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        difference |= util::load_word(left + i) ^ util::load_word(right + i);
#if defined(__GNUC__) || defined(__clang__)
        __asm__ volatile("" : "+r"(difference));  // keeps the compiler from stopping early
#endif
    }
    for (; i < size; ++i) difference |= static_cast<std::uint64_t>(left[i] ^ right[i]);
    return difference == 0;
}

}  // namespace norvik_auth::lib
