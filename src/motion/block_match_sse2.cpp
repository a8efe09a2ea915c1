// SSE2 versions of the distortion measures. Every kernel returns exactly
// what its reference returns, the early-stop partial sums of the
// whole-sample SAD included; the kernel checker holds them to it.
#include "motion/motion_kernels.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstddef>
#include <utility>

#include "driver/cpu.h"
#include "motion/spiral.h"

namespace {

MORVANE_TARGET("sse2") inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The two 64-bit halves of a _mm_sad_epu8 result added together.
MORVANE_TARGET("sse2") inline int sad_total(__m128i v) {
    return _mm_cvtsi128_si32(_mm_add_epi32(v, _mm_unpackhi_epi64(v, v)));
}

MORVANE_TARGET("sse2") inline int sum_epi32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

// Horizontal pair sums p[x] + p[x+1] of a row, widened to 16 bits.
struct pair_sums {
    __m128i lo, hi;
};

MORVANE_TARGET("sse2") inline pair_sums row_pairs(const uint8_t* p) {
    const __m128i z = _mm_setzero_si128();
    const __m128i a = load(p), b = load(p + 1);
    return {_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
            _mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z))};
}

// (a + b + c + d + 2) >> 2 from the pair sums of two rows; the averaging
// instruction would round twice.
MORVANE_TARGET("sse2") inline __m128i four_average(pair_sums u, pair_sums v) {
    const __m128i two = _mm_set1_epi16(2);
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(u.lo, v.lo), two), 2);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(u.hi, v.hi), two), 2);
    return _mm_packus_epi16(lo, hi);
}

// The rows of the interpolated prediction, top to bottom. With a vertical
// half position each row's samples (or pair sums) serve the row above too.
template <int hx, int hy>
struct predictor {
    const uint8_t* p;
    std::ptrdiff_t stride;
    __m128i above;
    pair_sums above_pairs;

    MORVANE_TARGET("sse2") predictor(const uint8_t* p_, std::ptrdiff_t stride_) : p(p_), stride(stride_) {
        if constexpr (hy && hx) above_pairs = row_pairs(p);
        if constexpr (hy && !hx) above = load(p);
    }

    MORVANE_TARGET("sse2") __m128i next() {
        __m128i r;
        if constexpr (!hy) {
            r = hx ? _mm_avg_epu8(load(p), load(p + 1)) : load(p);
        } else if constexpr (!hx) {
            const __m128i below = load(p + stride);
            r = _mm_avg_epu8(above, below);
            above = below;
        } else {
            const pair_sums below = row_pairs(p + stride);
            r = four_average(above_pairs, below);
            above_pairs = below;
        }
        p += stride;
        return r;
    }
};

// Σ (a - b)² over 16 samples, as four 32-bit partial sums.
MORVANE_TARGET("sse2") inline __m128i squared_differences(__m128i a, __m128i b) {
    const __m128i z = _mm_setzero_si128();
    const __m128i dlo = _mm_sub_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z));
    const __m128i dhi = _mm_sub_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z));
    return _mm_add_epi32(_mm_madd_epi16(dlo, dlo), _mm_madd_epi16(dhi, dhi));
}

// [t0, t1, t2, t3] from four _mm_sad_epu8 results (or sums of them), each
// t the total of its two halves.
MORVANE_TARGET("sse2") inline __m128i row_totals(__m128i v0, __m128i v1, __m128i v2, __m128i v3) {
    const __m128i a = _mm_or_si128(v0, _mm_slli_epi64(v1, 32));  // lo0 lo1 hi0 hi1
    const __m128i b = _mm_or_si128(v2, _mm_slli_epi64(v3, 32));  // lo2 lo3 hi2 hi3
    return _mm_add_epi32(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b));
}

// Whole-sample case, four rows at a time without a branch per row. The
// running sums p0..p3 after each row of a group only grow, so the rows whose
// sum is still below the limit are the group's first c rows; the search
// stops in this group exactly when c < 4, and then returns p(c).
MORVANE_TARGET("sse2") int block_sad_whole(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows,
                                           int limit) {
    const std::ptrdiff_t stride = row_stride;
    const __m128i lim = _mm_set1_epi32(limit);
    __m128i s = _mm_setzero_si128();  // the running sum in every lane
    int j = 0;
    for (; j + 4 <= rows; j += 4) {
        const __m128i v0 = _mm_sad_epu8(load(ref), load(cur));
        const __m128i v1 = _mm_add_epi32(v0, _mm_sad_epu8(load(ref + stride), load(cur + stride)));
        const __m128i v2 = _mm_add_epi32(v1, _mm_sad_epu8(load(ref + 2 * stride), load(cur + 2 * stride)));
        const __m128i v3 = _mm_add_epi32(v2, _mm_sad_epu8(load(ref + 3 * stride), load(cur + 3 * stride)));
        const __m128i p = _mm_add_epi32(row_totals(v0, v1, v2, v3), s);
        const int below = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(lim, p)));
        if (below != 15) {
            alignas(16) int sums[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(sums), p);
            return sums[__builtin_ctz(~below)];
        }
        s = _mm_shuffle_epi32(p, _MM_SHUFFLE(3, 3, 3, 3));
        ref += 4 * stride;
        cur += 4 * stride;
    }
    int total = _mm_cvtsi128_si32(s);
    for (; j < rows; ++j) {
        total += sad_total(_mm_sad_epu8(load(ref), load(cur)));
        if (total >= limit) return total;
        ref += stride;
        cur += stride;
    }
    return total;
}

