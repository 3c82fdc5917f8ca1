// The process's one signer: made at import, then used by every call.
#pragma once

#include "lib/signature.hpp"

namespace norvik_auth::binding {

/// Makes the signer unless it exists; false with an ImportError naming the cause set when
/// libcrypto cannot supply SHA-256. Throws std::bad_alloc when memory runs out.
[[nodiscard]] bool start_signer();

/// The signer, once start_signer() made it. Calls hold the interpreter lock, which makes them
/// one at a time as it requires.
lib::Signer& signer();

}  // namespace norvik_auth::binding
