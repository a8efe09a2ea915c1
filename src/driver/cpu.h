// The instruction sets the kernels may use.
#pragma once

#include <string_view>

// Reads a level name (none, sse2, avx2, avx512) into its mask of instruction
// sets; false for any other name, mask then unchanged.
bool parse_simd_level(std::string_view name, unsigned& mask);

// Caps the instruction sets that kernel selection may use at mask. A level
// above what the processor has lowers nothing. Called before the encoder starts.
void set_cpu_cap(unsigned mask);
