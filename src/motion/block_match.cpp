#include "motion/block_match.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "driver/cpu.h"
#include "motion/motion_kernels.h"
#include "motion/spiral.h"

namespace {

// The interpolated prediction of one sample; the four-term form gives
// every half-flag combination its own rounding.
template <int hx, int hy>
inline int predicted(const uint8_t* p, int stride) {
    const uint8_t* q = p + (hy ? stride : 0);
    return (p[0] + p[hx] + q[0] + q[hx] + 2) >> 2;
}

int block_sad_whole_ref(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int limit) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) s += std::abs(ref[x] - cur[x]);
        if (s >= limit) return s;
        ref += stride;
        cur += stride;
    }
    return s;
}

template <int hx, int hy>
int block_sad_half_ref(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) s += std::abs(predicted<hx, hy>(ref + x, stride) - cur[x]);
        ref += stride;
        cur += stride;
    }
    return s;
}

template <int hx, int hy>
int block_sse_ref(const uint8_t* ref, const uint8_t* cur, int stride, int rows) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) {
            int d = predicted<hx, hy>(ref + x, stride) - cur[x];
            s += d * d;
        }
        ref += stride;
        cur += stride;
    }
    return s;
}

// f: the forward half flags in bits 0 and 1, the backward ones in 2 and 3.
template <bool squared, int f>
int bidir_ref(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride, int rows) {
    int s = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) {
            int p = predicted<f & 1, (f >> 1) & 1>(fwd + x, stride);
            int b = predicted<(f >> 2) & 1, (f >> 3)>(bwd + x, stride);
            int d = ((p + b + 1) >> 1) - cur[x];
            s += squared ? d * d : std::abs(d);
        }
        fwd += stride;
        bwd += stride;
        cur += stride;
    }
    return s;
}

template <bool squared, int... f>
constexpr void set_bidir_ref(bidir_fn* (&entries)[16], std::integer_sequence<int, f...>) {
    bidir_fn* const kernels[] = {bidir_ref<squared, f>...};
    for (int i = 0; i < 16; ++i) entries[i] = kernels[i];
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

whole_match whole_search_ref(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int width, int height,
                             int cx, int cy) {
    auto sad = [&](int x, int y, int limit) {
        return block_sad_whole_ref(ref + static_cast<std::ptrdiff_t>(y) * stride + x, cur, stride, rows, limit);
    };
    return spiral_search(sad, width, height, cx, cy);
}

constexpr block_sad_fn* sad_ref[4] = {block_sad_whole_ref, block_sad_half_ref<1, 0>, block_sad_half_ref<0, 1>,
                                      block_sad_half_ref<1, 1>};

half_match half_refine_ref(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int sides) {
    auto sad = [&](int dx, int dy, int limit) {
        return sad_ref[half_index(dx, dy)](refine_origin(ref, stride, dx, dy), cur, stride, rows, limit);
    };
    return refine_loop(sad, sides);
}

constexpr motion_kernels reference_kernels() {
    motion_kernels t{};
    t.block_sad[0] = block_sad_whole_ref;
    t.block_sad[1] = block_sad_half_ref<1, 0>;
    t.block_sad[2] = block_sad_half_ref<0, 1>;
    t.block_sad[3] = block_sad_half_ref<1, 1>;
    t.block_sse[0] = block_sse_ref<0, 0>;
    t.block_sse[1] = block_sse_ref<1, 0>;
    t.block_sse[2] = block_sse_ref<0, 1>;
    t.block_sse[3] = block_sse_ref<1, 1>;
    set_bidir_ref<false>(t.bidir_sad, std::make_integer_sequence<int, 16>());
    set_bidir_ref<true>(t.bidir_sse, std::make_integer_sequence<int, 16>());
    t.block_variance = block_variance_ref;
    t.whole_search = whole_search_ref;
    t.interlaced_search = interlaced_separately<whole_search_ref>;
    t.half_refine = half_refine_ref;
    return t;
}

}  // namespace

