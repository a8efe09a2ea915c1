// Faster forward and inverse transforms, bit-identical to the reference ones.
//
// Forward: every output sum is still formed from 0.0 by adding its eight
// products in increasing index order, each product a separate multiply and
// each addition a separate add (no fused multiply-add, which would round
// once instead of twice); the loops are interchanged so that independent
// sums advance together in the lanes of a register. Inverse: the same 32-bit
// wrap-around integer steps as the reference, eight rows (then eight
// columns) at a time; its early exits are not needed because the full
// computation gives the same values for such rows and columns.
#include "transform/dct_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "driver/cpu.h"
#include "transform/idct_pass.h"

namespace {

// ---- SSE2: the compiler's two-lane vectors ---------------------------------

// floor then int for the small values a block can hold.
MORVANE_TARGET("sse2") inline int floor_to_int(double v) {
    int t = static_cast<int>(v);
    return t - (v < t ? 1 : 0);
}

MORVANE_TARGET("sse2") void forward_sse2(int16_t* block) {
    double tmp[64];
    for (int y = 0; y < 8; ++y) {
        double s[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
        for (int x = 0; x < 8; ++x) {
            double b = block[8 * y + x];
            for (int u = 0; u < 8; ++u) s[u] += b * dct_basis_by_x[x][u];
        }
        for (int u = 0; u < 8; ++u) tmp[8 * y + u] = s[u];
    }
    for (int v = 0; v < 8; ++v) {
        double s[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
        for (int y = 0; y < 8; ++y) {
            double c = dct_basis[v][y];
            for (int u = 0; u < 8; ++u) s[u] += c * tmp[8 * y + u];
        }
        for (int u = 0; u < 8; ++u) block[8 * v + u] = static_cast<int16_t>(floor_to_int(s[u] + 0.499999));
    }
}

// ---- AVX2: four sums per register --------------------------------------------

MORVANE_TARGET("avx2") void forward_avx2(int16_t* block) {
    // The samples as doubles (exact), so that each product takes a
    // broadcast load instead of a conversion.
    alignas(32) double samples[64];
    for (int i = 0; i < 64; i += 4)
        _mm256_store_pd(samples + i, _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + i)))));
    __m256d tmp[8][2];
    for (int y = 0; y < 8; ++y) {
        __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
        for (int x = 0; x < 8; ++x) {
            const __m256d b = _mm256_broadcast_sd(samples + 8 * y + x);
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(b, _mm256_load_pd(&dct_basis_by_x[x][0])));
            s1 = _mm256_add_pd(s1, _mm256_mul_pd(b, _mm256_load_pd(&dct_basis_by_x[x][4])));
        }
        tmp[y][0] = s0;
        tmp[y][1] = s1;
    }
    const __m256d offset = _mm256_set1_pd(0.499999);
    const __m128i low16 = _mm_set1_epi32(0xffff);
    for (int v = 0; v < 8; ++v) {
        __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
        for (int y = 0; y < 8; ++y) {
            const __m256d c = _mm256_set1_pd(dct_basis[v][y]);
            s0 = _mm256_add_pd(s0, _mm256_mul_pd(c, tmp[y][0]));
            s1 = _mm256_add_pd(s1, _mm256_mul_pd(c, tmp[y][1]));
        }
        // floor gives whole numbers, so truncation is exact; keeping the low
        // 16 bits matches the narrowing store for any value.
        __m128i i0 = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(s0, offset)));
        __m128i i1 = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(s1, offset)));
        __m128i row = _mm_packus_epi32(_mm_and_si128(i0, low16), _mm_and_si128(i1, low16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * v), row);
    }
}

// ---- AVX-512: one row of eight sums per register -----------------------------

