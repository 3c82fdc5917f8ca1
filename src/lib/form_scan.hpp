// The byte searches of form decoding: where the separators are, and what a component needs to
// be decoded. Vector versions for x86 are chosen once at load time; a bytewise version is the
// reference for them and serves other processors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norvik_auth::lib {

/// Up to this many bytes are searched for separators at once, one bit per byte.
inline constexpr std::size_t kStopBlock = 64;

/// The separators of one block: bit i set where byte i is '&', or '='.
struct BlockStops {
    std::uint64_t ampersands;
    std::uint64_t equals;
};

/// What decoding one raw name or value needs: the offset of its first byte that changes when
/// decoded ('+', '%' or non-ASCII; its size when none), and whether it holds a '+' or '%'.
struct ComponentNeeds {
    std::size_t first_special;
    bool has_escape;
};

/// The byte searches, one implementation (lib/kernels.hpp lists them all).
struct FormScanner {
    /// The separators among the first `size` bytes at `block` (size at most kStopBlock).
    BlockStops (*block_stops)(const char* block, std::size_t size);
    ComponentNeeds (*component_needs)(std::string_view raw);
};

/// The fastest implementation this processor runs.
const FormScanner& form_scanner();

}  // namespace norvik_auth::lib
