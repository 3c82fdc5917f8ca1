// What the processor offers beyond the baseline the module is compiled for, asked once at load.
#pragma once

namespace norvik_auth::util {

/// SSSE3 (byte shuffles). Always false off x86.
bool cpu_has_ssse3();

/// AVX-512 with byte and word operations (BW) and BMI1, with the operating system saving the
/// registers. Always false off x86.
bool cpu_has_avx512_bw();

/// AVX-512 with byte and word operations (BW) and byte compression (VBMI2), with the operating
/// system saving the registers. Always false off x86.
bool cpu_has_avx512_vbmi2();

/// The SHA extensions (SHA-NI) with SSE4.1, which their kernel's shuffles need. Always false
/// off x86.
bool cpu_has_sha_ni();

/// ARMv8's SHA-256 instructions (SHA2). Always false off aarch64.
bool cpu_has_arm_sha2();

}  // namespace norvik_auth::util
