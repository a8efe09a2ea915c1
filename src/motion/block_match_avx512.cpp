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

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") explicit wide(int n)
        : load((__mmask64{1} << (n + 15)) - 1), valid(n == 32 ? ~mask{0} : (mask{1} << n) - 1) {}

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec zero() { return _mm512_setzero_si512(); }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") vec add_row(vec acc, const uint8_t* p, const uint8_t* cur) const {
        const __m512i r = _mm512_maskz_loadu_epi8(load, p);
        const __m512i near = _mm512_maskz_permutexvar_epi64(0xff, near_index, r);
        const __m512i far = _mm512_maskz_permutexvar_epi64(0xff, far_index, r);
        const __m512i g01 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 0)), near, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 1)), near, second_group));
        const __m512i g23 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 2)), far, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 3)), far, second_group));
        return _mm512_add_epi16(acc, _mm512_add_epi16(g01, g23));
    }

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

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") explicit narrow(int n)
        : load((__mmask32{1} << (n + 15)) - 1), valid(static_cast<mask>((1u << n) - 1)) {}

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") static vec zero() { return _mm256_setzero_si256(); }

    MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") vec add_row(vec acc, const uint8_t* p, const uint8_t* cur) const {
        const __m256i r = _mm256_maskz_loadu_epi8(load, p);
        const __m256i near = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(2, 1, 1, 0));
        const __m256i far = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 2, 2, 1));
        const __m256i g01 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 0)), near, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 1)), near, second_group));
        const __m256i g23 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 2)), far, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 3)), far, second_group));
        return _mm256_add_epi16(acc, _mm256_add_epi16(g01, g23));
    }

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

// The n positions from p in window row y offered to best: those of the
// least SAD, if it is at or below the best's.
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
    if (!v.at_or_below(acc, threshold)) return;
    const int least = v.least(acc);
    for (uint32_t m = v.equal(acc, least); m; m &= m - 1) best.offer(least, x0 + __builtin_ctz(m), y);
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
whole_match whole_search_avx512(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows, int width,
                                int height, int cx, int cy) {
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
    t.half_refine = half_refine_avx512;
}

#endif
