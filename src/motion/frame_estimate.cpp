#include <cstdio>
#include "driver/encoder_state.h"
#include "motion/motion_estimation.h"
void motion_estimation(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                       const uint8_t*, int, int, int, int, macroblock_info* records, int, int) {
    std::fputs(" motion_estimation=test1\n", enc.statistics_file);
    for (int k = 0; k < enc.mb_width * enc.mb_height2; ++k) records[k].mb_type = MB_INTRA;
}
void frame_mb_estimate(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, int,
                       int, int, int, int, macroblock_info*) {}
