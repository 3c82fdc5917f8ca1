// SHA-256's block function on the x86 SHA extensions.
#include "lib/kernels.hpp"

#ifdef NORVIK_SHA_NI
#include <immintrin.h>

namespace norvik_auth::lib::kernels {
namespace {

// SHA256RNDS2 keeps the working variables as two vectors, ABEF and CDGH (A in the highest
// lane, F and H in the lowest), and runs two rounds on the two lowest lanes of its third
// operand, each message word already added to its round constant.

/// Four rounds on words W(4g)..W(4g+3). The first two rounds leave the new ABEF in `cdgh`,
/// whose old contents they no longer need, and the old ABEF is then the new CDGH: the second
/// two rounds write the next ABEF over it, so the two names swap roles and end as they began.
NORVIK_TARGET_SHA_NI inline void four_rounds(__m128i& abef, __m128i& cdgh, __m128i words,
                                             std::size_t group) {
    const __m128i constants =
        _mm_load_si128(reinterpret_cast<const __m128i*>(&kSha256RoundConstants[4 * group]));
    const __m128i sums = _mm_add_epi32(words, constants);
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sums, 0x0e));
}

/// W(t)..W(t+3) from the sixteen words before them, four to a vector, oldest first:
/// W(t) = s1(W(t-2)) + W(t-7) + s0(W(t-15)) + W(t-16). SHA256MSG1 adds the s0 terms to the
/// oldest four, the words W(t-7).. are the middle of the third and fourth vectors, and
/// SHA256MSG2 adds the s1 terms, which need the words it is making.
NORVIK_TARGET_SHA_NI inline __m128i next_words(__m128i oldest, __m128i older, __m128i newer,
                                               __m128i newest) {
    const __m128i partial =
        _mm_add_epi32(_mm_sha256msg1_epu32(oldest, older), _mm_alignr_epi8(newest, newer, 4));
    return _mm_sha256msg2_epu32(partial, newest);
}

/// Four message words, big-endian in memory: `word_order` reverses every four bytes.
NORVIK_TARGET_SHA_NI inline __m128i load_words(const std::uint8_t* bytes, __m128i word_order) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), word_order);
}

/// One block in flight: the working variables, the last sixteen message words (W0 in the lowest
/// lane of `w0` at first) and the variables from before the block.
struct Block {
    __m128i abef, cdgh, w0, w1, w2, w3, abef_before, cdgh_before;
};

/// Compresses one block, or two independent ones with their rounds taken in turn: each round
/// waits for the one before it, so a second block's rounds fill the first's waits.
template <class... Blocks>
NORVIK_TARGET_SHA_NI inline void compress(Blocks&... blocks) {
    ((blocks.abef_before = blocks.abef, blocks.cdgh_before = blocks.cdgh), ...);
    (four_rounds(blocks.abef, blocks.cdgh, blocks.w0, 0), ...);
    (four_rounds(blocks.abef, blocks.cdgh, blocks.w1, 1), ...);
    (four_rounds(blocks.abef, blocks.cdgh, blocks.w2, 2), ...);
    (four_rounds(blocks.abef, blocks.cdgh, blocks.w3, 3), ...);
    for (std::size_t group = 4; group < 16; group += 4) {
        ((blocks.w0 = next_words(blocks.w0, blocks.w1, blocks.w2, blocks.w3)), ...);
        (four_rounds(blocks.abef, blocks.cdgh, blocks.w0, group), ...);
        ((blocks.w1 = next_words(blocks.w1, blocks.w2, blocks.w3, blocks.w0)), ...);
        (four_rounds(blocks.abef, blocks.cdgh, blocks.w1, group + 1), ...);
        ((blocks.w2 = next_words(blocks.w2, blocks.w3, blocks.w0, blocks.w1)), ...);
        (four_rounds(blocks.abef, blocks.cdgh, blocks.w2, group + 2), ...);
        ((blocks.w3 = next_words(blocks.w3, blocks.w0, blocks.w1, blocks.w2)), ...);
        (four_rounds(blocks.abef, blocks.cdgh, blocks.w3, group + 3), ...);
    }
    ((blocks.abef = _mm_add_epi32(blocks.abef, blocks.abef_before),
      blocks.cdgh = _mm_add_epi32(blocks.cdgh, blocks.cdgh_before)),
     ...);
}

