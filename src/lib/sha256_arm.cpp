// SHA-256's block function on ARMv8's SHA2 instructions.
#include "lib/kernels.hpp"

#ifdef NORVIK_ARM_SHA2
#include <arm_neon.h>

namespace norvik_auth::lib::kernels {
namespace {

// SHA256H and SHA256H2 keep the working variables as they lie in memory (a b c d, e f g h) and
// run four rounds on four words, each already added to its round constant.

/// Four rounds on words W(4g)..W(4g+3). SHA256H2 needs a b c d from before the rounds.
NORVIK_TARGET_ARM_SHA2 inline void four_rounds(uint32x4_t& abcd, uint32x4_t& efgh, uint32x4_t words,
                                               std::size_t group) {
    const uint32x4_t sums = vaddq_u32(words, vld1q_u32(&kSha256RoundConstants[4 * group]));
    const uint32x4_t abcd_before = abcd;
    abcd = vsha256hq_u32(abcd, efgh, sums);
    efgh = vsha256h2q_u32(efgh, abcd_before, sums);
}

/// W(t)..W(t+3) from the sixteen words before them, four to a vector, oldest first: SHA256SU0
/// adds the s0 terms to the oldest four, SHA256SU1 the W(t-7) and s1 terms.
NORVIK_TARGET_ARM_SHA2 inline uint32x4_t next_words(uint32x4_t oldest, uint32x4_t older,
                                                    uint32x4_t newer, uint32x4_t newest) {
    return vsha256su1q_u32(vsha256su0q_u32(oldest, older), newer, newest);
}

/// Four message words, big-endian in memory.
NORVIK_TARGET_ARM_SHA2 inline uint32x4_t load_words(const std::uint8_t* bytes) {
    return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(bytes)));
}

/// One block in flight: the working variables, the last sixteen message words (W0 in the lowest
/// lane of `w0` at first) and the variables from before the block.
struct Block {
    uint32x4_t abcd, efgh, w0, w1, w2, w3, abcd_before, efgh_before;
};

/// Compresses one block, or two independent ones with their rounds taken in turn: each round
/// waits for the one before it, so a second block's rounds fill the first's waits.
template <class... Blocks>
NORVIK_TARGET_ARM_SHA2 inline void compress(Blocks&... blocks) {
    ((blocks.abcd_before = blocks.abcd, blocks.efgh_before = blocks.efgh), ...);
    (four_rounds(blocks.abcd, blocks.efgh, blocks.w0, 0), ...);
    (four_rounds(blocks.abcd, blocks.efgh, blocks.w1, 1), ...);
    (four_rounds(blocks.abcd, blocks.efgh, blocks.w2, 2), ...);
    (four_rounds(blocks.abcd, blocks.efgh, blocks.w3, 3), ...);
    for (std::size_t group = 4; group < 16; group += 4) {
        ((blocks.w0 = next_words(blocks.w0, blocks.w1, blocks.w2, blocks.w3)), ...);
        (four_rounds(blocks.abcd, blocks.efgh, blocks.w0, group), ...);
        ((blocks.w1 = next_words(blocks.w1, blocks.w2, blocks.w3, blocks.w0)), ...);
        (four_rounds(blocks.abcd, blocks.efgh, blocks.w1, group + 1), ...);
        ((blocks.w2 = next_words(blocks.w2, blocks.w3, blocks.w0, blocks.w1)), ...);
        (four_rounds(blocks.abcd, blocks.efgh, blocks.w2, group + 2), ...);
        ((blocks.w3 = next_words(blocks.w3, blocks.w0, blocks.w1, blocks.w2)), ...);
        (four_rounds(blocks.abcd, blocks.efgh, blocks.w3, group + 3), ...);
    }
    ((blocks.abcd = vaddq_u32(blocks.abcd, blocks.abcd_before),
      blocks.efgh = vaddq_u32(blocks.efgh, blocks.efgh_before)),
     ...);
}

/// A block given as words, with its state.
NORVIK_TARGET_ARM_SHA2 inline Block start_block(const Sha256State& state,
                                                const Sha256Words& words) {
    Block block;
    block.abcd = vld1q_u32(state.data());
    block.efgh = vld1q_u32(state.data() + 4);
    block.w0 = vld1q_u32(words.data());
    block.w1 = vld1q_u32(words.data() + 4);
    block.w2 = vld1q_u32(words.data() + 8);
    block.w3 = vld1q_u32(words.data() + 12);
    return block;
}

NORVIK_TARGET_ARM_SHA2 inline void store_state(const Block& block, Sha256State& state) {
    vst1q_u32(state.data(), block.abcd);
    vst1q_u32(state.data() + 4, block.efgh);
}

}  // namespace

NORVIK_TARGET_ARM_SHA2 void sha256_blocks_armv8(Sha256State& state, const std::uint8_t* blocks,
                                                std::size_t count) {
    Block block;
    block.abcd = vld1q_u32(state.data());
    block.efgh = vld1q_u32(state.data() + 4);
    for (; count > 0; --count, blocks += kSha256BlockSize) {
        block.w0 = load_words(blocks);
        block.w1 = load_words(blocks + 16);
        block.w2 = load_words(blocks + 32);
        block.w3 = load_words(blocks + 48);
        compress(block);
    }
    store_state(block, state);
}

NORVIK_TARGET_ARM_SHA2 void sha256_words_armv8(Sha256State& state, const Sha256Words& words) {
    Block block = start_block(state, words);
    compress(block);
    store_state(block, state);
}

NORVIK_TARGET_ARM_SHA2 void sha256_word_pair_armv8(Sha256State& first,
                                                   const Sha256Words& first_words,
                                                   Sha256State& second,
                                                   const Sha256Words& second_words) {
    Block one = start_block(first, first_words);
    Block other = start_block(second, second_words);
    compress(one, other);
    store_state(one, first);
    store_state(other, second);
}

}  // namespace norvik_auth::lib::kernels

#endif  // NORVIK_ARM_SHA2
