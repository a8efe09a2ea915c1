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
