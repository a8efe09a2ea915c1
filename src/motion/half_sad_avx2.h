// The AVX2 half-sample SADs, two block rows per register, for the AVX2 and
// AVX-512 rungs.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "driver/cpu.h"
#include "motion/block_match.h"
#include "motion/motion_kernels.h"
#include "motion/spiral.h"

namespace half_avx2 {

// Rows p and p + second of the block, one per 128-bit lane.
MORVANE_TARGET("avx2") inline __m256i load_rows(const uint8_t* p, std::ptrdiff_t second) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + second)), 1);
}

// The interpolated prediction of rows p and p + second. For both half flags,
// (a + b + c + d + 2) >> 2 from byte averages: the average of t = avg(a, b)
// and u = avg(c, d) is one too high exactly when t + u is odd and a + b or
// c + d was (so rounded up).
template <int hx, int hy>
MORVANE_TARGET("avx2") inline __m256i predicted_rows(const uint8_t* p, std::ptrdiff_t stride, std::ptrdiff_t second) {
    const __m256i a = load_rows(p, second);
    if constexpr (!hx && !hy) return a;
    if constexpr (!hy) return _mm256_avg_epu8(a, load_rows(p + 1, second));
    const __m256i c = load_rows(p + stride, second);
    if constexpr (!hx) return _mm256_avg_epu8(a, c);
    const __m256i b = load_rows(p + 1, second), d = load_rows(p + stride + 1, second);
    const __m256i t = _mm256_avg_epu8(a, b), u = _mm256_avg_epu8(c, d);
    const __m256i odd = _mm256_or_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, d));
    const __m256i high = _mm256_and_si256(_mm256_and_si256(odd, _mm256_xor_si256(t, u)), _mm256_set1_epi8(1));
    return _mm256_sub_epi8(_mm256_avg_epu8(t, u), high);
}

// The half-sample cases never stop early, so they ignore the limit (and so
// does the whole-sample one, which only the refinement uses). An odd
// last row is predicted in both lanes and counted from the low one.
template <int hx, int hy>
MORVANE_TARGET("avx2")
inline int block_sad_half(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows, int) {
    const std::ptrdiff_t stride = row_stride;
    __m256i acc = _mm256_setzero_si256();
    int j = 0;
    for (; j + 2 <= rows; j += 2, ref += 2 * stride, cur += 2 * stride)
        acc =
            _mm256_add_epi32(acc, _mm256_sad_epu8(predicted_rows<hx, hy>(ref, stride, stride), load_rows(cur, stride)));
    __m128i total = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    if (j < rows)
        total = _mm_add_epi32(total, _mm_sad_epu8(_mm256_castsi256_si128(predicted_rows<hx, hy>(ref, stride, 0)),
                                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur))));
    return _mm_cvtsi128_si32(_mm_add_epi32(total, _mm_unpackhi_epi64(total, total)));
}

// Rows [k, k + 1] of the block and the horizontal averages with their left
// and right neighbours, with the parities of the pair sums those rounded.
struct row_pair {
    __m256i c, left, right, left_odd, right_odd;
};

MORVANE_TARGET("avx2") inline row_pair load_pair(const uint8_t* p, std::ptrdiff_t stride) {
    const __m256i l = load_rows(p - 1, stride), c = load_rows(p, stride), r = load_rows(p + 1, stride);
    return {c, _mm256_avg_epu8(l, c), _mm256_avg_epu8(c, r), _mm256_xor_si256(l, c), _mm256_xor_si256(c, r)};
}

// Rows [k + 1, k + 2] from [k, k + 1] and [k + 2, k + 3].
MORVANE_TARGET("avx2") inline __m256i mid(__m256i x, __m256i y) { return _mm256_permute2x128_si256(x, y, 0x21); }

MORVANE_TARGET("avx2") inline row_pair middle_pair(const row_pair& a, const row_pair& d) {
    return {mid(a.c, d.c), mid(a.left, d.left), mid(a.right, d.right), mid(a.left_odd, d.left_odd),
            mid(a.right_odd, d.right_odd)};
}

// The four-sample average from two horizontal averages, as predicted_rows.
MORVANE_TARGET("avx2") inline __m256i average4(__m256i t, __m256i u, __m256i t_odd, __m256i u_odd) {
    const __m256i high =
        _mm256_and_si256(_mm256_and_si256(_mm256_or_si256(t_odd, u_odd), _mm256_xor_si256(t, u)), _mm256_set1_epi8(1));
    return _mm256_sub_epi8(_mm256_avg_epu8(t, u), high);
}

