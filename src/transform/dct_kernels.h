// Forward and inverse 8x8 transform kernels, without the DC change.
#pragma once

#include <cstdint>

// Differences to coefficients.
using forward_dct_fn = void(int16_t* block);
// Coefficients to differences in -256..255.
using inverse_dct_fn = void(int16_t* block);

struct dct_kernels {
    forward_dct_fn* forward;
    inverse_dct_fn* inverse;
};

// The table in use; the reference kernels until start-up fills it.
extern dct_kernels dct_k;

// Fills the tables below, then sets the reference kernels and the faster
// ones that flags allow.
void init_dct_kernels(dct_kernels& t, unsigned flags);

// The forward transform's coefficients, dct_basis[u][x], and the same
// values by [x][u] (64-byte aligned, for vector loads).
extern double dct_basis[8][8];
extern double dct_basis_by_x[8][8];

#if defined(__x86_64__)
// The rungs in dct_simd.cpp.
void init_dct_kernels_sse2(dct_kernels& t);
void init_dct_kernels_avx2(dct_kernels& t);
void init_dct_kernels_avx512(dct_kernels& t);
#endif
