// One predicted sample of a rectangle, for each interpolation case and
// average flag; shared by the reference loop and the tails of faster ones.
#pragma once

#include <cstdint>

template <int HX, int HY, int AVG>
inline void predict_sample(const uint8_t* s, uint8_t* d, int i, int stride) {
    int p;
    if constexpr (HX && HY)
        p = (s[i] + s[i + 1] + s[i + stride] + s[i + stride + 1] + 2) >> 2;
    else if constexpr (HX)
        p = (s[i] + s[i + 1] + 1) >> 1;
    else if constexpr (HY)
        p = (s[i] + s[i + stride] + 1) >> 1;
    else
        p = s[i];
    if constexpr (AVG)
        d[i] = static_cast<uint8_t>((d[i] + p + 1) >> 1);
    else
        d[i] = static_cast<uint8_t>(p);
}

// One loop per interpolation case and average flag, indexed by
// half_x | half_y << 1 | average << 2.
using rectangle_fn = void (*)(const uint8_t* s, uint8_t* d, int stride, int w, int h);

// Splits a half-sample vector into its whole part and half flags and runs the
// matching loop over the rectangle at (x, y).
inline void run_rectangle(const rectangle_fn loops[8], const uint8_t* src, uint8_t* dst, int stride, int w, int h,
                          int x, int y, int dx, int dy, int average) {
    int xint = dx >> 1, yint = dy >> 1;
    int xh = dx & 1, yh = dy & 1;
    const uint8_t* s = src + stride * (y + yint) + x + xint;
    uint8_t* d = dst + stride * y + x;
    loops[xh | (yh << 1) | ((average ? 1 : 0) << 2)](s, d, stride, w, h);
}