// The half-sample cases never stop early, so they ignore the limit.
template <int hx, int hy>
MORVANE_TARGET("sse2") int block_sad_half(const uint8_t* ref, const uint8_t* cur, int stride, int rows, int) {
    predictor<hx, hy> pred(ref, stride);
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < rows; ++j, cur += stride) acc = _mm_add_epi32(acc, _mm_sad_epu8(pred.next(), load(cur)));
    return sad_total(acc);
}

template <int hx, int hy>
MORVANE_TARGET("sse2") int block_sse_rows(const uint8_t* ref, const uint8_t* cur, int stride, int rows) {
    predictor<hx, hy> pred(ref, stride);
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < rows; ++j, cur += stride)
        acc = _mm_add_epi32(acc, squared_differences(pred.next(), load(cur)));
    return sum_epi32(acc);
}

// f: the forward half flags in bits 0 and 1, the backward ones in 2 and 3.
template <bool squared, int f>
MORVANE_TARGET("sse2") int bidir_rows(const uint8_t* fwd, const uint8_t* bwd, const uint8_t* cur, int stride,
                                      int rows) {
    predictor<f & 1, (f >> 1) & 1> fp(fwd, stride);
    predictor<(f >> 2) & 1, (f >> 3)> bp(bwd, stride);
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < rows; ++j, cur += stride) {
        const __m128i p = _mm_avg_epu8(fp.next(), bp.next());
        const __m128i c = load(cur);
        acc = _mm_add_epi32(acc, squared ? squared_differences(p, c) : _mm_sad_epu8(p, c));
    }
    return squared ? sum_epi32(acc) : sad_total(acc);
}

template <bool squared, int... f>
void set_bidir(bidir_fn* (&entries)[16], std::integer_sequence<int, f...>) {
    bidir_fn* const kernels[] = {bidir_rows<squared, f>...};
    for (int i = 0; i < 16; ++i) entries[i] = kernels[i];
}

MORVANE_TARGET("sse2") int block_variance_sse2(const uint8_t* block, int stride) {
    const __m128i z = _mm_setzero_si128();
    __m128i squares = z, sums = z;
    for (int j = 0; j < 16; ++j) {
        const __m128i v = load(block);
        const __m128i lo = _mm_unpacklo_epi8(v, z), hi = _mm_unpackhi_epi8(v, z);
        squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
        sums = _mm_add_epi32(sums, _mm_sad_epu8(v, z));
        block += stride;
    }
    const unsigned s = static_cast<unsigned>(sum_epi32(squares));
    const unsigned t = static_cast<unsigned>(sad_total(sums));
    return static_cast<int>(s - ((t * t) >> 8));
}

// The reference's spiral and early stop, with the SAD inlined.
MORVANE_TARGET("sse2") whole_match whole_search_spiral(const uint8_t* ref, const uint8_t* cur, int stride, int rows,
                                                       int width, int height, int cx, int cy) {
    auto sad = [&](int x, int y, int limit) {
        return block_sad_whole(ref + static_cast<std::ptrdiff_t>(y) * stride + x, cur, stride, rows, limit);
    };
    return spiral_search(sad, width, height, cx, cy);
}

MORVANE_TARGET("sse2") half_match half_refine_sse2(const uint8_t* ref, const uint8_t* cur, int stride, int rows,
                                                   int sides) {
    auto sad = [&](int dx, int dy, int limit) {
        const uint8_t* p = refine_origin(ref, stride, dx, dy);
        switch (half_index(dx, dy)) {
            case 0: return block_sad_whole(p, cur, stride, rows, limit);
            case 1: return block_sad_half<1, 0>(p, cur, stride, rows, limit);
            case 2: return block_sad_half<0, 1>(p, cur, stride, rows, limit);
            default: return block_sad_half<1, 1>(p, cur, stride, rows, limit);
        }
    };
    return refine_loop(sad, sides);
}

}  // namespace

void init_motion_kernels_sse2(motion_kernels& t) {
    t.block_sad[0] = block_sad_whole;
    t.block_sad[1] = block_sad_half<1, 0>;
    t.block_sad[2] = block_sad_half<0, 1>;
    t.block_sad[3] = block_sad_half<1, 1>;
    t.block_sse[0] = block_sse_rows<0, 0>;
    t.block_sse[1] = block_sse_rows<1, 0>;
    t.block_sse[2] = block_sse_rows<0, 1>;
    t.block_sse[3] = block_sse_rows<1, 1>;
    set_bidir<false>(t.bidir_sad, std::make_integer_sequence<int, 16>());
    set_bidir<true>(t.bidir_sse, std::make_integer_sequence<int, 16>());
    t.block_variance = block_variance_sse2;
    t.whole_search = whole_search_spiral;
    t.interlaced_search = interlaced_separately<whole_search_spiral>;
    t.half_refine = half_refine_sse2;
}

#endif
