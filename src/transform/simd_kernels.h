// Vector versions of the transform-family kernels. Every table here gives
// the reference table's results bit for bit; a null pointer means that the
// running processor lacks the instructions (or that this build has none).
#pragma once

#include "driver/cpu.h"
#include "transform/predict.h"
#include "transform/quantise.h"

const quantise_kernels* quantise_kernels_avx2();
// Picks the quantiser table; runs once before main and may be called again.
void init_quantise_kernels();

const predict_kernels* predict_kernels_sse2();

inline bool cpu_has_avx2() { return (cpu_flags() & cpu_avx2) != 0; }