// The maskz forms with every lane kept compile to the plain instructions;
// the plain intrinsics trip GCC 12's uninitialised-value warning.
MORVANE_TARGET("avx512f,avx512bw,avx512vl") inline __m512d to_doubles(const int16_t* p) {
    return _mm512_maskz_cvtepi32_pd(0xff, _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

// floor gives whole numbers, so truncation is exact; the narrowing move
// keeps the low 16 bits, as the narrowing store does.
MORVANE_TARGET("avx512f,avx512bw,avx512vl") inline void store_rounded(int16_t* p, __m512d s) {
    const __m512d rounded = _mm512_floor_pd(_mm512_add_pd(s, _mm512_set1_pd(0.499999)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm256_maskz_cvtepi32_epi16(0xff, _mm512_maskz_cvttpd_epi32(0xff, rounded)));
}

// As forward_avx2, with the eight sums of a row (of u, then of v) in one
// register: each sum still starts from 0.0 and takes its eight products by
// increasing index, each a multiply and an add of its own.
MORVANE_TARGET("avx512f,avx512bw,avx512vl") void forward_avx512(int16_t* block) {
    alignas(64) double samples[64];
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) _mm512_store_pd(samples + 8 * y, to_doubles(block + 8 * y));
    // Without the barrier the compiler keeps the samples in registers and
    // broadcasts each with a shuffle (slower); read back from memory, each
    // broadcast folds into its multiply.
    asm volatile("" : : "r"(samples) : "memory");
    __m512d tmp[8];
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) {
        __m512d s = _mm512_setzero_pd();
#pragma GCC unroll 8
        for (int x = 0; x < 8; ++x)
            s = _mm512_add_pd(s, _mm512_mul_pd(_mm512_set1_pd(samples[8 * y + x]), _mm512_load_pd(dct_basis_by_x[x])));
        tmp[y] = s;
    }
#pragma GCC unroll 8
    for (int v = 0; v < 8; ++v) {
        __m512d s = _mm512_setzero_pd();
#pragma GCC unroll 8
        for (int y = 0; y < 8; ++y) s = _mm512_add_pd(s, _mm512_mul_pd(_mm512_set1_pd(dct_basis[v][y]), tmp[y]));
        store_rounded(block + 8 * v, s);
    }
}

// ---- inverse ------------------------------------------------------------

MORVANE_TARGET("avx2") inline __m256i mul(int c, __m256i v) {
    return _mm256_mullo_epi32(_mm256_set1_epi32(c), v);
}

// 8x8 transpose of 16-bit values held in eight rows.
MORVANE_TARGET("avx2") inline void transpose8(__m128i r[8]) {
    __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The low 16 bits of each 32-bit lane, as a narrowing store keeps them.
MORVANE_TARGET("avx2") inline __m128i narrow(__m256i v) {
    const __m256i low16 = _mm256_set1_epi32(0xffff);
    __m256i m = _mm256_and_si256(v, low16);
    return _mm_packus_epi32(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
}

// Clamped to -256..255 as the clip table (and its saturation) does.
MORVANE_TARGET("avx2") inline __m128i clip_and_narrow(__m256i v) {
    v = _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(-256)), _mm256_set1_epi32(255));
    return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// v + c, left out where c is 0.
template <int32_t c>
MORVANE_TARGET("avx2") inline __m256i plus(__m256i v) {
    if constexpr (c == 0)
        return v;
    else
        return _mm256_add_epi32(v, _mm256_set1_epi32(c));
}

// v >> n, arithmetic, left out where n is 0.
template <int n>
MORVANE_TARGET("avx2") inline __m256i shifted(__m256i v) {
    if constexpr (n == 0)
        return v;
    else
        return _mm256_srai_epi32(v, n);
}

// A pass's output: shifted, then narrowed (rows) or clipped (columns).
template <bool columns>
MORVANE_TARGET("avx2") inline __m128i result(__m256i v) {
    if constexpr (columns)
        return clip_and_narrow(shifted<idct_columns.final_shift>(v));
    else
        return narrow(shifted<idct_rows.final_shift>(v));
}

// The reference's 1-D pass on eight rows (or columns) at once: in[j] holds
// term j of each of them. Rows narrow their results, columns clip them.
template <bool columns>
MORVANE_TARGET("avx2") void idct_pass_avx2(const __m128i in[8], __m128i out[8]) {
    constexpr idct_pass p = columns ? idct_columns : idct_rows;
    constexpr int s = p.stage_shift;
    __m256i x0 = plus<p.round>(_mm256_slli_epi32(_mm256_cvtepi16_epi32(in[0]), p.scale_shift));
    __m256i x1 = _mm256_slli_epi32(_mm256_cvtepi16_epi32(in[4]), p.scale_shift);
    __m256i x2 = _mm256_cvtepi16_epi32(in[6]), x3 = _mm256_cvtepi16_epi32(in[2]);
    __m256i x4 = _mm256_cvtepi16_epi32(in[1]), x5 = _mm256_cvtepi16_epi32(in[7]);
    __m256i x6 = _mm256_cvtepi16_epi32(in[5]), x7 = _mm256_cvtepi16_epi32(in[3]), x8;

    x8 = plus<p.stage_round>(mul(idct_w7, _mm256_add_epi32(x4, x5)));
    x4 = shifted<s>(_mm256_add_epi32(x8, mul(idct_w1 - idct_w7, x4)));
    x5 = shifted<s>(_mm256_sub_epi32(x8, mul(idct_w1 + idct_w7, x5)));
    x8 = plus<p.stage_round>(mul(idct_w3, _mm256_add_epi32(x6, x7)));
    x6 = shifted<s>(_mm256_sub_epi32(x8, mul(idct_w3 - idct_w5, x6)));
    x7 = shifted<s>(_mm256_sub_epi32(x8, mul(idct_w3 + idct_w5, x7)));

    x8 = _mm256_add_epi32(x0, x1);
    x0 = _mm256_sub_epi32(x0, x1);
    x1 = plus<p.stage_round>(mul(idct_w6, _mm256_add_epi32(x3, x2)));
    x2 = shifted<s>(_mm256_sub_epi32(x1, mul(idct_w2 + idct_w6, x2)));
    x3 = shifted<s>(_mm256_add_epi32(x1, mul(idct_w2 - idct_w6, x3)));
    x1 = _mm256_add_epi32(x4, x6);
    x4 = _mm256_sub_epi32(x4, x6);
    x6 = _mm256_add_epi32(x5, x7);
    x5 = _mm256_sub_epi32(x5, x7);

    x7 = _mm256_add_epi32(x8, x3);
    x8 = _mm256_sub_epi32(x8, x3);
    x3 = _mm256_add_epi32(x0, x2);
    x0 = _mm256_sub_epi32(x0, x2);
    x2 = shifted<8>(plus<128>(mul(181, _mm256_add_epi32(x4, x5))));
    x4 = shifted<8>(plus<128>(mul(181, _mm256_sub_epi32(x4, x5))));

    out[0] = result<columns>(_mm256_add_epi32(x7, x1));
    out[1] = result<columns>(_mm256_add_epi32(x3, x2));
    out[2] = result<columns>(_mm256_add_epi32(x0, x4));
    out[3] = result<columns>(_mm256_add_epi32(x8, x6));
    out[4] = result<columns>(_mm256_sub_epi32(x8, x6));
    out[5] = result<columns>(_mm256_sub_epi32(x0, x4));
    out[6] = result<columns>(_mm256_sub_epi32(x3, x2));
    out[7] = result<columns>(_mm256_sub_epi32(x7, x1));
}

MORVANE_TARGET("avx2") void inverse_avx2(int16_t* block) {
    __m256i* const p = reinterpret_cast<__m256i*>(block);
    const __m256i q0 = _mm256_loadu_si256(p), q1 = _mm256_loadu_si256(p + 1);
    const __m256i q2 = _mm256_loadu_si256(p + 2), q3 = _mm256_loadu_si256(p + 3);
    const __m256i not_dc = _mm256_set_epi16(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0);
    const __m256i ac = _mm256_or_si256(_mm256_and_si256(q0, not_dc), _mm256_or_si256(q1, _mm256_or_si256(q2, q3)));
    if (_mm256_testz_si256(ac, ac)) {
        // Only the DC term: every row but the first is zero, the first row
        // is DC x 8 in 16 bits, and every column keeps its first value.
        int v = static_cast<int16_t>(block[0] * 8);
        v = (v + 32) >> 6;
        v = v < -256 ? -256 : (v > 255 ? 255 : v);
        const __m256i all = _mm256_set1_epi16(static_cast<int16_t>(v));
        _mm256_storeu_si256(p, all);
        _mm256_storeu_si256(p + 1, all);
        _mm256_storeu_si256(p + 2, all);
        _mm256_storeu_si256(p + 3, all);
        return;
    }
    __m128i r[8] = {_mm256_castsi256_si128(q0), _mm256_extracti128_si256(q0, 1),
                    _mm256_castsi256_si128(q1), _mm256_extracti128_si256(q1, 1),
                    _mm256_castsi256_si128(q2), _mm256_extracti128_si256(q2, 1),
                    _mm256_castsi256_si128(q3), _mm256_extracti128_si256(q3, 1)};
    transpose8(r);  // r[j]: element j of every row
    __m128i t[8];
    idct_pass_avx2<false>(r, t);  // t[j]: element j of every row after the row pass
    transpose8(t);                // t[k]: row k
    idct_pass_avx2<true>(t, r);
    __m128i* const out = reinterpret_cast<__m128i*>(block);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(out + k, r[k]);
}

}  // namespace

void init_dct_kernels_sse2(dct_kernels& t) { t.forward = forward_sse2; }

void init_dct_kernels_avx2(dct_kernels& t) {
    t.forward = forward_avx2;
    t.inverse = inverse_avx2;
}

void init_dct_kernels_avx512(dct_kernels& t) { t.forward = forward_avx512; }

#endif
