// The process's one signer: made at import, then used by every call.
#include "binding/signer.hpp"

#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {

lib::Signer& signer() {
    // Made on first use, which is the import; a failed attempt leaves it unmade, so a later
    // import tries again. Destroyed at exit before libcrypto's own clean-up, which was
    // registered earlier.
    static lib::Signer instance;
    return instance;
}

void start_signer() {
    try {
        signer();
    } catch (const lib::CryptoUnavailable& error) {
        throw_error(PyExc_ImportError, std::string("norvik_auth cannot start: ") + error.what());
    }
}

}  // namespace norvik_auth::binding