// acc plus the SADs of p against c, those of q in the high halves.
MORVANE_TARGET("avx2") inline __m256i add_sads(__m256i acc, __m256i p, __m256i q, __m256i c) {
    return _mm256_add_epi32(acc, _mm256_add_epi32(_mm256_sad_epu8(p, c), _mm256_slli_epi64(_mm256_sad_epu8(q, c), 32)));
}

// Of the four quadwords of SADs, the sums of the low halves and of the high
// halves, in the low two doublewords.
MORVANE_TARGET("avx2") inline __m128i lane_sums(__m256i acc) {
    const __m128i h = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    return _mm_add_epi32(h, _mm_unpackhi_epi64(h, h));
}

// The loop with full SADs; an early stop there only ever drops a position
// that would not replace the best, so the decisions are the same.
MORVANE_TARGET("avx2") inline half_match refine_each(const uint8_t* ref, const uint8_t* cur, int row_stride,
                                                     int rows, int sides) {
    const std::ptrdiff_t stride = row_stride;
    auto sad = [&](int dx, int dy, int) {
        const uint8_t* p = refine_origin(ref, stride, dx, dy);
        switch (half_index(dx, dy)) {
            case 0: return block_sad_half<0, 0>(p, cur, row_stride, rows, 0);
            case 1: return block_sad_half<1, 0>(p, cur, row_stride, rows, 0);
            case 2: return block_sad_half<0, 1>(p, cur, row_stride, rows, 0);
            default: return block_sad_half<1, 1>(p, cur, row_stride, rows, 0);
        }
    };
    return refine_loop(sad, sides);
}

// All nine offsets from rows loaded once, for a block with every side and
// an even number of rows. Always inlined, so that a caller with more
// registers keeps every sum in them.
[[gnu::always_inline]] MORVANE_TARGET("avx2") inline half_match refine_shared(const uint8_t* ref, const uint8_t* cur,
                                                                            int row_stride, int rows) {
    const std::ptrdiff_t stride = row_stride;
    // Offsets 2k and 2k + 1 share an accumulator, the second in the high
    // halves of the sums' quadwords: each is below 2^15, so neither spills
    // into the other, and nine accumulators would not fit in the registers.
    // Named variables, not arrays, keep them out of memory.
    __m256i acc01 = _mm256_setzero_si256(), acc23 = acc01, acc45 = acc01, acc67 = acc01, acc8 = acc01;
    row_pair a = load_pair(ref - stride, stride);
    for (int j = 0; j < rows; j += 2, ref += 2 * stride, cur += 2 * stride) {
        const row_pair d = load_pair(ref + stride, stride);
        const row_pair b = middle_pair(a, d);
        const __m256i c = load_rows(cur, stride);
        acc01 = add_sads(acc01, average4(a.left, b.left, a.left_odd, b.left_odd), _mm256_avg_epu8(a.c, b.c), c);
        acc23 = add_sads(acc23, average4(a.right, b.right, a.right_odd, b.right_odd), b.left, c);
        acc45 = add_sads(acc45, b.c, b.right, c);
        acc67 = add_sads(acc67, average4(b.left, d.left, b.left_odd, d.left_odd), _mm256_avg_epu8(b.c, d.c), c);
        acc8 = _mm256_add_epi32(acc8, _mm256_sad_epu8(average4(b.right, d.right, b.right_odd, d.right_odd), c));
        a = d;
    }
    // The least of sum * 16 + offset is the first least sum, found without
    // branches, which mispredict, or a trip through memory; sums are below
    // 2^16.
    const __m128i s0123 = _mm_unpacklo_epi64(lane_sums(acc01), lane_sums(acc23));
    const __m128i s4567 = _mm_unpacklo_epi64(lane_sums(acc45), lane_sums(acc67));
    __m128i keys = _mm_min_epi32(_mm_or_si128(_mm_slli_epi32(s0123, 4), _mm_setr_epi32(0, 1, 2, 3)),
                                 _mm_or_si128(_mm_slli_epi32(s4567, 4), _mm_setr_epi32(4, 5, 6, 7)));
    keys = _mm_min_epi32(keys, _mm_shuffle_epi32(keys, _MM_SHUFFLE(1, 0, 3, 2)));
    keys = _mm_min_epi32(keys, _mm_shuffle_epi32(keys, _MM_SHUFFLE(2, 3, 0, 1)));
    const int best = std::min(_mm_cvtsi128_si32(keys), _mm_cvtsi128_si32(lane_sums(acc8)) << 4 | 8);
    const int i = best & 15;
    return {i % 3 - 1, i / 3 - 1, best >> 4};
}


}  // namespace half_avx2

#endif
