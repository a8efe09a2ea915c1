// Block matching and distortion measures, behind a kernel table.
#pragma once

#include <cstddef>
#include <cstdint>

struct motion_kernels {
    int (*block_sad)(const uint8_t* ref, const uint8_t* cur, int stride, int half_x, int half_y, int rows,
                     int limit);
    int (*block_sse)(const uint8_t* ref, const uint8_t* cur, int stride, int half_x, int half_y, int rows);
    int (*bidir_sad)(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int fwd_half_x,
                     int fwd_half_y, int bwd_half_x, int bwd_half_y, int rows);
    int (*bidir_sse)(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int fwd_half_x,
                     int fwd_half_y, int bwd_half_x, int bwd_half_y, int rows);
    int (*block_variance)(const uint8_t* block, int stride);
};

// The table in use; filled with the reference kernels, then the best
// available optimised versions, by init_motion_kernels.
extern motion_kernels motion_k;
extern const motion_kernels motion_kernels_reference;
void init_motion_kernels();

// Optimised tables, or nullptr when not built for this target.
const motion_kernels* motion_kernels_sse2();

// Distortion of a search that has found nothing, or of a missing reference;
// above every 16x16 sum of absolute differences.
constexpr int no_distortion = 65536;

// Full search with half-sample refinement; returns the SAD on rec_ref at
// the best position (half-sample units, absolute).
int block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int stride, int cx,
                 int cy, int range_x, int range_y, int rows, int area_width, int area_height, int* best_x,
                 int* best_y);

// The sample of a plane at which a block at a half-sample position starts.
inline const uint8_t* half_sample_origin(const uint8_t* plane, int stride, int x, int y) {
    return plane + static_cast<std::ptrdiff_t>(y >> 1) * stride + (x >> 1);
}
