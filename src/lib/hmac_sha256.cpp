// HMAC-SHA-256 through libcrypto's EVP_MAC interface, and a constant-time byte comparison.
#include "lib/hmac_sha256.hpp"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>
#include <new>

#include "lib/abort.hpp"

namespace norvik_auth::lib {
namespace {

struct MacDeleter {
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextDeleter {
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
using MacContext = std::unique_ptr<EVP_MAC_CTX, MacContextDeleter>;

// Fetching walks the provider tables under a lock, so it happens once per process; the
// initialisation of a function-local static is thread-safe. The handle holds no key.
EVP_MAC* hmac_algorithm() {
    static const std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac) throw Abort("HMAC is not available from libcrypto");
    return mac.get();
}

}  // namespace

Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
    MacContext context(EVP_MAC_CTX_new(hmac_algorithm()));
    if (!context) throw std::bad_alloc();

    char digest_name[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest_name, 0),
        OSSL_PARAM_construct_end(),
    };
    // A null key pointer would mean "keep the previous key", so an empty key needs a real address.
    static const unsigned char kNoKeyBytes[1] = {0};
    const unsigned char* key_bytes = key.empty() ? kNoKeyBytes : key.data();

    Digest digest{};
    std::size_t written = 0;
    if (EVP_MAC_init(context.get(), key_bytes, key.size(), params) != 1 ||
        EVP_MAC_update(context.get(), message.data(), message.size()) != 1 ||
        EVP_MAC_final(context.get(), digest.data(), &written, digest.size()) != 1 ||
        written != digest.size()) {
        throw Abort("HMAC-SHA-256 computation failed in libcrypto");
    }
    // The context holds the keyed pads; EVP_MAC_CTX_free cleanses them when `context` goes.
    return digest;
}

bool constant_time_equal(const void* a, const void* b, std::size_t size) {
    return CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace norvik_auth::lib
