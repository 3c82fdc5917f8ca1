// Every byte-search, compare and hashing kernel in the build, listed once: what it computes, what
// the processor needs for it, and the plain version it must agree with. The module picks its
// kernels from this table at load; the checks walk it to reach every kernel, not only the chosen
// ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "lib/form_scan.hpp"
#include "lib/sha256.hpp"

// Kernels that need more than the build's baseline are compiled for their own instruction sets
// with GCC's target attribute; other compilers get the portable ones (and SSE2 where the
// baseline has it).
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define NORVIK_X86_TARGETS 1
#define NORVIK_TARGET_SSSE3 __attribute__((target("ssse3")))
#define NORVIK_TARGET_AVX512_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt")))
#define NORVIK_TARGET_AVX512_BW __attribute__((target("avx512f,avx512bw,bmi")))
#endif
#if defined(__SSE2__)
#define NORVIK_SSE2 1
#endif

// SHA-256 instructions. MSVC compiles the x86 ones without an attribute. On aarch64 the ARMv8
// ones are there without one when the baseline has them (__ARM_FEATURE_SHA2, as on Apple
// silicon); otherwise only GCC is asked, as clang before 16 declares them only for such a
// baseline.
#if defined(NORVIK_X86_TARGETS)
#define NORVIK_SHA_NI 1
#define NORVIK_TARGET_SHA_NI __attribute__((target("sha,sse4.1")))
#elif defined(_MSC_VER) && defined(_M_X64)
#define NORVIK_SHA_NI 1
#define NORVIK_TARGET_SHA_NI
#endif
#if defined(__aarch64__) && defined(__AARCH64EL__)
#if defined(__ARM_FEATURE_SHA2)
#define NORVIK_ARM_SHA2 1
#define NORVIK_TARGET_ARM_SHA2
#elif defined(__GNUC__) && !defined(__clang__)
#define NORVIK_ARM_SHA2 1
#define NORVIK_TARGET_ARM_SHA2 __attribute__((target("+crypto")))
#endif
#endif

