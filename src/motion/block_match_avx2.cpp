// AVX2 half-sample SADs (half_sad_avx2.h) and whole-sample search. The
// search takes the SADs of 16 neighbouring positions at once, then the least
// (SAD, spiral rank) pair, which is the spiral's winner (see spiral.h). The
// sums are exact: a 16 x 16 SAD is at most 65280, so 16-bit lanes hold it. A
// group of positions is dropped once every partial sum is above the best SAD
// so far; sums only grow, so none of them could win.
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

// Blocks at a side, or with an odd number of rows, take the loop.
MORVANE_TARGET("avx2")
half_match half_refine_avx2(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int sides) {
    if (sides != all_sides || rows & 1) return half_avx2::refine_each(ref, cur, stride, rows, sides);
    return half_avx2::refine_shared(ref, cur, stride, rows);
}

constexpr int positions = 16;

// Word k: the SAD at p + k of the rows summed so far. In 128-bit lane k
// mpsadbw gives one 4-sample group's SADs at the 8 positions p + 8k ..:
// groups 0 and 1 read the reference from p + 8k (bytes 0 and 4 on), groups 2
// and 3 from p + 8k + 8. A row that would be read past the window's last
// sample comes from a copy.
struct group_sums {
    const uint8_t* last;
    unsigned valid;   // two mask bits per word, as movemask gives them
    __m256i invalid;  // all ones in the words past the n positions

    MORVANE_TARGET("avx2")
    group_sums(int n, const uint8_t* last_) : last(last_), valid(n == positions ? ~0u : (1u << 2 * n) - 1) {
        const __m256i index = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        invalid = _mm256_cmpgt_epi16(index, _mm256_set1_epi16(static_cast<short>(n - 1)));
    }

    MORVANE_TARGET("avx2") __m256i load(const uint8_t* p) const {
        if (last - p >= 31) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        alignas(32) uint8_t copy[32] = {};
        std::memcpy(copy, p, static_cast<std::size_t>(last - p + 1));
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(copy));
    }

    MORVANE_TARGET("avx2") __m256i add_row(__m256i acc, const uint8_t* p, const uint8_t* cur) const {
        const __m256i r = load(p);
        const __m256i near = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(2, 1, 1, 0));
        const __m256i far = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 2, 2, 1));
        const __m256i c = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur)));
        // Per lane: bit 2 the reference byte 0 or 4, bits 0-1 the group.
        const __m256i g01 = _mm256_add_epi16(_mm256_mpsadbw_epu8(near, c, 0), _mm256_mpsadbw_epu8(near, c, 5 | 5 << 3));
        const __m256i g23 =
            _mm256_add_epi16(_mm256_mpsadbw_epu8(far, c, 2 | 2 << 3), _mm256_mpsadbw_epu8(far, c, 7 | 7 << 3));
        return _mm256_add_epi16(acc, _mm256_add_epi16(g01, g23));
    }

    MORVANE_TARGET("avx2") unsigned at_or_below(__m256i v, int threshold) const {
        const __m256i t = _mm256_set1_epi16(static_cast<short>(threshold));
        return _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_min_epu16(v, t), v)) & valid;
    }

    MORVANE_TARGET("avx2") unsigned equal(__m256i v, int value) const {
        return _mm256_movemask_epi8(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(static_cast<short>(value)))) & valid;
    }

    // The least of the valid words.
    MORVANE_TARGET("avx2") int least(__m256i v) const {
        const __m256i w = _mm256_or_si256(v, invalid);
        const __m128i q = _mm_min_epu16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
        return _mm_cvtsi128_si32(_mm_minpos_epu16(q)) & 0xffff;
    }
};

// The n positions from p in window row y offered to best: those of the
// least SAD, if it is at or below the best's.
MORVANE_TARGET("avx2")
inline void search_positions(const uint8_t* p, const uint8_t* cur, std::ptrdiff_t stride, int rows, int n, int x0,
                             int y, const uint8_t* last, spiral_best& best) {
    const group_sums g(n, last);
    const int threshold = best.threshold();
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < rows; ++j, p += stride, cur += stride) {
        acc = g.add_row(acc, p, cur);
        if ((j & 3) == 3 && j + 1 < rows && !g.at_or_below(acc, threshold)) return;
    }
    if (!g.at_or_below(acc, threshold)) return;
    const int least = g.least(acc);
    for (unsigned m = g.equal(acc, least) & 0x55555555u; m; m &= m - 1)
        best.offer(least, x0 + (__builtin_ctz(m) >> 1), y);
}

MORVANE_TARGET("avx2")
inline void search_row(const uint8_t* row, const uint8_t* cur, std::ptrdiff_t stride, int rows, int width, int y,
                       const uint8_t* last, spiral_best& best) {
    for (int x0 = 0; x0 < width; x0 += positions)
        search_positions(row + x0, cur, stride, rows, std::min(width - x0, positions), x0, y, last, best);
}

MORVANE_TARGET("avx2")
whole_match whole_search_avx2(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows, int width, int height,
                              int cx, int cy) {
    const std::ptrdiff_t stride = row_stride;
    const uint8_t* last = ref + (height + rows - 2) * stride + width + 14;
    spiral_best best(cx, cy);
    // Rows outwards from the centre's, so that a good best soon drops
    // positions early.
    search_row(ref + cy * stride, cur, stride, rows, width, cy, last, best);
    for (int d = 1; cy - d >= 0 || cy + d < height; ++d) {
        if (cy + d < height) search_row(ref + (cy + d) * stride, cur, stride, rows, width, cy + d, last, best);
        if (cy - d >= 0) search_row(ref + (cy - d) * stride, cur, stride, rows, width, cy - d, last, best);
    }
    return best.result();
}

}  // namespace

void init_motion_kernels_avx2(motion_kernels& t) {
    t.block_sad[1] = half_avx2::block_sad_half<1, 0>;
    t.block_sad[2] = half_avx2::block_sad_half<0, 1>;
    t.block_sad[3] = half_avx2::block_sad_half<1, 1>;
    t.whole_search = whole_search_avx2;
    t.interlaced_search = interlaced_separately<whole_search_avx2>;
    t.half_refine = half_refine_avx2;
}

#endif
