// HMAC-SHA-256 over libcrypto's SHA-256, and a constant-time byte comparison.
#include "lib/hmac_sha256.hpp"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "util/byte_scan.hpp"

namespace norvik_auth::lib {
namespace {

constexpr std::size_t kBlockSize = 64;

/// libcrypto's reason for the last failure on this thread, or "no reason given"; clears the queue.
std::string last_crypto_error() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

/// Whether a libcrypto call succeeded; its error queue is cleared when it did not.
bool succeeded(int status) {
    if (status == 1) return true;
    ERR_clear_error();
    return false;
}

[[gnu::cold]] util::Failure computation_failed() {
    return {"SHA-256 computation failed in libcrypto"};
}

/// Wipes the key pads however the computation ends, and, when it ends early, the context too:
/// a finished outer hash leaves only the digest there (the keyed midstates were overwritten by
/// the blocks after them, and finishing wipes the block buffer), an unfinished one does not.
class KeyMaterialGuard {
public:
    KeyMaterialGuard(EVP_MD_CTX* context, std::uint8_t* pads, std::size_t size)
        : context_(context), pads_(pads), size_(size) {}
    KeyMaterialGuard(const KeyMaterialGuard&) = delete;
    KeyMaterialGuard& operator=(const KeyMaterialGuard&) = delete;
    ~KeyMaterialGuard() {
        OPENSSL_cleanse(pads_, size_);
        // Resetting frees (and cleanses) the provider's state; the next computation makes a
        // new one.
        if (!finished_) EVP_MD_CTX_reset(context_);
    }
    void finished() { finished_ = true; }

private:
    EVP_MD_CTX* context_;
    std::uint8_t* pads_;
    std::size_t size_;
    bool finished_ = false;
};

}  // namespace

util::Outcome<HmacSha256> HmacSha256::create() {
    // libcrypto sets itself up on first use; when that fails (memory), later calls into it may
    // crash instead of failing, so its answer is taken here first.
    if (OPENSSL_init_crypto(0, nullptr) != 1) {
        return util::Failure{"libcrypto failed to initialise: " + last_crypto_error()};
    }
    HmacSha256 hmac;
    // Fetching walks the provider tables under a lock: done once here, never per computation.
    hmac.sha256_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (hmac.sha256_ == nullptr) {
        return util::Failure{"libcrypto does not provide SHA-256: " + last_crypto_error()};
    }
    hmac.context_ = EVP_MD_CTX_new();
    if (hmac.context_ == nullptr) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return hmac;
}

HmacSha256::HmacSha256(HmacSha256&& other) noexcept
    : sha256_(std::exchange(other.sha256_, nullptr)),
      context_(std::exchange(other.context_, nullptr)) {}

HmacSha256::~HmacSha256() {
    EVP_MD_CTX_free(context_);
    EVP_MD_free(sha256_);
}

/// Hashes the 64-byte pad followed by `message` into `out`.
bool HmacSha256::hash_padded(const std::uint8_t* pad, std::span<const std::uint8_t> message,
                             std::uint8_t* out) {
    return succeeded(EVP_DigestInit_ex2(context_, sha256_, nullptr)) &&
           succeeded(EVP_DigestUpdate(context_, pad, kBlockSize)) &&
           succeeded(EVP_DigestUpdate(context_, message.data(), message.size())) &&
           succeeded(EVP_DigestFinal_ex(context_, out, nullptr));
}

HmacSha256::KeyStates::KeyStates(KeyStates&& other) noexcept
    : inner_(std::exchange(other.inner_, nullptr)), outer_(std::exchange(other.outer_, nullptr)) {}

HmacSha256::KeyStates::~KeyStates() {
    EVP_MD_CTX_free(inner_);
    EVP_MD_CTX_free(outer_);
}

// RFC 2104: K is the key padded with zeros (or first hashed) to one 64-byte block; the pads are
// K ^ ipad and K ^ opad.
bool HmacSha256::make_pads(std::span<const std::uint8_t> key, std::uint8_t* inner_pad,
                           std::uint8_t* outer_pad) {
    std::memset(inner_pad, 0, kBlockSize);
    if (key.size() > kBlockSize) {
        if (!succeeded(EVP_DigestInit_ex2(context_, sha256_, nullptr)) ||
            !succeeded(EVP_DigestUpdate(context_, key.data(), key.size())) ||
            !succeeded(EVP_DigestFinal_ex(context_, inner_pad, nullptr))) {
            return false;
        }
    } else if (!key.empty()) {
        std::memcpy(inner_pad, key.data(), key.size());
    }
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        outer_pad[i] = inner_pad[i] ^ 0x5c;
        inner_pad[i] ^= 0x36;
    }
    return true;
}

