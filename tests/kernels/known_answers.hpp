// Published SHA-256 and HMAC-SHA-256 answers from tests/data: NIST's SHAVS response files and
// the HMAC vectors (Wycheproof's, NIST's examples), read as plain text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace known_answers {

struct Vector {
    std::string name;               // file and entry, for messages
    std::vector<std::uint8_t> key;  // empty for plain SHA-256
    std::vector<std::uint8_t> message;
    std::string tag;    // lowercase hex; an HMAC tag may be truncated
    bool valid = true;  // false for a tag that must not match
};

/// The vectors of one file, or why it could not be read.
struct Read {
    std::vector<Vector> vectors;
    std::string error;
};

/// The entries of a SHAVS .rsp file ("Len = ", "Msg = ", "MD = " lines).
Read read_shavs(const std::string& path);

/// Wycheproof's MAC test file: every test's key, msg, tag and result.
Read read_wycheproof_mac(const std::string& path);

/// tests/data/hmac/nist_hmac_sha256_examples.json: key, data_text, hmac_sha256.
Read read_nist_hmac_examples(const std::string& path);

}  // namespace known_answers
