// Percent-decoding of one form component: a word-at-a-time loop for any processor, and 16-byte
// (SSSE3) and 64-byte (AVX-512 VBMI2) vector loops for x86 processors, chosen once at load time.
#include "lib/percent_decode.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "lib/kernels.hpp"
#include "util/byte_scan.hpp"

#ifdef NORVIK_X86_TARGETS
#include <immintrin.h>
#endif

namespace norvik_auth::lib {
namespace {

using util::bytes_equal;
using util::first_flagged;
using util::load_word;

constexpr std::uint8_t kNotHex = 0xFF;

constexpr std::array<std::uint8_t, 256> make_hex_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = kNotHex;
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    return table;
}
constexpr std::array<std::uint8_t, 256> kHexValue = make_hex_table();

#ifdef NORVIK_X86_TARGETS

// For each 8-bit mask of lanes to keep: the shuffle that packs those lanes to the front (unused
// lanes select nothing: top bit set), and how many there are.
struct PackTable {
    alignas(8) std::uint8_t lanes[256][8];
    std::uint8_t count[256];
};

constexpr PackTable make_pack_table() {
    PackTable table{};
    for (int mask = 0; mask < 256; ++mask) {
        int kept = 0;
        for (int lane = 0; lane < 8; ++lane) {
            if (mask >> lane & 1) table.lanes[mask][kept++] = static_cast<std::uint8_t>(lane);
        }
        table.count[mask] = static_cast<std::uint8_t>(kept);
        for (int lane = kept; lane < 8; ++lane) table.lanes[mask][lane] = 0x80;
    }
    return table;
}
constexpr PackTable kPack = make_pack_table();

/// The value of each byte read as a hex digit, with `valid` set in the lanes that hold one.
NORVIK_TARGET_SSSE3 inline __m128i hex_digits(__m128i bytes, __m128i& valid) {
    const __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    const __m128i letter =
        _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
    valid = _mm_or_si128(is_digit, is_letter);
    return _mm_or_si128(_mm_and_si128(is_digit, digit),
                        _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

/// The value of each byte read as a hex digit, with `valid` set in the lanes that hold one.
__attribute__((target("avx512f,avx512bw"))) inline __m512i hex_digits_512(__m512i bytes,
                                                                         __mmask64& valid) {
    const __m512i digit = _mm512_sub_epi8(bytes, _mm512_set1_epi8('0'));
    const __m512i letter =
        _mm512_sub_epi8(_mm512_or_si512(bytes, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a'));
    const __mmask64 is_digit = _mm512_cmple_epu8_mask(digit, _mm512_set1_epi8(9));
    const __mmask64 is_letter = _mm512_cmple_epu8_mask(letter, _mm512_set1_epi8(5));
    valid = is_digit | is_letter;
    return _mm512_mask_add_epi8(digit, is_letter, letter, _mm512_set1_epi8(10));
}

#endif

}  // namespace

namespace kernels {

#ifdef NORVIK_X86_TARGETS

/// Sixteen input bytes per step. Whether a '%' starts an escape depends only on the two bytes
/// after it, and those are hex digits, never '%', so every lane can be judged at once: an
/// escape's lane takes the decoded byte and its two digit lanes are dropped, then the kept
/// lanes are packed eight at a time. Digits of an escape in the last two lanes are dropped from
/// the next step. The rest goes to the scalar loop.
NORVIK_TARGET_SSSE3 char* percent_decode_ssse3(std::string_view raw, char* out) {
    const char* p = raw.data();
    const char* const end = p + raw.size();
    unsigned carried = 0;  // lanes of this step that are digits of the previous step's escape
    // Lanes need the two bytes after them; every store stays within the 16 bytes read, and
    // the output never runs ahead of the input.
    while (end - p >= 18) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i percent = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('%'));
        const __m128i plus = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+'));
        const __m128i spaced = _mm_xor_si128(bytes, _mm_and_si128(plus, _mm_set1_epi8('+' ^ ' ')));
        if (carried == 0 && _mm_movemask_epi8(percent) == 0) {
            // Nothing to decode or drop: long plain runs are copied sixteen bytes at a time.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), spaced);
            out += 16;
            p += 16;
            continue;
        }
        __m128i high_valid;
        __m128i low_valid;
        const __m128i high =
            hex_digits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), high_valid);
        const __m128i low =
            hex_digits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)), low_valid);
        const __m128i escape = _mm_and_si128(percent, _mm_and_si128(high_valid, low_valid));
        const __m128i decoded = _mm_or_si128(
            _mm_and_si128(_mm_slli_epi16(high, 4), _mm_set1_epi8(static_cast<char>(0xF0))), low);
        const __m128i lanes =
            _mm_or_si128(_mm_and_si128(escape, decoded), _mm_andnot_si128(escape, spaced));

        const auto escapes = static_cast<unsigned>(_mm_movemask_epi8(escape));
        const unsigned dropped = escapes << 1 | escapes << 2 | carried;
        const unsigned keep = ~dropped & 0xFFFF;
        carried = dropped >> 16;

        const unsigned keep_low = keep & 0xFF;
        const unsigned keep_high = keep >> 8;
        const __m128i pack_low =
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.lanes[keep_low]));
        // Lane numbers 8-15 for the upper half; unused entries keep their top bit.
        const __m128i pack_high = _mm_add_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.lanes[keep_high])),
            _mm_set1_epi8(8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(lanes, pack_low));
        out += kPack.count[keep_low];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(lanes, pack_high));
        out += kPack.count[keep_high];
        p += 16;
    }
    // `carried` is 0b01 or 0b11: one or two digits still to skip.
    p += carried == 0 ? 0 : carried == 1 ? 1 : 2;
    return percent_decode_scalar(std::string_view(p, static_cast<std::size_t>(end - p)), out);
}

