// The byte searches of form decoding: SSE2 (every x86-64) and AVX-512 versions, chosen at load
// time, and the bytewise reference.
#include "lib/form_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "lib/kernels.hpp"

#ifdef NORVIK_SSE2
#include <immintrin.h>
#endif

namespace norvik_auth::lib {
namespace {

// What each byte means to form decoding: itself, a byte that changes when decoded ('+', '%' and
// non-ASCII), or a separator.
enum ByteClass : std::uint8_t { kPlain, kSpecial, kAmpersand, kEquals };

constexpr std::array<std::uint8_t, 256> make_class_table() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0x80; c < 0x100; ++c) table[c] = kSpecial;
    table['+'] = kSpecial;
    table['%'] = kSpecial;
    table['&'] = kAmpersand;
    table['='] = kEquals;
    return table;
}
constexpr std::array<std::uint8_t, 256> kByteClass = make_class_table();

/// The search from `i` on, a byte at a time, with the first special byte found so far (the
/// size when none).
ComponentNeeds finish_needs(std::string_view raw, std::size_t i, std::size_t first) {
    for (; i < raw.size(); ++i) {
        if (kByteClass[static_cast<unsigned char>(raw[i])] != kSpecial) continue;
        if (first == raw.size()) first = i;
        if (raw[i] == '+' || raw[i] == '%') return {first, true};
    }
    return {first, false};
}

#ifdef NORVIK_SSE2

/// The '&' and '=' lanes of sixteen bytes, and their '+'/'%' and non-ASCII lanes.
struct Lanes16 {
    unsigned ampersands;
    unsigned equals;
    unsigned escapes;
    unsigned non_ascii;
};

Lanes16 lanes16(const char* bytes16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes16));
    const auto bits = [](__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); };
    return {bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('&'))),
            bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('='))),
            bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')),
                              _mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')))),
            bits(bytes)};  // the sign bits
}

#endif

}  // namespace

namespace kernels {

BlockStops block_stops_bytewise(const char* block, std::size_t size) {
    BlockStops stops{0, 0};
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t kind = kByteClass[static_cast<unsigned char>(block[i])];
        stops.ampersands |= std::uint64_t{kind == kAmpersand} << i;
        stops.equals |= std::uint64_t{kind == kEquals} << i;
    }
    return stops;
}

ComponentNeeds component_needs_bytewise(std::string_view raw) {
    return finish_needs(raw, 0, raw.size());
}

#ifdef NORVIK_SSE2

/// Four sixteen-byte steps; a partial block is first copied into zeroed room (zero bytes match
/// nothing), so no byte is looked at alone.
BlockStops block_stops_sse2(const char* block, std::size_t size) {
    alignas(16) char padded[kStopBlock];
    if (size < kStopBlock) {
        std::memset(padded, 0, sizeof padded);
        std::memcpy(padded, block, size);
        block = padded;
    }
    BlockStops stops{0, 0};
    for (unsigned i = 0; i < kStopBlock; i += 16) {
        const Lanes16 lanes = lanes16(block + i);
        stops.ampersands |= std::uint64_t{lanes.ampersands} << i;
        stops.equals |= std::uint64_t{lanes.equals} << i;
    }
    return stops;
}

/// Sixteen bytes a step, the last step overlapping the one before it (its lanes already seen
/// are shifted out); a component shorter than a step is first copied into zeroed room.
ComponentNeeds component_needs_sse2(std::string_view raw) {
    const std::size_t size = raw.size();
    if (size < 16) {
        alignas(16) char padded[16] = {};
        std::memcpy(padded, raw.data(), size);
        const Lanes16 lanes = lanes16(padded);
        const unsigned specials = lanes.escapes | lanes.non_ascii;
        return {specials == 0 ? size : static_cast<std::size_t>(std::countr_zero(specials)),
                lanes.escapes != 0};
    }
    std::size_t first = size;
    for (std::size_t i = 0; i < size; i += 16) {
        const std::size_t at = std::min(i, size - 16);
        const Lanes16 lanes = lanes16(raw.data() + at);
        const auto seen = static_cast<unsigned>(i - at);
        const unsigned escapes = lanes.escapes >> seen;
        const unsigned specials = escapes | lanes.non_ascii >> seen;
        if (first == size && specials != 0) {
            first = i + static_cast<std::size_t>(std::countr_zero(specials));
        }
        if (escapes != 0) return {first, true};
    }
    return {first, false};
}

#endif

#if defined(NORVIK_X86_TARGETS) && defined(NORVIK_SSE2)

/// A whole block in one step, by a masked load that reads nothing past it.
NORVIK_TARGET_AVX512_BW BlockStops block_stops_avx512(const char* block, std::size_t size) {
    const __mmask64 lanes = size >= 64 ? ~__mmask64{0} : (__mmask64{1} << size) - 1;
    const __m512i bytes = _mm512_maskz_loadu_epi8(lanes, block);
    return {_mm512_mask_cmpeq_epi8_mask(lanes, bytes, _mm512_set1_epi8('&')),
            _mm512_mask_cmpeq_epi8_mask(lanes, bytes, _mm512_set1_epi8('='))};
}

/// Sixty-four bytes a step, the last one a masked load.
NORVIK_TARGET_AVX512_BW ComponentNeeds component_needs_avx512(std::string_view raw) {
    const std::size_t size = raw.size();
    std::size_t first = size;
    for (std::size_t i = 0; i < size; i += 64) {
        const std::size_t left = size - i;
        const __mmask64 lanes = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        const __m512i bytes = _mm512_maskz_loadu_epi8(lanes, raw.data() + i);
        const std::uint64_t escapes =
            _mm512_mask_cmpeq_epi8_mask(lanes, bytes, _mm512_set1_epi8('+')) |
            _mm512_mask_cmpeq_epi8_mask(lanes, bytes, _mm512_set1_epi8('%'));
        // Lanes masked off were loaded as zero, which has no sign bit.
        const std::uint64_t specials = escapes | _mm512_movepi8_mask(bytes);
        if (first == size && specials != 0) {
            first = i + static_cast<std::size_t>(std::countr_zero(specials));
        }
        if (escapes != 0) return {first, true};
    }
    return {first, false};
}

#endif

}  // namespace kernels

namespace {

// Chosen once, at load.
const FormScanner& kChosenScanner = chosen_kernel<FormScanEntry>().run;

}  // namespace

const FormScanner& form_scanner() { return kChosenScanner; }

}  // namespace norvik_auth::lib
