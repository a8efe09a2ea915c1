// Vector versions of the transform-family kernels. Every table here gives
// the reference table's results bit for bit; a null pointer means that the
// running processor lacks the instructions (or that this build has none).
#pragma once

#include "transform/dct.h"
#include "transform/predict.h"
#include "transform/quantise.h"

// Forward transform (four columns per register, the reference's order of
// every sum) and inverse transform (eight 32-bit lanes).
const dct_kernels* dct_kernels_avx2();
// Fills the tables the vector forward transform reads; needs dct_basis.
void prepare_dct_simd();

const quantise_kernels* quantise_kernels_avx2();
// Picks the quantiser table; runs once before main and may be called again.
void init_quantise_kernels();

const predict_kernels* predict_kernels_sse2();

// True when the processor and the operating system support AVX2.
bool cpu_has_avx2();