namespace norvik_auth::lib {

using PercentDecodeFn = char* (*)(std::string_view raw, char* out);
using BlockStopsFn = std::uint64_t (*)(const char* block, std::size_t size);
using PlainRunFn = std::size_t (*)(std::string_view text);
/// Whether the 64 bytes at `hash` are the lowercase hex of `digest`.
using HexCompareFn = bool (*)(const Digest& digest, const char* hash);

/// Percent-decoding of one component (see percent_decode). `shortest` is the size below which
/// the kernel would not take one vector step, so the module hands it nothing shorter.
struct PercentDecodeEntry {
    PercentDecodeFn run;
    PercentDecodeFn reference;
    std::size_t shortest;
};

/// The byte searches of form decoding.
struct FormScanEntry {
    FormScanner run;
    FormScanner reference;
};

/// Where plain runs end in a block of JSON text (see json_block_stops).
struct JsonBlockStopsEntry {
    BlockStopsFn run;
    BlockStopsFn reference;
};

/// The length of the plain run at the start of a JSON string's rest.
struct JsonPlainRunEntry {
    PlainRunFn run;
    PlainRunFn reference;
};

/// The signature's compare of a digest with a hex text; a kernel must look at every byte.
struct SignatureHexEntry {
    HexCompareFn run;
    HexCompareFn reference;
};

/// How many bytes of a text are line feeds and how many are '=' (whether the data-check string
/// has one line per pair).
struct SeparatorCounts {
    std::size_t feeds = 0;
    std::size_t equals = 0;
};
using SeparatorCountFn = SeparatorCounts (*)(std::string_view text);

struct SeparatorCountEntry {
    SeparatorCountFn run;
    SeparatorCountFn reference;
};

/// SHA-256's compression function (see sha256.hpp).
struct Sha256Entry {
    Sha256Kernel run;
    Sha256Kernel reference;
};

using KernelEntry =
    std::variant<PercentDecodeEntry, FormScanEntry, JsonBlockStopsEntry, JsonPlainRunEntry,
                 SignatureHexEntry, SeparatorCountEntry, Sha256Entry>;

struct Kernel {
    /// "family/variant", for messages and for picking one out by name.
    const char* name;
    /// The processor feature it needs beyond the build's baseline; empty for none.
    const char* feature;
    /// Whether this processor runs it (asked once, then remembered).
    bool (*runs_here)();
    /// The entry point and the reference, typed by family.
    KernelEntry entry;
};

/// The family part of a kernel's name, for each alternative of KernelEntry in order.
inline constexpr const char* kKernelFamilies[] = {"percent-decode", "form-scan", "json-block-stops",
                                                  "json-plain-run", "signature-hex",
                                                  "separator-count", "sha256"};

/// Every kernel of the build. Each family runs from the most portable kernel to the widest, so
/// the last of a family that the processor runs is the fastest it has.
std::span<const Kernel> kernel_table();

/// The fastest kernel of one family that this processor runs (every family has a portable one).
template <class Entry>
const Entry& chosen_kernel() {
    const Entry* chosen = nullptr;
    for (const Kernel& kernel : kernel_table()) {
        const Entry* entry = std::get_if<Entry>(&kernel.entry);
        if (entry != nullptr && kernel.runs_here()) chosen = entry;
    }
    return *chosen;
}

/// The kernels themselves, defined next to the code that uses them.
namespace kernels {

char* percent_decode_bytewise(std::string_view raw, char* out);
#ifdef NORVIK_X86_TARGETS
NORVIK_TARGET_SSSE3 char* percent_decode_ssse3(std::string_view raw, char* out);
NORVIK_TARGET_AVX512_VBMI2 char* percent_decode_avx512(std::string_view raw, char* out);
#endif

BlockStops block_stops_bytewise(const char* block, std::size_t size);
ComponentNeeds component_needs_bytewise(std::string_view raw);
#ifdef NORVIK_SSE2
BlockStops block_stops_sse2(const char* block, std::size_t size);
ComponentNeeds component_needs_sse2(std::string_view raw);
#endif
#if defined(NORVIK_X86_TARGETS) && defined(NORVIK_SSE2)
NORVIK_TARGET_AVX512_BW BlockStops block_stops_avx512(const char* block, std::size_t size);
NORVIK_TARGET_AVX512_BW ComponentNeeds component_needs_avx512(std::string_view raw);
#endif

bool hex_compare_bytewise(const Digest& digest, const char* hash);
bool hex_compare_portable(const Digest& digest, const char* hash);
#ifdef NORVIK_SSE2
bool hex_compare_sse2(const Digest& digest, const char* hash);
#endif

SeparatorCounts separator_counts_bytewise(std::string_view text);
#ifdef NORVIK_SSE2
SeparatorCounts separator_counts_sse2(std::string_view text);
#endif

// The reference, kSha256Portable, is in sha256.hpp.
#ifdef NORVIK_SHA_NI
NORVIK_TARGET_SHA_NI void sha256_blocks_sha_ni(Sha256State& state, const std::uint8_t* blocks,
                                               std::size_t count);
NORVIK_TARGET_SHA_NI void sha256_words_sha_ni(Sha256State& state, const Sha256Words& words);
NORVIK_TARGET_SHA_NI void sha256_word_pair_sha_ni(Sha256State& first,
                                                  const Sha256Words& first_words,
                                                  Sha256State& second,
                                                  const Sha256Words& second_words);
#endif
#ifdef NORVIK_ARM_SHA2
NORVIK_TARGET_ARM_SHA2 void sha256_blocks_armv8(Sha256State& state, const std::uint8_t* blocks,
                                                std::size_t count);
NORVIK_TARGET_ARM_SHA2 void sha256_words_armv8(Sha256State& state, const Sha256Words& words);
NORVIK_TARGET_ARM_SHA2 void sha256_word_pair_armv8(Sha256State& first,
                                                   const Sha256Words& first_words,
                                                   Sha256State& second,
                                                   const Sha256Words& second_words);
#endif

}  // namespace kernels

}  // namespace norvik_auth::lib
