#include "startup/kernels.h"

#include "motion/motion_kernels.h"
#include "stats/stats_kernels.h"
#include "transform/dct_kernels.h"
#include "transform/predict_kernels.h"
#include "transform/quantise_kernels.h"
#include "transform/sample_kernels.h"

void init_kernels(unsigned flags) {
    init_motion_kernels(motion_k, flags);
    init_stats_kernels(stats_k, flags);
    init_dct_kernels(dct_k, flags);
    init_predict_kernels(predict_k, flags);
    init_quantise_kernels(quantise_k, flags);
    init_sample_kernels(sample_k, flags);
}
