// What the processor offers beyond the baseline the module is compiled for, asked once at load.
#include "util/cpu_features.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#elif defined(_MSC_VER) && defined(_M_X64)
#include <intrin.h>
#endif
#if defined(__aarch64__) && defined(__linux__) && !defined(__ARM_FEATURE_SHA2)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace norvik_auth::util {
namespace {

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// __builtin_cpu_supports wants literal names. It reports AVX-512 only where the operating system
// saves the vector registers too.
bool ask_ssse3() {
    __builtin_cpu_init();  // may run before the runtime's own initialisation
    return __builtin_cpu_supports("ssse3");
}

bool ask_avx512_bw() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi");
}

bool ask_avx512_vbmi2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt");
}

// Not every compiler's __builtin_cpu_supports knows "sha": leaf 7's EBX bit 29 says it.
bool ask_sha_ni() {
    __builtin_cpu_init();
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & (1u << 29)) != 0 &&
           __builtin_cpu_supports("sse4.1");
}
#else
bool ask_ssse3() { return false; }
bool ask_avx512_bw() { return false; }
bool ask_avx512_vbmi2() { return false; }
#if defined(_MSC_VER) && defined(_M_X64)
bool ask_sha_ni() {
    int registers[4];
    __cpuid(registers, 0);
    if (registers[0] < 7) return false;
    __cpuid(registers, 1);
    const bool sse41 = (registers[2] & (1 << 19)) != 0;
    __cpuidex(registers, 7, 0);
    return sse41 && (registers[1] & (1 << 29)) != 0;
}
#else
bool ask_sha_ni() { return false; }
#endif
#endif

#if defined(__aarch64__) && defined(__ARM_FEATURE_SHA2)
bool ask_arm_sha2() { return true; }
#elif defined(__aarch64__) && defined(__linux__)
bool ask_arm_sha2() { return (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0; }
#else
bool ask_arm_sha2() { return false; }
#endif

}  // namespace

bool cpu_has_ssse3() {
    static const bool answer = ask_ssse3();
    return answer;
}

bool cpu_has_avx512_bw() {
    static const bool answer = cpu_has_ssse3() && ask_avx512_bw();
    return answer;
}

bool cpu_has_avx512_vbmi2() {
    static const bool answer = cpu_has_avx512_bw() && ask_avx512_vbmi2();
    return answer;
}

bool cpu_has_sha_ni() {
    static const bool answer = ask_sha_ni();
    return answer;
}

bool cpu_has_arm_sha2() {
    static const bool answer = ask_arm_sha2();
    return answer;
}

}  // namespace norvik_auth::util
