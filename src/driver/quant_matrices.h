// Intra and non-intra quantiser matrices: defaults or matrix files.
#pragma once

#include <cstdint>

extern const uint8_t default_intra_quantiser_matrix[64];

void read_quant_matrices();
