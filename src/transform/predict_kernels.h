// Prediction kernels: one rectangle of one component.
#pragma once

#include <cstdint>

// w x h predicted samples into d from the reference samples at s, the
// rectangle's whole-sample position; both planes have line stride stride.
using rectangle_fn = void(const uint8_t* s, uint8_t* d, int stride, int w, int h);

struct predict_kernels {
    rectangle_fn* rectangle[8];  // by half_x | half_y << 1 | average << 2
};

// The table in use; the reference kernels until start-up fills it.
extern predict_kernels predict_k;

// The reference kernels, then the faster ones that flags allow.
void init_predict_kernels(predict_kernels& t, unsigned flags);

#if defined(__x86_64__)
// The SSE2 rung, in predict_simd.cpp.
void init_predict_kernels_sse2(predict_kernels& t);
#endif
