// Where plain runs inside JSON strings end: a block at a time with SSE2 and a byte at a time for
// reference, or a word at a time. (A masked AVX-512 load of the whole block measured no faster
// on blocks this small.)
#include "webapp_data/json_stops.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/byte_scan.hpp"

namespace norvik_auth::webapp_data {
namespace {

bool ends_plain_run(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

}  // namespace

std::uint64_t json_block_stops_bytewise(const char* block, std::size_t size) {
    std::uint64_t stops = 0;
    for (std::size_t i = 0; i < size; ++i) {
        stops |= std::uint64_t{ends_plain_run(static_cast<unsigned char>(block[i]))} << i;
    }
    return stops;
}

std::size_t json_plain_run_length_bytewise(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && !ends_plain_run(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

#if defined(__SSE2__)

/// Four sixteen-byte steps. A partial block is first copied into zeroed room, so nothing past it
/// is read; zero bytes look like control characters, so their bits are cleared after. (The room
/// is zeroed only then: zeroing it for whole blocks too cost parsing a twentieth.)
std::uint64_t json_block_stops(const char* block, std::size_t size) {
    alignas(16) char padded[kJsonStopBlock];
    if (size < kJsonStopBlock) {
        std::memset(padded, 0, sizeof padded);
        std::memcpy(padded, block, size);
        block = padded;
    }
    std::uint64_t stops = 0;
    for (unsigned i = 0; i < kJsonStopBlock; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        // Control characters are the bytes that min(byte, 0x1F) leaves unchanged.
        const __m128i lanes = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
            _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes));
        stops |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(lanes))} << i;
    }
    return size < kJsonStopBlock ? stops & ((std::uint64_t{1} << size) - 1) : stops;
}

#else

std::uint64_t json_block_stops(const char* block, std::size_t size) {
    return json_block_stops_bytewise(block, size);
}

#endif

std::size_t json_plain_run_length_words(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t word = util::load_word(text.data() + i);
        const std::uint64_t flags = util::bytes_equal(word, '"') | util::bytes_equal(word, '\\') |
                                    util::zero_bytes(word & (util::kEveryByte * 0xE0));
        if (flags != 0) return i + util::first_flagged(flags);
    }
    while (i < text.size() && !ends_plain_run(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

}  // namespace norvik_auth::webapp_data
