// AVX2 quantisers, bit-identical to the reference ones, sixteen
// coefficients per step in 32-bit lanes.
//
// The two truncating divisions of a level, first by the weight w and then by
// 2 x mquant, collapse into one by D = 2 x mquant x w: for positive integers
// (a / b) / c == a / (b x c), and the intra rounding term r joins the
// numerator as r x w, since a / w + r == (a + r x w) / w. The one division
// is done in single precision and truncated, which is exact: the numerator
// n < 2^24 and D are exact floats; when n / D is a whole number the quotient
// is exact, and otherwise n / D <= k + 1 - 1/D for k = n / D truncated, so
// its rounding error, at most n / D x 2^-24 = n / (D x 2^24) < 1 / D, cannot
// lift it to k + 1 (and rounding never takes it below k, itself a float).
// Every 16-bit coefficient gives n <= 32 x 32768 + 127 + 84 x 255 < 2^21.
//
// The inverse quantisers keep the reference's 32-bit products (at most
// 65537 x 255 x 112 < 2^31) and divide by 16 or 32 toward zero with a
// shift after adding 15 or 31 to negative values.
#include "transform/quantise_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "driver/cpu.h"

namespace {


MORVANE_TARGET("avx2") inline __m256i load_weights(const uint8_t* matrix, int i) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(matrix + i)));
}

MORVANE_TARGET("avx2") inline void load_levels(const int16_t* src, int i, __m256i& lo, __m256i& hi) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    lo = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(v));
    hi = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1));
}

// Both halves hold values that fit 16 bits.
MORVANE_TARGET("avx2") inline void store_levels(int16_t* dst, int i, __m256i lo, __m256i hi) {
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xd8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), packed);
}

// Level magnitude of 8 coefficients: (32|x| + w/2 + r*w) / (2*mquant*w),
// clamped to the limit, with the sign of x (0 stays 0).
MORVANE_TARGET("avx2") inline __m256i quantise8(__m256i x, __m256i w, __m256i rounding, __m256i twice_mquant,
                                                __m256i limit) {
    __m256i a = _mm256_abs_epi32(x);
    __m256i n = _mm256_add_epi32(_mm256_slli_epi32(a, 5), _mm256_srli_epi32(w, 1));
    n = _mm256_add_epi32(n, _mm256_mullo_epi32(rounding, w));
    __m256i d = _mm256_mullo_epi32(twice_mquant, w);
    __m256i y = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(n), _mm256_cvtepi32_ps(d)));
    y = _mm256_min_epi32(y, limit);
    return _mm256_sign_epi32(y, x);
}

MORVANE_TARGET("avx2") __m256i quantise_block(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant,
                                              int limit, int rounding) {
    const __m256i r = _mm256_set1_epi32(rounding), q2 = _mm256_set1_epi32(2 * mquant);
    const __m256i lim = _mm256_set1_epi32(limit);
    __m256i any = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        __m256i lo, hi;
        load_levels(src, i, lo, hi);
        lo = quantise8(lo, load_weights(matrix, i), r, q2, lim);
        hi = quantise8(hi, load_weights(matrix, i + 8), r, q2, lim);
        any = _mm256_or_si256(any, _mm256_or_si256(lo, hi));
        store_levels(dst, i, lo, hi);
    }
    return any;
}

MORVANE_TARGET("avx2") int quantise_intra_avx2(const int16_t* src, int16_t* dst, int dc_precision,
                                               const uint8_t* matrix, int mquant, int limit) {
    const int x = src[0];
    const int d = 8 >> dc_precision;
    quantise_block(src, dst, matrix, mquant, limit, (3 * mquant + 2) >> 2);
    dst[0] = static_cast<int16_t>(x >= 0 ? (x + (d >> 1)) / d : -(((d >> 1) - x) / d));
    return 1;
}

MORVANE_TARGET("avx2") int quantise_non_intra_avx2(const int16_t* src, int16_t* dst, const uint8_t* matrix,
                                                   int mquant, int limit) {
    __m256i any = quantise_block(src, dst, matrix, mquant, limit, 0);
    return !_mm256_testz_si256(any, any);
}

