// AVX-512 whole-sample search: full SADs of 32 neighbouring positions at
// once, then the least (SAD, spiral rank) pair, which is the spiral's winner
// (see spiral.h). The sums are exact: a 16 x 16 SAD is at most 65280, so
// 16-bit lanes hold it.
#include "motion/motion_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "driver/cpu.h"
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

// Word k: the SAD of the block at p + k. 128-bit lane k covers the positions
// p + 8k ..: groups 0 and 1 read the reference from p + 8k (`near`),
// groups 2 and 3 from p + 8k + 8 (`far`). The masked loads read only the
// n + 15 samples of the n positions' rows.
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") inline __m512i sads32(const uint8_t* p, const uint8_t* cur, std::ptrdiff_t stride, int rows, int n) {
    const __mmask64 load = (__mmask64{1} << (n + 15)) - 1;
    const __m512i near_index = _mm512_setr_epi64(0, 1, 1, 2, 2, 3, 3, 4);
    const __m512i far_index = _mm512_setr_epi64(1, 2, 2, 3, 3, 4, 4, 5);
    __m512i acc = _mm512_setzero_si512();
    for (int j = 0; j < rows; ++j, p += stride, cur += stride) {
        const __m512i r = _mm512_maskz_loadu_epi8(load, p);
        const __m512i near = _mm512_maskz_permutexvar_epi64(0xff, near_index, r);
        const __m512i far = _mm512_maskz_permutexvar_epi64(0xff, far_index, r);
        const __m512i g01 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 0)), near, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 1)), near, second_group));
        const __m512i g23 = _mm512_add_epi16(_mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 2)), far, first_group),
                                             _mm512_dbsad_epu8(_mm512_set1_epi32(group(cur, 3)), far, second_group));
        acc = _mm512_add_epi16(acc, _mm512_add_epi16(g01, g23));
    }
    return acc;
}

// The same for up to 16 positions in half the width.
MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") inline __m256i sads16(const uint8_t* p, const uint8_t* cur, std::ptrdiff_t stride, int rows, int n) {
    const __mmask32 load = (__mmask32{1} << (n + 15)) - 1;
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < rows; ++j, p += stride, cur += stride) {
        const __m256i r = _mm256_maskz_loadu_epi8(load, p);
        const __m256i near = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(2, 1, 1, 0));
        const __m256i far = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 2, 2, 1));
        const __m256i g01 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 0)), near, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 1)), near, second_group));
        const __m256i g23 = _mm256_add_epi16(_mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 2)), far, first_group),
                                             _mm256_dbsad_epu8(_mm256_set1_epi32(group(cur, 3)), far, second_group));
        acc = _mm256_add_epi16(acc, _mm256_add_epi16(g01, g23));
    }
    return acc;
}

MORVANE_TARGET("avx2,avx512f,avx512bw,avx512vl") whole_match whole_search_avx512(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows, int width,
                                       int height, int cx, int cy) {
    const std::ptrdiff_t stride = row_stride;
    spiral_best best(cx, cy);
    alignas(64) uint16_t sads[32];
    // Only positions at or below the best SAD so far can win.
    auto offer = [&](uint32_t m, int x0, int y) {
        for (; m; m &= m - 1) {
            const int k = __builtin_ctz(m);
            best.offer(sads[k], x0 + k, y);
        }
    };
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = ref + y * stride;
        int x0 = 0;
        for (; width - x0 > 16; x0 += 32) {
            const int n = width - x0 < 32 ? width - x0 : 32;
            const __m512i v = sads32(row + x0, cur, stride, rows, n);
            const __mmask32 valid = n == 32 ? ~__mmask32{0} : (__mmask32{1} << n) - 1;
            const __mmask32 m =
                _mm512_mask_cmple_epu16_mask(valid, v, _mm512_set1_epi16(static_cast<short>(best.threshold())));
            if (!m) continue;
            _mm512_store_si512(sads, v);
            offer(m, x0, y);
        }
        if (x0 < width) {
            const int n = width - x0;
            const __m256i v = sads16(row + x0, cur, stride, rows, n);
            const __mmask16 valid = n == 16 ? __mmask16{0xffff} : static_cast<__mmask16>((1u << n) - 1);
            const __mmask16 m =
                _mm256_mask_cmple_epu16_mask(valid, v, _mm256_set1_epi16(static_cast<short>(best.threshold())));
            if (!m) continue;
            _mm256_store_si256(reinterpret_cast<__m256i*>(sads), v);
            offer(m, x0, y);
        }
    }
    return best.result();
}

}  // namespace

void init_motion_kernels_avx512(motion_kernels& t) { t.whole_search = whole_search_avx512; }

#endif
