// HMAC-SHA-256 over libcrypto's SHA-256, and a constant-time byte comparison.
#include "lib/hmac_sha256.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <new>

#include "lib/abort.hpp"

namespace norvik_auth::lib {
namespace {

constexpr std::size_t kBlockSize = 64;

struct DigestDeleter {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Fetching walks the provider tables under a lock, so it happens once per process; the
// initialisation of a function-local static is thread-safe. The handle holds no key.
const EVP_MD* sha256() {
    static const std::unique_ptr<EVP_MD, DigestDeleter> md(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!md) throw Abort("SHA-256 is not available from libcrypto");
    return md.get();
}

/// One hashing context per thread, reused so that a call allocates nothing. No keyed state is
/// left in it when a call returns (see KeyMaterialGuard).
EVP_MD_CTX* thread_context() {
    thread_local const std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context) throw std::bad_alloc();
    return context.get();
}

void check(int status) {
    if (status != 1) throw Abort("SHA-256 computation failed in libcrypto");
}

/// Hashes the 64-byte pad followed by `message` into `out`.
void hash_padded(EVP_MD_CTX* context, const std::uint8_t* pad, const std::uint8_t* message,
                 std::size_t size, std::uint8_t* out) {
    check(EVP_DigestInit_ex2(context, sha256(), nullptr));
    check(EVP_DigestUpdate(context, pad, kBlockSize));
    check(EVP_DigestUpdate(context, message, size));
    check(EVP_DigestFinal_ex(context, out, nullptr));
}

/// Wipes the pads whatever way the computation ends, and the context's state when it ends
/// early. A finished outer hash leaves only the digest in the context: the keyed midstates
/// were overwritten by the blocks after them, and finishing wipes the block buffer.
struct KeyMaterialGuard {
    EVP_MD_CTX* context;
    std::uint8_t* pads;
    std::size_t size;
    bool finished = false;
    ~KeyMaterialGuard() {
        OPENSSL_cleanse(pads, size);
        if (!finished) EVP_DigestInit_ex2(context, sha256(), nullptr);
    }
};

}  // namespace

// RFC 2104: H((K ^ opad) || H((K ^ ipad) || message)), K the key padded (or first hashed) to
// one 64-byte block.
Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
    EVP_MD_CTX* const context = thread_context();
    std::uint8_t pads[2 * kBlockSize] = {};
    std::uint8_t* const inner_pad = pads;
    std::uint8_t* const outer_pad = pads + kBlockSize;
    KeyMaterialGuard guard{context, pads, sizeof pads};

    if (key.size() > kBlockSize) {
        check(EVP_DigestInit_ex2(context, sha256(), nullptr));
        check(EVP_DigestUpdate(context, key.data(), key.size()));
        check(EVP_DigestFinal_ex(context, inner_pad, nullptr));
    } else if (!key.empty()) {
        std::memcpy(inner_pad, key.data(), key.size());
    }
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        outer_pad[i] = inner_pad[i] ^ 0x5c;
        inner_pad[i] ^= 0x36;
    }

    Digest inner{};
    hash_padded(context, inner_pad, message.data(), message.size(), inner.data());
    Digest digest{};
    hash_padded(context, outer_pad, inner.data(), inner.size(), digest.data());
    guard.finished = true;
    OPENSSL_cleanse(inner.data(), inner.size());
    return digest;
}

bool constant_time_equal(const void* a, const void* b, std::size_t size) {
    return CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace norvik_auth::lib
