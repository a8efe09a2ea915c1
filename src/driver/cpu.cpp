#include "driver/cpu.h"

namespace {

// Kernel selection does not read the cap yet.
unsigned cpu_cap = ~0u;

}  // namespace

bool parse_simd_level(std::string_view name, unsigned& mask) {
    struct level {
        std::string_view name;
        unsigned mask;
    };
    static constexpr level levels[] = {{"none", 0}, {"sse2", 1}, {"avx2", 1 | 2 | 4}, {"avx512", 1 | 2 | 4 | 8}};
    for (const level& l : levels)
        if (name == l.name) {
            mask = l.mask;
            return true;
        }
    return false;
}

void set_cpu_cap(unsigned mask) { cpu_cap = mask; }
