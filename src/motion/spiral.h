// The spiral order of the whole-sample search, for the kernels that
// implement whole_search_fn: the loop itself, and the rank of a position in
// it for kernels that visit positions in another order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "motion/block_match.h"
#include "motion/motion_kernels.h"

// The refinement loop over the offsets half_refine_fn names, in its order.
// sad(dx, dy, limit) may stop early as the spiral's may.
template <typename Sad>
inline half_match refine_loop(Sad sad, int sides) {
    half_match best{0, 0, no_distortion};
    for (int dy = sides & side_up ? -1 : 0; dy <= (sides & side_down ? 1 : 0); ++dy)
        for (int dx = sides & side_left ? -1 : 0; dx <= (sides & side_right ? 1 : 0); ++dx) {
            const int d = sad(dx, dy, best.sad);
            if (d < best.sad) best = {dx, dy, d};
        }
    return best;
}

// The kernel of offset (dx, dy) and the sample it starts at.
inline const uint8_t* refine_origin(const uint8_t* ref, std::ptrdiff_t stride, int dx, int dy) {
    return ref + (dy < 0 ? -stride : 0) + (dx < 0 ? -1 : 0);
}

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

// The place of offset (dx, dy) from the centre in the unclipped spiral: the
// rings inside ring l hold (2l - 1)^2 positions, then its top row from the
// top-left corner (the corner included), right column from the top-right
// corner, bottom row from the bottom-right, left column from the bottom-left.
// Clipping a window only removes positions, so the order of the ranks is
// the order of the clipped spiral too.
inline uint32_t spiral_rank(int dx, int dy) {
    const int l = std::max(std::abs(dx), std::abs(dy));
    if (l == 0) return 0;
    const uint32_t base = static_cast<uint32_t>(2 * l - 1) * static_cast<uint32_t>(2 * l - 1);
    int along;
    if (dy == -l && dx < l)
        along = dx + l;
    else if (dx == l && dy < l)
        along = 3 * l + dy;
    else if (dy == l && dx > -l)
        along = 5 * l - dx;
    else
        along = 7 * l - dy;
    return base + static_cast<uint32_t>(along);
}

// The least (SAD, spiral rank) pair so far. The spiral keeps the first of
// equal SADs, so this is its winner whatever order the positions come in.
struct spiral_best {
    int cx, cy;
    uint64_t key = ~uint64_t{0};
    int x = 0, y = 0;

    spiral_best(int cx_, int cy_) : cx(cx_), cy(cy_) {}

    // Positions of a larger SAD cannot win.
    int threshold() const { return static_cast<int>(std::min<uint64_t>(key >> 32, 65535)); }

    void offer(int sad, int px, int py) {
        const uint64_t k = static_cast<uint64_t>(sad) << 32 | spiral_rank(px - cx, py - cy);
        if (k < key) key = k, x = px, y = py;
    }

    whole_match result() const { return {x, y, static_cast<int>(key >> 32)}; }
};

// The interlaced searches as five whole-sample searches.
template <whole_search_fn* search>
void interlaced_separately(const uint8_t* ref, const uint8_t* cur, int stride, const interlaced_windows& w,
                           whole_match found[5]) {
    const std::ptrdiff_t s = stride;
    found[0] = search(ref + w.frame_y0 * s, cur, stride, 16, w.width, w.frame_height, w.cx, w.frame_cy);
    for (int pr = 0; pr < 2; ++pr)
        for (int pc = 0; pc < 2; ++pc)
            found[1 + 2 * pr + pc] = search(ref + (2 * w.field_y0 + pr) * s, cur + pc * s, 2 * stride, 8, w.width,
                                            w.field_height, w.cx, w.field_cy);
}
