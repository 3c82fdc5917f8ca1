// The process's one signer: made at import, then used by every call.
#include "binding/signer.hpp"

#include <string>

#include "binding/py_error.hpp"

namespace norvik_auth::binding {
namespace {

lib::Signer* g_signer = nullptr;

}  // namespace

lib::Signer& signer() { return *g_signer; }

bool start_signer() {
    if (g_signer != nullptr) return true;
    util::Outcome<lib::Signer> made = lib::Signer::create();
    if (!made) {
        set_error(PyExc_ImportError, "norvik_auth cannot start: " + made.failure().message);
        return false;
    }
    // Kept from the first import that made one; a failed attempt leaves none, so a later import
    // tries again. A function's static is destroyed at exit in the reverse order of its making,
    // so this one goes before libcrypto's own clean-up, which making the signer registered.
    static lib::Signer instance(std::move(made).value());
    g_signer = &instance;
    return true;
}

}  // namespace norvik_auth::binding
