// AVX-512 whole-sample search: SADs of 32 neighbouring positions at once,
// then the least (SAD, spiral rank) pair, which is the spiral's winner (see
// spiral.h). The sums are exact: a 16 x 16 SAD is at most 65280, so 16-bit
// lanes hold it. A group of positions is dropped once every partial sum is
// above the best SAD so far; sums only grow, so none of them could win.
#include "motion/motion_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "driver/cpu.h"
#include "motion/half_sad_avx2.h"
#include "motion/spiral.h"

namespace {

// The 4-sample group g of a block row in every doubleword.
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") inline int group(const uint8_t* row, int g) {
    int v;
    std::memcpy(&v, row + 4 * g, 4);
    return v;
}

// dbsad's selection of the doublewords (0, 1, 1, 2) and (1, 2, 2, 3) of
// each 128-bit lane: from a lane holding the reference from q, the SADs of a
// group at the 8 positions from q, and those of the next group.
constexpr int first_group = 0x94, second_group = 0xe9;

// Word k: the SAD at p + k of the rows summed so far. 128-bit lane k covers
// the positions p + 8k ..: groups 0 and 1 read the reference from p + 8k
// (`near`), groups 2 and 3 from p + 8k + 8 (`far`). The masked loads read
// only the n + 15 samples of the n positions' rows.
struct wide {
    using vec = __m512i;
    using mask = __mmask32;
    static constexpr int positions = 32;
    __mmask64 load;
    mask valid;
    __m512i near_index = _mm512_setr_epi64(0, 1, 1, 2, 2, 3, 3, 4);
    __m512i far_index = _mm512_setr_epi64(1, 2, 2, 3, 3, 4, 4, 5);

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
    explicit wide(int n) : load((__mmask64{1} << (n + 15)) - 1), valid(n == 32 ? ~mask{0} : (mask{1} << n) - 1) {}

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec zero() { return _mm512_setzero_si512(); }

    // A reference row's lanes as the groups read them.
    struct row {
        vec near, far;
    };
    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") row read(const uint8_t* p) const {
        const __m512i r = _mm512_maskz_loadu_epi8(load, p);
        return {_mm512_maskz_permutexvar_epi64(0xff, near_index, r),
                _mm512_maskz_permutexvar_epi64(0xff, far_index, r)};
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec add(vec acc, const row& r, const uint8_t* cur) {
        const __m512i g01 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 0)), r.near, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 1)), r.near, second_group));
        const __m512i g23 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 2)), r.far, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 3)), r.far, second_group));
        return _mm512_add_epi16(acc, _mm512_add_epi16(g01, g23));
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") vec add_row(vec acc, const uint8_t* p, const uint8_t* cur) const {
        return add(acc, read(p), cur);
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec sum(vec a, vec b) { return _mm512_add_epi16(a, b); }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") mask at_or_below(vec v, int threshold) const {
        return _mm512_mask_cmple_epu16_mask(valid, v, _mm512_set1_epi16(static_cast<short>(threshold)));
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") mask equal(vec v, int value) const {
        return _mm512_mask_cmpeq_epi16_mask(valid, v, _mm512_set1_epi16(static_cast<short>(value)));
    }

    // The least of the valid words.
    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") int least(vec v) const {
        const __m512i w = _mm512_mask_mov_epi16(_mm512_set1_epi16(-1), valid, v);
        const __m256i h =
            _mm256_min_epu16(_mm512_maskz_extracti64x4_epi64(0xff, w, 0), _mm512_maskz_extracti64x4_epi64(0xff, w, 1));
        const __m128i q = _mm_min_epu16(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
        return _mm_cvtsi128_si32(_mm_minpos_epu16(q)) & 0xffff;
    }
};

// The same for up to 16 positions in half the width.
struct narrow {
    using vec = __m256i;
    using mask = __mmask16;
    static constexpr int positions = 16;
    __mmask32 load;
    mask valid;

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
    explicit narrow(int n) : load((__mmask32{1} << (n + 15)) - 1), valid(static_cast<mask>((1u << n) - 1)) {}

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec zero() { return _mm256_setzero_si256(); }

