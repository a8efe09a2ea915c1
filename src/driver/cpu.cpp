#include "driver/cpu.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__)
// The register state the operating system saves on a task switch.
unsigned long long xcr0() {
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return static_cast<unsigned long long>(hi) << 32 | lo;
}

unsigned detect() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    unsigned flags = 0;
    if (d & bit_SSE2) flags |= cpu_sse2;
    if (c & bit_SSE4_1) flags |= cpu_sse41;
    // Vector registers wider than 128 bits need the operating system's
    // support as well as the processor's.
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return flags;
    const unsigned long long state = xcr0();
    if ((state & 0x6) != 0x6) return flags;  // SSE and AVX state
    unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf < 7) return flags;
    __cpuid_count(7, 0, a, b, c, d);
    if (!(b & bit_AVX2)) return flags;
    flags |= cpu_avx2;
    const unsigned avx512 = bit_AVX512F | bit_AVX512BW | bit_AVX512VL;
    if ((b & avx512) == avx512 && (state & 0xe0) == 0xe0) flags |= cpu_avx512;  // opmask and upper zmm state
    return flags;
}
#else
unsigned detect() { return 0; }
#endif

unsigned detected() {
    static const unsigned flags = detect();
    return flags;
}

unsigned cap = ~0u;

}  // namespace

unsigned cpu_flags() { return detected() & cap; }

void set_cpu_cap(unsigned mask) { cap = mask; }

const std::vector<simd_level>& simd_levels() {
    static const std::vector<simd_level> levels = {
        {"none", 0},
        {"sse2", cpu_sse2},
        {"avx2", cpu_sse2 | cpu_sse41 | cpu_avx2},
        {"avx512", cpu_sse2 | cpu_sse41 | cpu_avx2 | cpu_avx512},
    };
    return levels;
}

bool parse_simd_level(std::string_view name, unsigned& mask) {
    for (const simd_level& level : simd_levels()) {
        if (level.name == name) {
            mask = level.mask;
            return true;
        }
    }
    return false;
}

std::vector<simd_level> simd_levels_available() {
    std::vector<simd_level> available;
    for (const simd_level& level : simd_levels())
        if ((level.mask & detected()) == level.mask) available.push_back(level);
    return available;
}