/// H0..H7 in memory (lanes a b c d and e f g h) in the instructions' order.
NORVIK_TARGET_SHA_NI inline void load_state(const Sha256State& state, __m128i& abef,
                                            __m128i& cdgh) {
    const __m128i badc =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data())), 0xb1);
    const __m128i fehg = _mm_shuffle_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4)), 0xb1);
    abef = _mm_unpacklo_epi64(fehg, badc);  // lanes f e b a
    cdgh = _mm_unpackhi_epi64(fehg, badc);  // lanes h g d c
}

/// And back: the high halves hold d c and b a, the low halves h g and f e.
NORVIK_TARGET_SHA_NI inline void store_state(__m128i abef, __m128i cdgh, Sha256State& state) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()),
                     _mm_shuffle_epi32(_mm_unpackhi_epi64(cdgh, abef), 0x1b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4),
                     _mm_shuffle_epi32(_mm_unpacklo_epi64(cdgh, abef), 0x1b));
}

/// Four words of a built block, each read on its own: the hashing has just stored them one at
/// a time, and a load across several such stores would wait for them to reach the cache.
NORVIK_TARGET_SHA_NI inline __m128i gather_words(const std::uint32_t* words) {
    __m128i lanes = _mm_cvtsi32_si128(static_cast<int>(words[0]));
    lanes = _mm_insert_epi32(lanes, static_cast<int>(words[1]), 1);
    lanes = _mm_insert_epi32(lanes, static_cast<int>(words[2]), 2);
    return _mm_insert_epi32(lanes, static_cast<int>(words[3]), 3);
}

/// A block given as words, with its state.
NORVIK_TARGET_SHA_NI inline Block start_block(const Sha256State& state, const Sha256Words& words) {
    Block block;
    load_state(state, block.abef, block.cdgh);
    block.w0 = gather_words(words.data());
    block.w1 = gather_words(words.data() + 4);
    block.w2 = gather_words(words.data() + 8);
    block.w3 = gather_words(words.data() + 12);
    return block;
}

}  // namespace

NORVIK_TARGET_SHA_NI void sha256_blocks_sha_ni(Sha256State& state, const std::uint8_t* blocks,
                                               std::size_t count) {
    const __m128i word_order = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    Block block;
    load_state(state, block.abef, block.cdgh);
    for (; count > 0; --count, blocks += kSha256BlockSize) {
        block.w0 = load_words(blocks, word_order);
        block.w1 = load_words(blocks + 16, word_order);
        block.w2 = load_words(blocks + 32, word_order);
        block.w3 = load_words(blocks + 48, word_order);
        compress(block);
    }
    store_state(block.abef, block.cdgh, state);
}

NORVIK_TARGET_SHA_NI void sha256_words_sha_ni(Sha256State& state, const Sha256Words& words) {
    Block block = start_block(state, words);
    compress(block);
    store_state(block.abef, block.cdgh, state);
}

NORVIK_TARGET_SHA_NI void sha256_word_pair_sha_ni(Sha256State& first,
                                                  const Sha256Words& first_words,
                                                  Sha256State& second,
                                                  const Sha256Words& second_words) {
    Block one = start_block(first, first_words);
    Block other = start_block(second, second_words);
    compress(one, other);
    store_state(one.abef, one.cdgh, first);
    store_state(other.abef, other.cdgh, second);
}

}  // namespace norvik_auth::lib::kernels

#endif  // NORVIK_SHA_NI
