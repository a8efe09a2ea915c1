// Processor features the kernels may use: detected once, lowered by a cap.
// Includes nothing of the project, so every floor may include it.
#pragma once

#include <string_view>
#include <vector>

enum : unsigned {
    cpu_sse2 = 1,
    cpu_sse41 = 2,
    cpu_avx2 = 4,
    cpu_avx512 = 8,  // F, BW and VL together, with the operating system saving the wide registers
};

// The detected features less those the cap removes; 0 off x86-64.
unsigned cpu_flags();

// cpu_flags() becomes detected & mask until the next call. The kernel tables
// are filled from cpu_flags() at start-up, so a cap takes effect when it is
// set before init_encoder.
void set_cpu_cap(unsigned mask);

// The names a user may choose: none, sse2, avx2, avx512. Each level's mask
// holds every rung below it; SSE4.1 comes with avx2, since every processor
// with AVX2 has it and nothing here uses it on its own.
struct simd_level {
    std::string_view name;
    unsigned mask;
};

// All levels, lowest first.
const std::vector<simd_level>& simd_levels();

// The mask of a level name; false, leaving mask alone, for an unknown name.
bool parse_simd_level(std::string_view name, unsigned& mask);

// The levels whose every feature this processor has (whatever the cap),
// lowest first; "none" is always there.
std::vector<simd_level> simd_levels_available();

// Marks a function compiled for an instruction set beyond the build's
// baseline; only called where cpu_flags() reports it.
#define MORVANE_TARGET(isa) __attribute__((target(isa)))
