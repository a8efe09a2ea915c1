// SSE2 prediction rectangles, bit-identical to the reference loops.
// (a + b + 1) >> 1 is exactly the unsigned byte average instruction; the
// four-sample case is summed in 16 bits, where it cannot overflow. Rows go
// 16 samples, then 8, then one at a time, so no step reads a sample the
// reference does not read.
#include "transform/predict_kernels.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include "driver/cpu.h"
#include "transform/predict_sample.h"

namespace {

template <int WIDTH>
MORVANE_TARGET("sse2") inline __m128i load(const uint8_t* p) {
    if constexpr (WIDTH == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int WIDTH>
MORVANE_TARGET("sse2") inline void store(uint8_t* p, __m128i v) {
    if constexpr (WIDTH == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

MORVANE_TARGET("sse2") inline __m128i average4(__m128i a, __m128i b, __m128i c, __m128i d, bool high) {
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    auto widen = [&](__m128i v) { return high ? _mm_unpackhi_epi8(v, zero) : _mm_unpacklo_epi8(v, zero); };
    __m128i s = _mm_add_epi16(_mm_add_epi16(widen(a), widen(b)), _mm_add_epi16(widen(c), widen(d)));
    return _mm_srli_epi16(_mm_add_epi16(s, two), 2);
}

template <int HX, int HY, int AVG, int WIDTH>
MORVANE_TARGET("sse2") inline void step(const uint8_t* s, uint8_t* d, int stride) {
    __m128i p;
    if constexpr (HX && HY) {
        __m128i a = load<WIDTH>(s), b = load<WIDTH>(s + 1);
        __m128i c = load<WIDTH>(s + stride), e = load<WIDTH>(s + stride + 1);
        __m128i lo = average4(a, b, c, e, false);
        __m128i hi = WIDTH == 16 ? average4(a, b, c, e, true) : _mm_setzero_si128();
        p = _mm_packus_epi16(lo, hi);
    } else if constexpr (HX) {
        p = _mm_avg_epu8(load<WIDTH>(s), load<WIDTH>(s + 1));
    } else if constexpr (HY) {
        p = _mm_avg_epu8(load<WIDTH>(s), load<WIDTH>(s + stride));
    } else {
        p = load<WIDTH>(s);
    }
    if constexpr (AVG) p = _mm_avg_epu8(load<WIDTH>(d), p);
    store<WIDTH>(d, p);
}

template <int HX, int HY, int AVG>
MORVANE_TARGET("sse2") void rectangle_loop(const uint8_t* s, uint8_t* d, int stride, int w, int h) {
    for (int j = 0; j < h; ++j) {
        int i = 0;
        for (; i + 16 <= w; i += 16) step<HX, HY, AVG, 16>(s + i, d + i, stride);
        for (; i + 8 <= w; i += 8) step<HX, HY, AVG, 8>(s + i, d + i, stride);
        for (; i < w; ++i) predict_sample<HX, HY, AVG>(s, d, i, stride);
        s += stride;
        d += stride;
    }
}

}  // namespace

void init_predict_kernels_sse2(predict_kernels& t) {
    t.rectangle[0] = rectangle_loop<0, 0, 0>;
    t.rectangle[1] = rectangle_loop<1, 0, 0>;
    t.rectangle[2] = rectangle_loop<0, 1, 0>;
    t.rectangle[3] = rectangle_loop<1, 1, 0>;
    t.rectangle[4] = rectangle_loop<0, 0, 1>;
    t.rectangle[5] = rectangle_loop<1, 0, 1>;
    t.rectangle[6] = rectangle_loop<0, 1, 1>;
    t.rectangle[7] = rectangle_loop<1, 1, 1>;
}

#endif
