// The constants of the integer inverse transform, shared by its reference
// and vector kernels. Both 1-D passes run the same butterfly; they differ
// in how far the first and fifth terms are scaled up, the rounding and shift
// after the first rotations, and the final shift. The row pass keeps more
// fraction bits for the column pass, which also clips its output.
#pragma once

#include <cstdint>

constexpr int32_t idct_w1 = 2841, idct_w2 = 2676, idct_w3 = 2408, idct_w5 = 1609, idct_w6 = 1108, idct_w7 = 565;

struct idct_pass {
    int scale_shift;      // terms 0 and 4 times 1 << scale_shift
    int32_t round;        // added to the scaled term 0
    int32_t stage_round;  // added to the first rotations' products
    int stage_shift;      // applied to their sums
    int final_shift;
};

constexpr idct_pass idct_rows{11, 128, 0, 0, 8};
constexpr idct_pass idct_columns{8, 8192, 4, 3, 14};