constinit motion_kernels motion_k = reference_kernels();

void init_motion_kernels(motion_kernels& t, [[maybe_unused]] unsigned flags) {
    t = reference_kernels();
#if defined(__x86_64__)
    if (flags & cpu_sse2) init_motion_kernels_sse2(t);
    if (flags & cpu_avx2) init_motion_kernels_avx2(t);
    if (flags & cpu_avx512) init_motion_kernels_avx512(t);
#endif
}

namespace {

// The whole-sample positions of a search: those within range of the centre
// whose block lies inside the area.
struct search_bounds {
    int xlow, xhigh, ylow, yhigh;
    search_bounds(int cx, int cy, int range_x, int range_y, int rows, int area_width, int area_height)
        : xlow(std::max(cx - range_x, 0)),
          xhigh(std::min(cx + range_x, area_width - 16)),
          ylow(std::max(cy - range_y, 0)),
          yhigh(std::min(cy + range_y, area_height - rows)) {}
};

// The refinement around the whole-sample winner (bx, by), on the
// reconstruction; the best position in half samples and its SAD.
int refine(const uint8_t* rec_ref, const uint8_t* cur_block, int stride, int bx, int by, int rows, int area_width,
           int area_height, int* best_x, int* best_y) {
    const int sides = (bx > 0 ? side_left : 0) | (bx < area_width - 16 ? side_right : 0) | (by > 0 ? side_up : 0) |
                      (by < area_height - rows ? side_down : 0);
    const half_match h =
        motion_k.half_refine(rec_ref + static_cast<std::ptrdiff_t>(by) * stride + bx, cur_block, stride, rows, sides);
    *best_x = 2 * bx + h.dx;
    *best_y = 2 * by + h.dy;
    return h.sad;
}

}  // namespace

int block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int stride, int cx, int cy,
                 int range_x, int range_y, int rows, int area_width, int area_height, int* best_x, int* best_y) {
    const search_bounds b(cx, cy, range_x, range_y, rows, area_width, area_height);
    const whole_match whole =
        motion_k.whole_search(src_ref + static_cast<std::ptrdiff_t>(b.ylow) * stride + b.xlow, cur_block, stride, rows,
                              b.xhigh - b.xlow + 1, b.yhigh - b.ylow + 1, cx - b.xlow, cy - b.ylow);
    return refine(rec_ref, cur_block, stride, b.xlow + whole.x, b.ylow + whole.y, rows, area_width, area_height, best_x,
                  best_y);
}

void interlaced_block_search(const uint8_t* src_ref, const uint8_t* rec_ref, const uint8_t* cur_block, int width,
                             int height, int cx, int cy, int range_x, int range_y, int sad[5], int best_x[5],
                             int best_y[5]) {
    const search_bounds frame(cx, cy, range_x, range_y, 16, width, height);
    const search_bounds field(cx, cy >> 1, range_x, range_y >> 1, 8, width, height >> 1);
    const interlaced_windows w{frame.xhigh - frame.xlow + 1, cx - frame.xlow,       frame.ylow,
                               frame.yhigh - frame.ylow + 1, cy - frame.ylow,       field.ylow,
                               field.yhigh - field.ylow + 1, (cy >> 1) - field.ylow};
    whole_match found[5];
    motion_k.interlaced_search(src_ref + frame.xlow, cur_block, width, w, found);
    sad[0] = refine(rec_ref, cur_block, width, frame.xlow + found[0].x, frame.ylow + found[0].y, 16, width, height,
                    &best_x[0], &best_y[0]);
    for (int pr = 0; pr < 2; ++pr)
        for (int pc = 0; pc < 2; ++pc) {
            const int k = 1 + 2 * pr + pc;
            sad[k] = refine(rec_ref + pr * width, cur_block + pc * width, 2 * width, field.xlow + found[k].x,
                            field.ylow + found[k].y, 8, width, height >> 1, &best_x[k], &best_y[k]);
        }
}