    struct row {
        vec near, far;
    };
    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") row read(const uint8_t* p) const {
        const __m256i r = _mm256_maskz_loadu_epi8(load, p);
        return {_mm256_permute4x64_epi64(r, _MM_SHUFFLE(2, 1, 1, 0)),
                _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 2, 2, 1))};
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec add(vec acc, const row& r, const uint8_t* cur) {
        const __m256i g01 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 0)), r.near, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 1)), r.near, second_group));
        const __m256i g23 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 2)), r.far, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 3)), r.far, second_group));
        return _mm256_add_epi16(acc, _mm256_add_epi16(g01, g23));
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") vec add_row(vec acc, const uint8_t* p, const uint8_t* cur) const {
        return add(acc, read(p), cur);
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec sum(vec a, vec b) { return _mm256_add_epi16(a, b); }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") mask at_or_below(vec v, int threshold) const {
        return _mm256_mask_cmple_epu16_mask(valid, v, _mm256_set1_epi16(static_cast<short>(threshold)));
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") mask equal(vec v, int value) const {
        return _mm256_mask_cmpeq_epi16_mask(valid, v, _mm256_set1_epi16(static_cast<short>(value)));
    }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") int least(vec v) const {
        const __m256i w = _mm256_mask_mov_epi16(_mm256_set1_epi16(-1), valid, v);
        const __m128i q = _mm_min_epu16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
        return _mm_cvtsi128_si32(_mm_minpos_epu16(q)) & 0xffff;
    }
};

// The positions of window row y from x0 whose SADs are sums offered to
// best: those of the least SAD, if it is at or below the best's.
template <typename V>
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
inline void offer_least(const V& v, typename V::vec sums, int x0, int y, spiral_best& best) {
    if (!v.at_or_below(sums, best.threshold())) return;
    const int least = v.least(sums);
    for (uint32_t m = v.equal(sums, least); m; m &= m - 1) best.offer(least, x0 + __builtin_ctz(m), y);
}

// The n positions from p in window row y offered to best.
template <typename V>
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
inline void search_positions(const uint8_t* p, const uint8_t* cur, std::ptrdiff_t stride, int rows, int n, int x0,
                             int y, spiral_best& best) {
    const V v(n);
    const int threshold = best.threshold();
    typename V::vec acc = V::zero();
    for (int j = 0; j < rows; ++j, p += stride, cur += stride) {
        acc = v.add_row(acc, p, cur);
        if ((j & 3) == 3 && j + 1 < rows && !v.at_or_below(acc, threshold)) return;
    }
    offer_least(v, acc, x0, y, best);
}

// The positions of window row y, whose first block starts at row.
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
inline void search_row(const uint8_t* row, const uint8_t* cur, std::ptrdiff_t stride, int rows, int width, int y,
                       spiral_best& best) {
    int x0 = 0;
    for (; width - x0 > narrow::positions; x0 += wide::positions)
        search_positions<wide>(row + x0, cur, stride, rows, std::min(width - x0, wide::positions), x0, y, best);
    if (x0 < width) search_positions<narrow>(row + x0, cur, stride, rows, width - x0, x0, y, best);
}

MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
whole_match whole_search_avx512(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows, int width, int height,
                                int cx, int cy) {
    const std::ptrdiff_t stride = row_stride;
    spiral_best best(cx, cy);
    // Rows outwards from the centre's, so that a good best soon drops
    // positions early.
    search_row(ref + cy * stride, cur, stride, rows, width, cy, best);
    for (int d = 1; cy - d >= 0 || cy + d < height; ++d) {
        if (cy + d < height) search_row(ref + (cy + d) * stride, cur, stride, rows, width, cy + d, best);
        if (cy - d >= 0) search_row(ref + (cy - d) * stride, cur, stride, rows, width, cy - d, best);
    }
    return best.result();
}

