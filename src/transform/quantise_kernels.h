// Quantiser kernels of 8x8 blocks; src and dst may be the same block.
#pragma once

#include <cstdint>

// limit: the largest level kept (255 for MPEG-1 streams, else 2047). They
// return whether a level is non-zero (always 1 for intra blocks).
using quantise_intra_fn = int(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant,
                              int limit);
using quantise_non_intra_fn = int(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant, int limit);
using dequantise_intra_fn = void(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix,
                                 int mquant);
using dequantise_non_intra_fn = void(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant);
// Bit i set where coefficient i (raster order) is not zero.
using nonzero_mask_fn = uint64_t(const int16_t* block);

struct quantise_kernels {
    quantise_intra_fn* quantise_intra;
    quantise_non_intra_fn* quantise_non_intra;
    dequantise_intra_fn* dequantise_intra;
    dequantise_non_intra_fn* dequantise_non_intra;
    dequantise_intra_fn* dequantise_intra_mpeg1;
    dequantise_non_intra_fn* dequantise_non_intra_mpeg1;
    nonzero_mask_fn* nonzero_mask;
};

// The table in use; the reference kernels until start-up fills it.
extern quantise_kernels quantise_k;

// The reference kernels, then the faster ones that flags allow.
void init_quantise_kernels(quantise_kernels& t, unsigned flags);

#if defined(__x86_64__)
// The AVX2 rung, in quantise_simd.cpp.
void init_quantise_kernels_avx2(quantise_kernels& t);
#endif
