#include "motion/block_match.h"
namespace {
int sad(const uint8_t*, const uint8_t*, int, int, int, int, int) { return 0; }
int sse(const uint8_t*, const uint8_t*, int, int, int, int) { return 0; }
int bi(const uint8_t*, const uint8_t*, const uint8_t*, int, int, int, int, int, int) { return 0; }
int var(const uint8_t*, int) { return 0; }
}  // namespace
const motion_kernels motion_kernels_reference = {sad, sse, bi, bi, var};
motion_kernels motion_k = motion_kernels_reference;
void init_motion_kernels() { motion_k = motion_kernels_reference; }
int block_search(const uint8_t*, const uint8_t*, const uint8_t*, int, int cx, int cy, int, int, int, int, int,
                 int* bx, int* by) {
    *bx = 2 * cx;
    *by = 2 * cy;
    return 0;
}