/// Sixty-four input bytes per step, the same lane rules as the SSSE3 loop: each lane's two
/// following bytes are read from two more unaligned loads, and the kept lanes are packed by one
/// compress instruction instead of two table shuffles.
NORVIK_TARGET_AVX512_VBMI2 char* percent_decode_avx512(std::string_view raw, char* out) {
    const char* p = raw.data();
    const char* const end = p + raw.size();
    std::uint64_t carried = 0;
    // Same bounds as the SSSE3 loop: the stores stay within the bytes read.
    while (end - p >= 66) {
        const __m512i bytes = _mm512_loadu_si512(p);
        const __mmask64 percent = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('%'));
        const __mmask64 plus = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('+'));
        const __m512i spaced = _mm512_mask_mov_epi8(bytes, plus, _mm512_set1_epi8(' '));
        if ((carried | percent) == 0) {
            _mm512_storeu_si512(out, spaced);
            out += 64;
            p += 64;
            continue;
        }
        __mmask64 high_valid;
        __mmask64 low_valid;
        const __m512i high = hex_digits_512(_mm512_loadu_si512(p + 1), high_valid);
        const __m512i low = hex_digits_512(_mm512_loadu_si512(p + 2), low_valid);
        const std::uint64_t escapes = percent & high_valid & low_valid;
        // The shift is by 16-bit lanes: the mask drops what the neighbouring byte pushes in.
        const __m512i decoded = _mm512_or_si512(
            _mm512_and_si512(_mm512_slli_epi16(high, 4), _mm512_set1_epi8(static_cast<char>(0xF0))),
            low);
        const __m512i lanes = _mm512_mask_mov_epi8(spaced, escapes, decoded);
        const std::uint64_t dropped = escapes << 1 | escapes << 2 | carried;
        carried = escapes >> 62 | escapes >> 63;
        const std::uint64_t keep = ~dropped;
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, lanes));
        out += std::popcount(keep);
        p += 64;
    }
    p += carried == 0 ? 0 : carried == 1 ? 1 : 2;
    return percent_decode_ssse3(std::string_view(p, static_cast<std::size_t>(end - p)), out);
}