// The field searches of n positions from column x0 in full, field row by
// field row, and from their sums the frame SADs of the frame rows they make
// up: frame row 2 y holds the top block rows against the top field and the
// bottom ones against the bottom field, both at field row y; frame row
// 2 y + 1 the top rows against the bottom field at y and the bottom rows
// against the top field at y + 1. The two current fields share each
// reference row read.
template <typename V>
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
inline void interlaced_positions(const uint8_t* ref, const uint8_t* cur, std::ptrdiff_t stride, int n, int x0,
                                 const interlaced_windows& w, spiral_best& frame, spiral_best* fields) {
    const V v(n);
    typename V::vec above = V::zero();  // top rows against the bottom field, field row above
    for (int t = 0; t < w.field_height; ++t) {
        const int yf = w.field_y0 + t;
        typename V::vec sums[4];  // by 2 pr + pc
        for (int pr = 0; pr < 2; ++pr) {
            typename V::vec top = V::zero(), bottom = V::zero();
            const uint8_t* p = ref + (2 * yf + pr) * stride;
            const uint8_t* c = cur;
            for (int r = 0; r < 8; ++r, p += 2 * stride, c += 2 * stride) {
                const typename V::row rows = v.read(p);
                top = V::add(top, rows, c);
                bottom = V::add(bottom, rows, c + stride);
            }
            sums[2 * pr] = top;
            sums[2 * pr + 1] = bottom;
        }
        for (int k = 0; k < 4; ++k) offer_least(v, sums[k], x0, t, fields[k]);
        const int y = 2 * yf - w.frame_y0;
        if (y >= 0 && y < w.frame_height) offer_least(v, V::sum(sums[0], sums[3]), x0, y, frame);
        if (t > 0 && y - 1 >= 0 && y - 1 < w.frame_height) offer_least(v, V::sum(above, sums[1]), x0, y - 1, frame);
        above = sums[2];
    }
}

MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
void interlaced_search_avx512(const uint8_t* ref, const uint8_t* cur, int row_stride, const interlaced_windows& w,
                              whole_match found[5]) {
    const std::ptrdiff_t stride = row_stride;
    spiral_best frame(w.cx, w.frame_cy);
    spiral_best fields[4] = {{w.cx, w.field_cy}, {w.cx, w.field_cy}, {w.cx, w.field_cy}, {w.cx, w.field_cy}};
    int x0 = 0;
    for (; w.width - x0 > narrow::positions; x0 += wide::positions)
        interlaced_positions<wide>(ref + x0, cur, stride, std::min(w.width - x0, wide::positions), x0, w, frame,
                                   fields);
    if (x0 < w.width) interlaced_positions<narrow>(ref + x0, cur, stride, w.width - x0, x0, w, frame, fields);
    // The frame rows beyond those the field rows make up.
    const int first = 2 * w.field_y0, last = 2 * (w.field_y0 + w.field_height - 1);
    for (int y = 0; y < w.frame_height; ++y) {
        const int row = w.frame_y0 + y;
        if (row < first || row > last) search_row(ref + row * stride, cur, stride, 16, w.width, y, frame);
    }
    found[0] = frame.result();
    for (int k = 0; k < 4; ++k) found[1 + k] = fields[k].result();
}

// The AVX2 refinement with the 32 registers of AVX-512, which hold all its
// sums and rows.
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl")
half_match half_refine_avx512(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int sides) {
    if (sides != all_sides || rows & 1) return half_avx2::refine_each(ref, cur, stride, rows, sides);
    return half_avx2::refine_shared(ref, cur, stride, rows);
}

}  // namespace

void init_motion_kernels_avx512(motion_kernels& t) {
    t.whole_search = whole_search_avx512;
    t.interlaced_search = interlaced_search_avx512;
    t.half_refine = half_refine_avx512;
}

#endif
