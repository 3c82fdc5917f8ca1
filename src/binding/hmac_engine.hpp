// The process's one HMAC-SHA-256 engine: made at import, then used by every call.
#pragma once

#include "lib/hmac_sha256.hpp"

namespace norvik_auth::binding {

/// Makes the engine unless it exists; throws PyError with an ImportError naming the cause when
/// libcrypto cannot supply SHA-256, or std::bad_alloc.
void start_hmac_engine();

/// The engine. Calls hold the interpreter lock, which makes them one at a time as it requires.
lib::HmacSha256& hmac_engine();

}  // namespace norvik_auth::binding
