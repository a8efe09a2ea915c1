// The spiral order of the whole-sample search, for the kernels that
// implement whole_search_fn.
#pragma once

#include <algorithm>

#include "motion/block_match.h"
#include "motion/motion_kernels.h"

// The spiral itself. sad(x, y, limit) may stop once its running sum reaches
// limit and return that partial sum, which is then not below the best; so a
// position replaces the best exactly when its full SAD is below the best's,
// and the winner is the first position of least full SAD.
template <typename Sad>
inline whole_match spiral_search(Sad sad, int width, int height, int cx, int cy) {
    whole_match best{cx, cy, sad(cx, cy, no_distortion)};
    auto test = [&](int x, int y) {
        const int d = sad(x, y, best.sad);
        if (d < best.sad) best = {x, y, d};
    };
    // Beyond the window's farthest extent from the centre no ring holds a
    // position inside it.
    const int reach = std::max({cx, width - 1 - cx, cy, height - 1 - cy});
    for (int l = 1; l <= reach; ++l) {
        // The four sides in ring order, each clipped to the window: top row
        // rightwards from the top-left corner, right column downwards, bottom
        // row leftwards, left column upwards.
        const int top = cy - l, bottom = cy + l, left = cx - l, right = cx + l;
        if (top >= 0)
            for (int x = std::max(left, 0), e = std::min(right - 1, width - 1); x <= e; ++x) test(x, top);
        if (right < width)
            for (int y = std::max(top, 0), e = std::min(bottom - 1, height - 1); y <= e; ++y) test(right, y);
        if (bottom < height)
            for (int x = std::min(right, width - 1), e = std::max(left + 1, 0); x >= e; --x) test(x, bottom);
        if (left >= 0)
            for (int y = std::min(bottom, height - 1), e = std::max(top + 1, 0); y >= e; --y) test(left, y);
    }
    return best;
}