util::Outcome<HmacSha256::KeyStates> HmacSha256::key_states(std::span<const std::uint8_t> key) {
    std::uint8_t pads[2 * kBlockSize] = {};
    std::uint8_t* const inner_pad = pads;
    std::uint8_t* const outer_pad = pads + kBlockSize;
    KeyMaterialGuard guard(context_, pads, sizeof pads);
    if (!make_pads(key, inner_pad, outer_pad)) return computation_failed();
    guard.finished();

    KeyStates states;
    states.inner_ = EVP_MD_CTX_new();
    states.outer_ = EVP_MD_CTX_new();
    if (states.inner_ == nullptr || states.outer_ == nullptr) throw std::bad_alloc();
    for (const auto& [state, pad] : {std::pair{states.inner_, inner_pad},
                                     std::pair{states.outer_, outer_pad}}) {
        if (EVP_DigestInit_ex2(state, sha256_, nullptr) != 1 ||
            EVP_DigestUpdate(state, pad, kBlockSize) != 1) {
            return util::Failure{"libcrypto cannot hash with SHA-256: " + last_crypto_error()};
        }
    }
    return states;
}

/// Continues from a copy of `state` with `message` into `out`.
bool HmacSha256::hash_from(const EVP_MD_CTX* state, std::span<const std::uint8_t> message,
                           std::uint8_t* out) {
    return succeeded(EVP_MD_CTX_copy_ex(context_, state)) &&
           succeeded(EVP_DigestUpdate(context_, message.data(), message.size())) &&
           succeeded(EVP_DigestFinal_ex(context_, out, nullptr));
}

util::Outcome<Digest> HmacSha256::operator()(const KeyStates& states,
                                             std::span<const std::uint8_t> message) {
    Digest inner{};
    KeyMaterialGuard guard(context_, inner.data(), inner.size());
    Digest digest{};
    if (!hash_from(states.inner_, message, inner.data()) ||
        !hash_from(states.outer_, inner, digest.data())) {
        return computation_failed();
    }
    guard.finished();
    return digest;
}

// RFC 2104: H((K ^ opad) || H((K ^ ipad) || message)).
util::Outcome<Digest> HmacSha256::operator()(std::span<const std::uint8_t> key,
                                             std::span<const std::uint8_t> message) {
    // The two pads and the inner hash, wiped together whatever happens.
    std::uint8_t material[2 * kBlockSize + std::tuple_size_v<Digest>] = {};
    std::uint8_t* const inner_pad = material;
    std::uint8_t* const outer_pad = material + kBlockSize;
    const std::span<std::uint8_t, std::tuple_size_v<Digest>> inner(material + 2 * kBlockSize,
                                                                   std::tuple_size_v<Digest>);
    KeyMaterialGuard guard(context_, material, sizeof material);

    Digest digest{};
    if (!make_pads(key, inner_pad, outer_pad) || !hash_padded(inner_pad, message, inner.data()) ||
        !hash_padded(outer_pad, inner, digest.data())) {
        return computation_failed();
    }
    guard.finished();
    return digest;
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
