// The process's one signer: made at import, then used by every call.
#pragma once

#include "lib/signature.hpp"

namespace norvik_auth::binding {

/// Makes the signer unless it exists; throws PyError with an ImportError naming the cause when
/// libcrypto cannot supply SHA-256, or std::bad_alloc.
void start_signer();

/// The signer. Calls hold the interpreter lock, which makes them one at a time as it requires.
lib::Signer& signer();

}  // namespace norvik_auth::binding
