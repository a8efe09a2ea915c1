// Picture statistics kernels: the error sums of a plane.
#pragma once

#include <cstdint>

// Over w x h samples of p against q, both with line stride stride: the sums
// of p, of p squared and of (p - q) squared, each exactly as adding every
// term to a double, sample by sample in raster order, would give them.
using plane_error_sums_fn = void(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double sums[3]);

struct stats_kernels {
    plane_error_sums_fn* plane_error_sums;
};

// The table in use; the reference kernels until start-up fills it.
extern stats_kernels stats_k;

// The reference kernels, then the faster ones that flags allow.
void init_stats_kernels(stats_kernels& t, unsigned flags);

// The reference sums; the faster ones fall back to them where their
// argument for exactness does not hold.
void plane_error_sums_reference(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double sums[3]);

#if defined(__x86_64__)
// The SSE2 rung, in picture_stats_sse2.cpp.
void init_stats_kernels_sse2(stats_kernels& t);
#endif
