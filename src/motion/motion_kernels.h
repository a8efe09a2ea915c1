// Motion distortion kernels: one signature per kind, one table of them.
#pragma once

#include <cstdint>

// 16 samples wide, rows high. The whole-sample SAD may stop after the first
// row whose running sum reaches limit and return that sum; the half-sample
// ones always sum every row.
using block_sad_fn = int(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int limit);
using block_sse_fn = int(const uint8_t* ref, const uint8_t* cur, int stride, int rows);
// The rounded average of the two predictions against cur.
using bidir_fn = int(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int rows);
// Of a 16x16 block: the sum of squares less the square of the sum over 256.
using block_variance_fn = int(const uint8_t* block, int stride);

// A whole-sample position of a search window and the SAD there.
struct whole_match {
    int x, y, sad;
};
// The full search of a 16 x rows block (rows at most 16) over the whole
// positions 0 <= x < width, 0 <= y < height of a window, the block at (x, y)
// starting at ref + y * stride + x; (cx, cy) lies inside the window. The
// winner is the first position of least SAD in the spiral from (cx, cy):
// ring by ring outwards, each ring's top row rightwards from its top-left
// corner, right column downwards, bottom row leftwards, left column upwards.
using whole_search_fn = whole_match(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int width, int height,
                                    int cx, int cy);

// The five searches of a 16 x 16 block of an interlaced frame picture over
// one reference frame: the frame search (16 rows, frame stride) and the four
// field searches of 8 rows, each current field pc from reference field pr
// (field rows at twice the stride, field pr starting pr rows down). All five
// windows are width positions across from the same column; rows are counted
// from the top of the reference area, the frame window's in frame rows from
// frame_y0, the field windows' in field rows from field_y0. Centres and
// results are relative to the windows, as for whole_search.
struct interlaced_windows {
    int width, cx;
    int frame_y0, frame_height, frame_cy;
    int field_y0, field_height, field_cy;
};
// ref: the area's sample at the windows' first column, top row. found[0]
// the frame winner, found[1 + 2 pr + pc] the field winners.
using interlaced_search_fn = void(const uint8_t* ref, const uint8_t* cur, int stride, const interlaced_windows& w,
                                  whole_match found[5]);

// A half-sample offset (dx, dy), each -1, 0 or 1, from a whole-sample
// position and the SAD there.
struct half_match {
    int dx, dy, sad;
};
// The refinement around the whole-sample position ref: the offsets in rows
// from dy = -1 down, each from dx = -1 rightwards, leaving out those past a
// side not in sides (1 left, 2 right, 4 up, 8 down); the winner is the first
// offset of least SAD.
using half_refine_fn = half_match(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int sides);
enum refine_side { side_left = 1, side_right = 2, side_up = 4, side_down = 8, all_sides = 15 };

// The index of the interpolation at a half-sample position (x, y).
constexpr int half_index(int x, int y) { return (x & 1) | (y & 1) << 1; }

struct motion_kernels {
    block_sad_fn* block_sad[4];  // by half_index
    block_sse_fn* block_sse[4];  // by half_index
    bidir_fn* bidir_sad[16];     // by half_index(forward) | half_index(backward) << 2
    bidir_fn* bidir_sse[16];
    block_variance_fn* block_variance;
    whole_search_fn* whole_search;
    interlaced_search_fn* interlaced_search;
    half_refine_fn* half_refine;
};

// The table in use; the reference kernels until start-up fills it.
extern motion_kernels motion_k;

// The reference kernels, then the faster ones that flags allow.
void init_motion_kernels(motion_kernels& t, unsigned flags);

#if defined(__x86_64__)
// The rungs, each in block_match_<rung>.cpp.
void init_motion_kernels_sse2(motion_kernels& t);
void init_motion_kernels_avx2(motion_kernels& t);
void init_motion_kernels_avx512(motion_kernels& t);
#endif
