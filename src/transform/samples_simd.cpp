// Faster sample kernels, equal to the reference ones. Differences of two
// samples (-255..255), their sums with a prediction (-256..510) and sums of
// up to sixteen of them fit in 16 bits, so 16-bit lanes compute them exactly;
// squares and products are summed in 32 bits, where no total of a block can
// overflow (at most 128 x 255^2). Integer sums are the same in any order;
// each double result comes from them through the reference's expression.
// Every load covers only samples the reference reads.
#include "transform/sample_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "driver/cpu.h"

namespace {

// ---- SSE2 -----------------------------------------------------------------

MORVANE_TARGET("sse2") inline __m128i load8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

MORVANE_TARGET("sse2") inline int sum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4e));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xb1));
    return _mm_cvtsi128_si32(v);
}

MORVANE_TARGET("sse2") void subtract_block_sse2(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r, pred += stride, cur += stride) {
        const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(load8(cur), zero), _mm_unpacklo_epi8(load8(pred), zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), d);
    }
}

// The saturating pack is the clip table's clamp to 0..255.
MORVANE_TARGET("sse2") void add_block_sse2(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r, pred += stride, rec += stride) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
        const __m128i s = _mm_add_epi16(_mm_unpacklo_epi8(load8(pred), zero), b);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rec), _mm_packus_epi16(s, s));
    }
}

// Two rows per register: the sum by the sum of absolute differences from 0,
// the squares by multiply-add of the widened samples.
MORVANE_TARGET("sse2") double variance_8x8_sse2(const uint8_t* p, int stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero, squares = zero;
    for (int r = 0; r < 8; r += 2, p += 2 * stride) {
        const __m128i v = _mm_unpacklo_epi64(load8(p), load8(p + stride));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(v, zero));
        const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    const unsigned s = static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(sum, _mm_unpackhi_epi64(sum, sum))));
    return variance_of_sums(s, static_cast<unsigned>(sum32(squares)));
}

MORVANE_TARGET("sse2") void field_sums_sse2(const uint8_t* pred, const uint8_t* cur, int stride, int sums[5]) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s0 = zero, s1 = zero, q0 = zero, q1 = zero, p = zero;
    for (int i = 0; i < 8; ++i, pred += 2 * stride, cur += 2 * stride) {
        const __m128i ct = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur));
        const __m128i pt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pred));
        const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + stride));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pred + stride));
        const __m128i t_lo = _mm_sub_epi16(_mm_unpacklo_epi8(ct, zero), _mm_unpacklo_epi8(pt, zero));
        const __m128i t_hi = _mm_sub_epi16(_mm_unpackhi_epi8(ct, zero), _mm_unpackhi_epi8(pt, zero));
        const __m128i b_lo = _mm_sub_epi16(_mm_unpacklo_epi8(cb, zero), _mm_unpacklo_epi8(pb, zero));
        const __m128i b_hi = _mm_sub_epi16(_mm_unpackhi_epi8(cb, zero), _mm_unpackhi_epi8(pb, zero));
        s0 = _mm_add_epi16(s0, _mm_add_epi16(t_lo, t_hi));
        s1 = _mm_add_epi16(s1, _mm_add_epi16(b_lo, b_hi));
        q0 = _mm_add_epi32(q0, _mm_add_epi32(_mm_madd_epi16(t_lo, t_lo), _mm_madd_epi16(t_hi, t_hi)));
        q1 = _mm_add_epi32(q1, _mm_add_epi32(_mm_madd_epi16(b_lo, b_lo), _mm_madd_epi16(b_hi, b_hi)));
        p = _mm_add_epi32(p, _mm_add_epi32(_mm_madd_epi16(t_lo, b_lo), _mm_madd_epi16(t_hi, b_hi)));
    }
    const __m128i ones = _mm_set1_epi16(1);
    sums[0] = sum32(_mm_madd_epi16(s0, ones));
    sums[1] = sum32(_mm_madd_epi16(s1, ones));
    sums[2] = sum32(q0);
    sums[3] = sum32(q1);
    sums[4] = sum32(p);
}

