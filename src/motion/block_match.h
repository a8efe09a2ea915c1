// Block matching on the motion kernels.
#pragma once

#include <cstddef>
#include <cstdint>

// Distortion of a search that has found nothing, or of a missing reference;
// above every 16x16 sum of absolute differences.
constexpr int no_distortion = 65536;

// Full search with half-sample refinement; returns the SAD on rec_ref at
// the best position (half-sample units, absolute). The block at the centre
// (cx, cy) lies inside the area; rows is at most 16.
int block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int stride, int cx, int cy,
                 int range_x, int range_y, int rows, int area_width, int area_height, int* best_x, int* best_y);

// The five searches of the 16 x 16 block of an interlaced frame picture at
// (cx, cy) in a width x height reference frame, frame and fields as
// block_search makes them (the fields at half the vertical range): index 0
// the frame search, 1 + 2 pr + pc current field pc from reference field pr.
void interlaced_block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int width,
                             int height, int cx, int cy, int range_x, int range_y, int sad[5], int best_x[5],
                             int best_y[5]);

// The sample of a plane at which a block at a half-sample position starts.
inline const uint8_t* half_sample_origin(const uint8_t* plane, int stride, int x, int y) {
    return plane + static_cast<std::ptrdiff_t>(y >> 1) * stride + (x >> 1);
}
