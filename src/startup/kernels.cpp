#include "startup/kernels.h"

#include "motion/motion_kernels.h"

void init_kernels(unsigned flags) {
    init_motion_kernels(motion_k, flags);
}
