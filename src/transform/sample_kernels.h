// Sample kernels around the transform: the prediction difference of an 8x8
// block and its clipped sum, the activity variance of an 8x8 block, and the
// field sums behind the DCT-type decision of a macroblock.
#pragma once

#include <cstdint>

// block = cur - pred over 8x8 samples; pred and cur have line stride stride.
using subtract_block_fn = void(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block);
// rec = pred + block clipped to 0..255, block values in -256..255 (what the
// inverse transform gives).
using add_block_fn = void(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block);
// The variance of 8x8 samples, variance_of_sums of their sums.
using variance_8x8_fn = double(const uint8_t* p, int stride);
// Over the 16x16 samples at cur and pred, with frame line stride stride: d0
// the differences cur - pred of the even lines, d1 of the odd lines, sample
// by sample. sums = {sum d0, sum d1, sum d0^2, sum d1^2, sum d0 * d1}.
using field_sums_fn = void(const uint8_t* pred, const uint8_t* cur, int stride, int sums[5]);

struct sample_kernels {
    subtract_block_fn* subtract_block;
    add_block_fn* add_block;
    variance_8x8_fn* variance_8x8;
    field_sums_fn* field_sums;
};

// The table in use; the reference kernels until start-up fills it.
extern sample_kernels sample_k;

// The reference kernels, then the faster ones that flags allow.
void init_sample_kernels(sample_kernels& t, unsigned flags);

// s the sum of 64 samples, s2 the sum of their squares. Every variance
// kernel ends here, so each needs only the exact integer sums.
inline double variance_of_sums(unsigned s, unsigned s2) { return s2 / 64.0 - (s / 64.0) * (s / 64.0); }

#if defined(__x86_64__)
// The rungs in samples_simd.cpp.
void init_sample_kernels_sse2(sample_kernels& t);
void init_sample_kernels_avx2(sample_kernels& t);
#endif