#endif

char* percent_decode_bytewise(std::string_view raw, char* out) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto byte = static_cast<unsigned char>(raw[i]);
        if (byte == '%' && raw.size() - i > 2) {
            const std::uint8_t high = kHexValue[static_cast<unsigned char>(raw[i + 1])];
            const std::uint8_t low = kHexValue[static_cast<unsigned char>(raw[i + 2])];
            if ((high | low) < 16) {
                *out++ = static_cast<char>(high << 4 | low);
                i += 2;
                continue;
            }
        }
        *out++ = byte == '+' ? ' ' : static_cast<char>(byte);
    }
    return out;
}

}  // namespace kernels

namespace {

/// The widest kernel this processor runs, and the next narrower one for inputs too short for it.
struct PercentDecodeChoice {
    PercentDecodeFn wide;
    std::size_t wide_from;
    PercentDecodeFn narrow;
    std::size_t narrow_from;
};

PercentDecodeChoice choose_percent_decoders() {
    const PercentDecodeEntry* wide = nullptr;
    const PercentDecodeEntry* narrow = nullptr;
    for (const Kernel& kernel : kernel_table()) {
        const auto* entry = std::get_if<PercentDecodeEntry>(&kernel.entry);
        if (entry == nullptr || !kernel.runs_here()) continue;
        narrow = wide;
        wide = entry;
    }
    if (narrow == nullptr) narrow = wide;
    return {wide->run, wide->shortest, narrow->run, narrow->shortest};
}

const PercentDecodeChoice kPercentDecoders = choose_percent_decoders();

}  // namespace

char* percent_decode(std::string_view raw, char* out) {
    if (raw.size() >= kPercentDecoders.wide_from) return kPercentDecoders.wide(raw, out);
    if (raw.size() >= kPercentDecoders.narrow_from) return kPercentDecoders.narrow(raw, out);
    return percent_decode_scalar(raw, out);
}

char* percent_decode_scalar(std::string_view raw, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const auto* const end = p + raw.size();
    // Eight bytes at a time: runs without '%' are copied whole (with '+' turned into ' ', which
    // differ only in the bits 0x0B); the output never overtakes the input, so the eight-byte
    // store stays inside the room given.
    while (end - p >= 8) {
        const std::uint64_t word = load_word(p);
        const std::uint64_t percent = bytes_equal(word, '%');
        const std::uint64_t plus = bytes_equal(word, '+');
        const std::uint64_t spaced = word ^ ((plus >> 7) * ('+' ^ ' '));
        std::memcpy(out, &spaced, sizeof spaced);
        if (percent == 0) {
            out += 8;
            p += 8;
            continue;
        }
        const unsigned run = first_flagged(percent);
        out += run;
        p += run;
        // p is at a '%'. Escapes often come in runs ("%22%3A%22"), taken here one after another.
        do {
            const std::uint8_t high = end - p > 2 ? kHexValue[p[1]] : kNotHex;
            const std::uint8_t low = end - p > 2 ? kHexValue[p[2]] : kNotHex;
            if ((high | low) < 16) {
                *out++ = static_cast<char>(high << 4 | low);
                p += 3;
            } else {
                *out++ = '%';  // starts no escape: stays literal, decoding resumes right after it
                ++p;
            }
        } while (p < end && *p == '%');
    }
    while (p < end) {
        const unsigned char byte = *p;
        if (byte == '%' && end - p > 2) {
            const std::uint8_t high = kHexValue[p[1]];
            const std::uint8_t low = kHexValue[p[2]];
            if ((high | low) < 16) {
                *out++ = static_cast<char>(high << 4 | low);
                p += 3;
                continue;
            }
        }
        *out++ = byte == '+' ? ' ' : static_cast<char>(byte);
        ++p;
    }
    return out;
}

}  // namespace norvik_auth::lib
