#include "motion/block_match.h"

const motion_kernels* motion_kernels_avx2();

// Nothing beyond the SSE2 kernels yet.
const motion_kernels* motion_kernels_avx2() { return nullptr; }