// ---- AVX2: sixteen samples per register -----------------------------------------

MORVANE_TARGET("avx2") inline __m256i widen16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

MORVANE_TARGET("avx2") inline int sum32(__m256i v) {
    return sum32(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

// Two lines of eight samples in one register.
MORVANE_TARGET("avx2") inline __m128i load_two(const uint8_t* p, int stride) {
    return _mm_unpacklo_epi64(load8(p), load8(p + stride));
}

MORVANE_TARGET("avx2") void subtract_block_avx2(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block) {
    for (int r = 0; r < 8; r += 2, pred += 2 * stride, cur += 2 * stride) {
        const __m256i d = _mm256_sub_epi16(_mm256_cvtepu8_epi16(load_two(cur, stride)),
                                           _mm256_cvtepu8_epi16(load_two(pred, stride)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 8 * r), d);
    }
}

MORVANE_TARGET("avx2") void add_block_avx2(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block) {
    for (int r = 0; r < 8; r += 2, pred += 2 * stride, rec += 2 * stride) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * r));
        const __m256i s = _mm256_add_epi16(_mm256_cvtepu8_epi16(load_two(pred, stride)), b);
        const __m128i v = _mm_packus_epi16(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rec), v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rec + stride), _mm_unpackhi_epi64(v, v));
    }
}

MORVANE_TARGET("avx2") double variance_8x8_avx2(const uint8_t* p, int stride) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i sum = zero, squares = zero;
    for (int r = 0; r < 8; r += 4, p += 4 * stride) {
        const __m256i v = _mm256_set_m128i(load_two(p + 2 * stride, stride), load_two(p, stride));
        sum = _mm256_add_epi64(sum, _mm256_sad_epu8(v, zero));
        const __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
        squares = _mm256_add_epi32(squares, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
    }
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const unsigned total = static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(s, _mm_unpackhi_epi64(s, s))));
    return variance_of_sums(total, static_cast<unsigned>(sum32(squares)));
}

MORVANE_TARGET("avx2") void field_sums_avx2(const uint8_t* pred, const uint8_t* cur, int stride, int sums[5]) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i s0 = zero, s1 = zero, q0 = zero, q1 = zero, p = zero;
    for (int i = 0; i < 8; ++i, pred += 2 * stride, cur += 2 * stride) {
        const __m256i t = _mm256_sub_epi16(widen16(cur), widen16(pred));
        const __m256i b = _mm256_sub_epi16(widen16(cur + stride), widen16(pred + stride));
        s0 = _mm256_add_epi16(s0, t);
        s1 = _mm256_add_epi16(s1, b);
        q0 = _mm256_add_epi32(q0, _mm256_madd_epi16(t, t));
        q1 = _mm256_add_epi32(q1, _mm256_madd_epi16(b, b));
        p = _mm256_add_epi32(p, _mm256_madd_epi16(t, b));
    }
    const __m256i ones = _mm256_set1_epi16(1);
    sums[0] = sum32(_mm256_madd_epi16(s0, ones));
    sums[1] = sum32(_mm256_madd_epi16(s1, ones));
    sums[2] = sum32(q0);
    sums[3] = sum32(q1);
    sums[4] = sum32(p);
}

}  // namespace

void init_sample_kernels_sse2(sample_kernels& t) {
    t.subtract_block = subtract_block_sse2;
    t.add_block = add_block_sse2;
    t.variance_8x8 = variance_8x8_sse2;
    t.field_sums = field_sums_sse2;
}

void init_sample_kernels_avx2(sample_kernels& t) {
    t.subtract_block = subtract_block_avx2;
    t.add_block = add_block_avx2;
    t.variance_8x8 = variance_8x8_avx2;
    t.field_sums = field_sums_avx2;
}

#endif
