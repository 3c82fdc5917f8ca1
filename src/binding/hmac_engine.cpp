// The process's one HMAC-SHA-256 engine: made at import, then used by every call.
#include "binding/hmac_engine.hpp"

#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {

lib::HmacSha256& hmac_engine() {
    // Made on first use, which is the import; a failed attempt leaves it unmade, so a later
    // import tries again. Destroyed at exit before libcrypto's own clean-up, which was
    // registered earlier.
    static lib::HmacSha256 engine;
    return engine;
}

void start_hmac_engine() {
    try {
        hmac_engine();
    } catch (const lib::CryptoUnavailable& error) {
        throw_error(PyExc_ImportError, std::string("norvik_auth cannot start: ") + error.what());
    }
}

}  // namespace norvik_auth::binding