// (x * w * mquant) / 2^shift toward zero for intra levels; non-intra ones
// use (2x + sign x) in place of x.
template <bool NON_INTRA, bool ODD>
MORVANE_TARGET("avx2") inline __m256i dequantise8(__m256i x, __m256i w, __m256i mquant) {
    __m256i t = x;
    constexpr int shift = NON_INTRA ? 5 : 4;
    if constexpr (NON_INTRA) t = _mm256_add_epi32(_mm256_add_epi32(x, x), _mm256_sign_epi32(_mm256_set1_epi32(1), x));
    __m256i p = _mm256_mullo_epi32(t, _mm256_mullo_epi32(w, mquant));
    __m256i bias = _mm256_and_si256(_mm256_srai_epi32(p, 31), _mm256_set1_epi32((1 << shift) - 1));
    __m256i v = _mm256_srai_epi32(_mm256_add_epi32(p, bias), shift);
    if constexpr (ODD) {
        // Even non-zero values step one towards zero; the sign of 0 is 0.
        __m256i even = _mm256_cmpeq_epi32(_mm256_and_si256(v, _mm256_set1_epi32(1)), _mm256_setzero_si256());
        v = _mm256_sub_epi32(v, _mm256_and_si256(even, _mm256_sign_epi32(_mm256_set1_epi32(1), v)));
    }
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(-2048)), _mm256_set1_epi32(2047));
}

// Returns the sum of the 64 stored values.
template <bool NON_INTRA, bool ODD>
MORVANE_TARGET("avx2") int dequantise_block(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    const __m256i m = _mm256_set1_epi32(mquant);
    __m256i sum = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        __m256i lo, hi;
        load_levels(src, i, lo, hi);
        lo = dequantise8<NON_INTRA, ODD>(lo, load_weights(matrix, i), m);
        hi = dequantise8<NON_INTRA, ODD>(hi, load_weights(matrix, i + 8), m);
        sum = _mm256_add_epi32(sum, _mm256_add_epi32(lo, hi));
        store_levels(dst, i, lo, hi);
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4e));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xb1));
    return _mm_cvtsi128_si32(s);
}

inline void mismatch_control(int16_t* dst, int sum) {
    if ((sum & 1) == 0) dst[63] = static_cast<int16_t>(dst[63] ^ 1);
}

MORVANE_TARGET("avx2") void dequantise_intra_avx2(const int16_t* src, int16_t* dst, int dc_precision,
                                                  const uint8_t* matrix, int mquant) {
    const int x = src[0];
    int sum = dequantise_block<false, false>(src, dst, matrix, mquant);
    sum -= dst[0];
    dst[0] = static_cast<int16_t>(x * (1 << (3 - dc_precision)));
    mismatch_control(dst, sum + dst[0]);
}

MORVANE_TARGET("avx2") void dequantise_non_intra_avx2(const int16_t* src, int16_t* dst, const uint8_t* matrix,
                                                      int mquant) {
    mismatch_control(dst, dequantise_block<true, false>(src, dst, matrix, mquant));
}

MORVANE_TARGET("avx2") void dequantise_intra_mpeg1_avx2(const int16_t* src, int16_t* dst, int dc_precision,
                                                        const uint8_t* matrix, int mquant) {
    const int x = src[0];
    dequantise_block<false, true>(src, dst, matrix, mquant);
    dst[0] = static_cast<int16_t>(x * (1 << (3 - dc_precision)));
}

MORVANE_TARGET("avx2") void dequantise_non_intra_mpeg1_avx2(const int16_t* src, int16_t* dst, const uint8_t* matrix,
                                                            int mquant) {
    dequantise_block<true, true>(src, dst, matrix, mquant);
}

}  // namespace

// Bit k set where coefficient i + k is zero, for 32 coefficients.
MORVANE_TARGET("avx2") inline uint32_t zero_bits(const int16_t* block, int i) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + i)), zero);
    const __m256i b = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + i + 16)), zero);
    // packs interleaves the lanes; the permute puts the 32 bytes back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    return static_cast<uint32_t>(_mm256_movemask_epi8(packed));
}

MORVANE_TARGET("avx2") uint64_t nonzero_mask_avx2(const int16_t* block) {
    return ~(uint64_t{zero_bits(block, 0)} | uint64_t{zero_bits(block, 32)} << 32);
}

void init_quantise_kernels_avx2(quantise_kernels& t) {
    t.nonzero_mask = nonzero_mask_avx2;
    t.quantise_intra = quantise_intra_avx2;
    t.quantise_non_intra = quantise_non_intra_avx2;
    t.dequantise_intra = dequantise_intra_avx2;
    t.dequantise_non_intra = dequantise_non_intra_avx2;
    t.dequantise_intra_mpeg1 = dequantise_intra_mpeg1_avx2;
    t.dequantise_non_intra_mpeg1 = dequantise_non_intra_mpeg1_avx2;
}

#endif
