// Measures at half-sample positions and small helpers shared by the frame
// and field estimators.
#pragma once

#include <cstddef>
#include <cstdint>

#include "motion/block_match.h"
#include "motion/motion_kernels.h"

// Mean squared error of 9 per sample over a macroblock.
constexpr int intra_threshold = 2304;

inline int sse_at(const uint8_t* ref, int stride, int x, int y, const uint8_t* cur, int rows) {
    return motion_k.block_sse[half_index(x, y)](half_sample_origin(ref, stride, x, y), cur, stride, rows);
}

inline int bidir_sad_at(const uint8_t* fwd, int fx, int fy, const uint8_t* bwd, int bx, int by, const uint8_t* cur,
                        int stride, int rows) {
    return motion_k.bidir_sad[half_index(fx, fy) | half_index(bx, by) << 2](
        half_sample_origin(fwd, stride, fx, fy), half_sample_origin(bwd, stride, bx, by), cur, stride, rows);
}

inline int bidir_sse_at(const uint8_t* fwd, int fx, int fy, const uint8_t* bwd, int bx, int by, const uint8_t* cur,
                        int stride, int rows) {
    return motion_k.bidir_sse[half_index(fx, fy) | half_index(bx, by) << 2](
        half_sample_origin(fwd, stride, fx, fy), half_sample_origin(bwd, stride, bx, by), cur, stride, rows);
}

inline void set_mv(int mv[2], int x, int y) {
    mv[0] = x;
    mv[1] = y;
}

// One way to predict a B macroblock and the distortion that ranks it.
struct b_candidate {
    int mb_type, motion_type, distortion;
};

// The candidate of least distortion. Among equal distortions the one listed
// first wins, so each list is written in its order of preference on ties.
template <std::size_t n>
const b_candidate& least_distortion(const b_candidate (&list)[n]) {
    const b_candidate* best = &list[0];
    for (const b_candidate& c : list)
        if (c.distortion < best->distortion) best = &c;
    return *best;
}
