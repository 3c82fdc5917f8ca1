// Where plain runs inside JSON strings end: the quote, the backslash and control characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norvik_auth::webapp_data {

/// Bytes whose stops are found in one step, one bit each.
inline constexpr std::size_t kJsonStopBlock = 64;

/// Whether the reader finds the stops of a whole block at once and keeps them for the strings
/// after: where the processor has SSE2 (every x86-64 does). Elsewhere a block's stops cost more
/// than searching a short string eight bytes at a time, and the reader does that.
#if defined(__SSE2__)
inline constexpr bool kJsonBlockStops = true;
#else
inline constexpr bool kJsonBlockStops = false;
#endif

/// Bit i set where byte i of the `size` bytes at `block` (size at most kJsonStopBlock) ends a
/// plain run; the bits from `size` on are clear. Sixteen bytes a step where the processor has
/// SSE2, else a byte at a time.
std::uint64_t json_block_stops(const char* block, std::size_t size);

/// The same a byte at a time: the reference for the vector version.
std::uint64_t json_block_stops_bytewise(const char* block, std::size_t size);

/// Length of the run of `text` before its first byte that ends a plain run, eight bytes a step.
std::size_t json_plain_run_length_words(std::string_view text);

/// The same a byte at a time: the reference for the word version.
std::size_t json_plain_run_length_bytewise(std::string_view text);

}  // namespace norvik_auth::webapp_data
