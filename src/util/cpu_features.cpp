// What the processor offers beyond the baseline the module is compiled for, asked once at load.
#include "util/cpu_features.hpp"

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
#else
bool ask_ssse3() { return false; }
bool ask_avx512_bw() { return false; }
bool ask_avx512_vbmi2() { return false; }
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

}  // namespace norvik_auth::util
