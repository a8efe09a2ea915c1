#include "motion/block_match.h"

// No vector versions yet: the reference kernels serve every target.
const motion_kernels* motion_kernels_sse2() { return nullptr; }
