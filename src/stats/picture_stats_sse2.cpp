// SSE2 plane error sums, equal to the reference's double sums.
//
// Each term is a whole number no larger than 255^2. While w x h x 255^2
// stays below 2^53, every partial sum of the sample-by-sample double
// additions is a whole number that a double holds exactly, so each of those
// additions is exact and the three sums equal the exact integer sums in any
// order; those are formed here in integers, sixteen samples at a time, and
// converted once. Larger planes take the reference.
#include "stats/stats_kernels.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include "driver/cpu.h"

namespace {

// Widens four non-negative 32-bit lanes into two 64-bit lanes and adds them.
MORVANE_TARGET("sse2") inline __m128i widen_add(__m128i acc, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(v, zero), _mm_unpackhi_epi32(v, zero)));
}

MORVANE_TARGET("sse2") inline double total(__m128i v, uint64_t extra) {
    alignas(16) uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return static_cast<double>(lanes[0] + lanes[1] + extra);
}

MORVANE_TARGET("sse2") void plane_error_sums_sse2(const uint8_t* p, const uint8_t* q, int stride, int w, int h,
                                                  double sums[3]) {
    if (!(w > 0 && h > 0 && static_cast<double>(w) * h * 65025.0 < 9007199254740992.0)) {
        plane_error_sums_reference(p, q, stride, w, h, sums);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    __m128i sum64 = zero, squares64 = zero, errors64 = zero;
    uint64_t tail1 = 0, tail2 = 0, tail3 = 0;
    for (int j = 0; j < h; ++j) {
        int i = 0;
        while (i + 16 <= w) {
            // A 32-bit lane gains at most 2 x 2 x 255^2 per step.
            __m128i squares = zero, errors = zero;
            for (int steps = 0; steps < 4096 && i + 16 <= w; ++steps, i += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
                sum64 = _mm_add_epi64(sum64, _mm_sad_epu8(a, zero));
                const __m128i a_lo = _mm_unpacklo_epi8(a, zero), a_hi = _mm_unpackhi_epi8(a, zero);
                const __m128i d_lo = _mm_sub_epi16(a_lo, _mm_unpacklo_epi8(b, zero));
                const __m128i d_hi = _mm_sub_epi16(a_hi, _mm_unpackhi_epi8(b, zero));
                squares = _mm_add_epi32(squares, _mm_madd_epi16(a_lo, a_lo));
                squares = _mm_add_epi32(squares, _mm_madd_epi16(a_hi, a_hi));
                errors = _mm_add_epi32(errors, _mm_madd_epi16(d_lo, d_lo));
                errors = _mm_add_epi32(errors, _mm_madd_epi16(d_hi, d_hi));
            }
            squares64 = widen_add(squares64, squares);
            errors64 = widen_add(errors64, errors);
        }
        for (; i < w; ++i) {
            const int v = p[i];
            const int diff = v - q[i];
            tail1 += static_cast<uint64_t>(v);
            tail2 += static_cast<uint64_t>(v * v);
            tail3 += static_cast<uint64_t>(diff * diff);
        }
        p += stride;
        q += stride;
    }
    sums[0] = total(sum64, tail1);
    sums[1] = total(squares64, tail2);
    sums[2] = total(errors64, tail3);
}

}  // namespace

void init_stats_kernels_sse2(stats_kernels& t) { t.plane_error_sums = plane_error_sums_sse2; }

#endif
