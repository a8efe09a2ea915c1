#include "motion/block_match.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace {

// The interpolated prediction of one sample; the four-term form gives
// every half-flag combination its own rounding.
inline int predicted(const uint8_t* p, int stride, int hx, int hy) {
    const uint8_t* q = p + (hy ? stride : 0);
    return (p[0] + p[hx] + q[0] + q[hx] + 2) >> 2;
}

int block_sad_ref(const uint8_t* ref, const uint8_t* cur, int stride, int half_x, int half_y, int rows,
                  int limit) {
    int s = 0;
    if (!half_x && !half_y) {
        for (int j = 0; j < rows; ++j) {
            for (int x = 0; x < 16; ++x) s += std::abs(ref[x] - cur[x]);
            if (s >= limit) return s;
            ref += stride;
            cur += stride;
        }
        return s;
    }
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) {
            int p;
            if (half_x && !half_y)
                p = (ref[x] + ref[x + 1] + 1) >> 1;
            else if (!half_x)
                p = (ref[x] + ref[x + stride] + 1) >> 1;
            else
                p = (ref[x] + ref[x + 1] + ref[x + stride] + ref[x + stride + 1] + 2) >> 2;
            s += std::abs(p - cur[x]);
        }
        ref += stride;
        cur += stride;
    }
    return s;
}

int block_sse_ref(const uint8_t* ref, const uint8_t* cur, int stride, int half_x, int half_y, int rows) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) {
            int d = predicted(ref + x, stride, half_x, half_y) - cur[x];
            s += d * d;
        }
        ref += stride;
        cur += stride;
    }
    return s;
}

template <bool squared>
int bidir_ref(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int fhx, int fhy, int bhx,
              int bhy, int rows) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) {
            int f = predicted(fwd + x, stride, fhx, fhy);
            int b = predicted(bwd + x, stride, bhx, bhy);
            int d = ((f + b + 1) >> 1) - cur[x];
            s += squared ? d * d : std::abs(d);
        }
        fwd += stride;
        bwd += stride;
        cur += stride;
    }
    return s;
}

int bidir_sad_ref(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int fhx, int fhy,
                  int bhx, int bhy, int rows) {
    return bidir_ref<false>(fwd, bwd, cur, stride, fhx, fhy, bhx, bhy, rows);
}

int bidir_sse_ref(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int fhx, int fhy,
                  int bhx, int bhy, int rows) {
    return bidir_ref<true>(fwd, bwd, cur, stride, fhx, fhy, bhx, bhy, rows);
}

// The square of the sample sum needs all 32 unsigned bits.
int block_variance_ref(const uint8_t* block, int stride) {
    int s = 0;
    unsigned t = 0;
    for (int j = 0; j < 16; ++j) {
        for (int x = 0; x < 16; ++x) {
            int v = block[x];
            s += v * v;
            t += static_cast<unsigned>(v);
        }
        block += stride;
    }
    return static_cast<int>(static_cast<unsigned>(s) - ((t * t) >> 8));
}

}  // namespace

const motion_kernels motion_kernels_reference = {block_sad_ref, block_sse_ref, bidir_sad_ref, bidir_sse_ref,
                                                 block_variance_ref};
motion_kernels motion_k = motion_kernels_reference;

namespace {

// A table may leave an entry empty when it has nothing faster for it.
[[maybe_unused]] void take_kernels(const motion_kernels* k) {
    if (!k) return;
    if (k->block_sad) motion_k.block_sad = k->block_sad;
    if (k->block_sse) motion_k.block_sse = k->block_sse;
    if (k->bidir_sad) motion_k.bidir_sad = k->bidir_sad;
    if (k->bidir_sse) motion_k.bidir_sse = k->bidir_sse;
    if (k->block_variance) motion_k.block_variance = k->block_variance;
}

}  // namespace

void init_motion_kernels() {
    motion_k = motion_kernels_reference;
#if defined(__x86_64__) && !defined(MORVANE_REFERENCE_KERNELS)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) take_kernels(motion_kernels_sse2());
#endif
}

int block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int stride, int cx,
                 int cy, int range_x, int range_y, int rows, int area_width, int area_height, int* best_x,
                 int* best_y) {
    const int xlow = std::max(cx - range_x, 0);
    const int xhigh = std::min(cx + range_x, area_width - 16);
    const int ylow = std::max(cy - range_y, 0);
    const int yhigh = std::min(cy + range_y, area_height - rows);
    auto sad_at = [&](const uint8_t* plane, int x, int y, int hx, int hy, int limit) {
        return motion_k.block_sad(plane + static_cast<std::ptrdiff_t>(y) * stride + x, cur_block, stride, hx, hy,
                                  rows, limit);
    };

    int d_best = sad_at(src_ref, cx, cy, 0, 0, no_distortion);
    int bx = cx, by = cy;
    auto test = [&](int x, int y) {
        int d = sad_at(src_ref, x, y, 0, 0, d_best);
        if (d < d_best) {
            d_best = d;
            bx = x;
            by = y;
        }
    };

    // A ring beyond the window's farthest extent from the centre holds no
    // position inside it, nor does any later ring.
    const int reach = std::max({cx - xlow, xhigh - cx, cy - ylow, yhigh - cy, 0});
    const int rings = std::min(std::max(range_x, range_y), reach);
    for (int l = 1; l <= rings; ++l) {
        // The four sides in ring order, each clipped to the window: top row
        // rightwards from the top-left corner, right column downwards, bottom
        // row leftwards, left column upwards.
        const int top = cy - l, bottom = cy + l, left = cx - l, right = cx + l;
        if (top >= ylow)
            for (int x = std::max(left, xlow), e = std::min(right - 1, xhigh); x <= e; ++x) test(x, top);
        if (right <= xhigh)
            for (int y = std::max(top, ylow), e = std::min(bottom - 1, yhigh); y <= e; ++y) test(right, y);
        if (bottom <= yhigh)
            for (int x = std::min(right, xhigh), e = std::max(left + 1, xlow); x >= e; --x) test(x, bottom);
        if (left >= xlow)
            for (int y = std::min(bottom, yhigh), e = std::max(top + 1, ylow); y >= e; --y) test(left, y);
    }

    // Refinement around the best whole-sample position, on the reconstruction.
    d_best = no_distortion;
    const int X = 2 * bx, Y = 2 * by;
    const int x0 = X > 0 ? X - 1 : X, x1 = X < 2 * (area_width - 16) ? X + 1 : X;
    const int y0 = Y > 0 ? Y - 1 : Y, y1 = Y < 2 * (area_height - rows) ? Y + 1 : Y;
    int hx_best = X, hy_best = Y;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            int d = sad_at(rec_ref, x >> 1, y >> 1, x & 1, y & 1, d_best);
            if (d < d_best) {
                d_best = d;
                hx_best = x;
                hy_best = y;
            }
        }
    }
    *best_x = hx_best;
    *best_y = hy_best;
    return d_best;
}
