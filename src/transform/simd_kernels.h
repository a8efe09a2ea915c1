// Vector versions of the transform-family kernels. Every table here gives
// the reference table's results bit for bit; a null pointer means that the
// running processor lacks the instructions (or that this build has none).
#pragma once

#include "driver/cpu.h"
#include "transform/predict.h"

const predict_kernels* predict_kernels_sse2();

