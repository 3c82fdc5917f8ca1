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

/// One block from its words, four to a vector, W0 in the lowest lane of `w0`.
NORVIK_TARGET_ARM_SHA2 inline void compress(uint32x4_t& abcd, uint32x4_t& efgh, uint32x4_t w0,
                                            uint32x4_t w1, uint32x4_t w2, uint32x4_t w3) {
    const uint32x4_t abcd_before = abcd;
    const uint32x4_t efgh_before = efgh;
    four_rounds(abcd, efgh, w0, 0);
    four_rounds(abcd, efgh, w1, 1);
    four_rounds(abcd, efgh, w2, 2);
    four_rounds(abcd, efgh, w3, 3);
    for (std::size_t group = 4; group < 16; group += 4) {
        w0 = next_words(w0, w1, w2, w3);
        four_rounds(abcd, efgh, w0, group);
        w1 = next_words(w1, w2, w3, w0);
        four_rounds(abcd, efgh, w1, group + 1);
        w2 = next_words(w2, w3, w0, w1);
        four_rounds(abcd, efgh, w2, group + 2);
        w3 = next_words(w3, w0, w1, w2);
        four_rounds(abcd, efgh, w3, group + 3);
    }
    abcd = vaddq_u32(abcd, abcd_before);
    efgh = vaddq_u32(efgh, efgh_before);
}

}  // namespace

NORVIK_TARGET_ARM_SHA2 void sha256_blocks_armv8(Sha256State& state, const std::uint8_t* blocks,
                                                std::size_t count) {
    uint32x4_t abcd = vld1q_u32(state.data());
    uint32x4_t efgh = vld1q_u32(state.data() + 4);
    for (; count > 0; --count, blocks += kSha256BlockSize) {
        compress(abcd, efgh, load_words(blocks), load_words(blocks + 16), load_words(blocks + 32),
                 load_words(blocks + 48));
    }
    vst1q_u32(state.data(), abcd);
    vst1q_u32(state.data() + 4, efgh);
}

NORVIK_TARGET_ARM_SHA2 void sha256_words_armv8(Sha256State& state, const Sha256Words& words) {
    uint32x4_t abcd = vld1q_u32(state.data());
    uint32x4_t efgh = vld1q_u32(state.data() + 4);
    compress(abcd, efgh, vld1q_u32(words.data()), vld1q_u32(words.data() + 4),
             vld1q_u32(words.data() + 8), vld1q_u32(words.data() + 12));
    vst1q_u32(state.data(), abcd);
    vst1q_u32(state.data() + 4, efgh);
}

}  // namespace norvik_auth::lib::kernels

#endif  // NORVIK_ARM_SHA2
