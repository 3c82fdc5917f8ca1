// The table of every kernel in the build.
#include "lib/kernels.hpp"

#include "lib/percent_decode.hpp"
#include "util/cpu_features.hpp"
#include "webapp_data/json_stops.hpp"

namespace norvik_auth::lib {
namespace {

bool always() { return true; }

using webapp_data::json_block_stops_bytewise;
using webapp_data::json_plain_run_length_bytewise;
using webapp_data::json_plain_run_length_words;
using namespace kernels;

constexpr FormScanner kBytewiseScanner{block_stops_bytewise, component_needs_bytewise};

// Constant-initialised, so the selections made while the module loads can read it.
constexpr Kernel kKernels[] = {
    {"percent-decode/words", "", always,
     PercentDecodeEntry{percent_decode_scalar, percent_decode_bytewise, 0}},
#ifdef NORVIK_X86_TARGETS
    // Below these sizes the vector loops would not take a single step.
    {"percent-decode/ssse3", "ssse3", util::cpu_has_ssse3,
     PercentDecodeEntry{percent_decode_ssse3, percent_decode_bytewise, 18}},
    {"percent-decode/avx512-vbmi2", "avx512bw+avx512vbmi2", util::cpu_has_avx512_vbmi2,
     PercentDecodeEntry{percent_decode_avx512, percent_decode_bytewise, 66}},
#endif

    {"form-scan/bytewise", "", always, FormScanEntry{kBytewiseScanner, kBytewiseScanner}},
#ifdef NORVIK_SSE2
    {"form-scan/sse2", "", always,
     FormScanEntry{{block_stops_sse2, component_needs_sse2}, kBytewiseScanner}},
#endif
#if defined(NORVIK_X86_TARGETS) && defined(NORVIK_SSE2)
    {"form-scan/avx512", "avx512bw", util::cpu_has_avx512_bw,
     FormScanEntry{{block_stops_avx512, component_needs_avx512}, kBytewiseScanner}},
#endif

#ifdef NORVIK_SSE2
    // Chosen when the module is compiled: the reader keeps a block's stops only with SSE2.
    {"json-block-stops/sse2", "", always,
     JsonBlockStopsEntry{webapp_data::json_block_stops, json_block_stops_bytewise}},
#endif
    // What the reader uses where it does not keep block stops.
    {"json-plain-run/words", "", always,
     JsonPlainRunEntry{json_plain_run_length_words, json_plain_run_length_bytewise}},

    {"signature-hex/portable", "", always,
     SignatureHexEntry{hex_compare_portable, hex_compare_bytewise}},
#ifdef NORVIK_SSE2
    {"signature-hex/sse2", "", always, SignatureHexEntry{hex_compare_sse2, hex_compare_bytewise}},
#endif

    {"separator-count/bytewise", "", always,
     SeparatorCountEntry{separator_counts_bytewise, separator_counts_bytewise}},
#ifdef NORVIK_SSE2
    {"separator-count/sse2", "", always,
     SeparatorCountEntry{separator_counts_sse2, separator_counts_bytewise}},
#endif

    {"sha256/portable", "", always, Sha256Entry{kSha256Portable, kSha256Portable}},
#ifdef NORVIK_SHA_NI
    {"sha256/sha-ni", "sha+sse4.1", util::cpu_has_sha_ni,
     Sha256Entry{{sha256_blocks_sha_ni, sha256_words_sha_ni, sha256_word_pair_sha_ni},
                 kSha256Portable}},
#endif
#ifdef NORVIK_ARM_SHA2
    {"sha256/armv8-sha2", "sha2", util::cpu_has_arm_sha2,
     Sha256Entry{{sha256_blocks_armv8, sha256_words_armv8, sha256_word_pair_armv8},
                 kSha256Portable}},
#endif
};

}  // namespace

std::span<const Kernel> kernel_table() { return kKernels; }

}  // namespace norvik_auth::lib
