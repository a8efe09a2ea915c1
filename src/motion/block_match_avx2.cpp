// AVX2 whole-sample search: full SADs of 16 neighbouring positions at once,
// then the least (SAD, spiral rank) pair, which is the spiral's winner (see
// spiral.h). The sums are exact: a 16 x 16 SAD is at most 65280, so 16-bit
// lanes hold it.
#include "motion/motion_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "driver/cpu.h"
#include "motion/spiral.h"

namespace {

// 32 samples from p; near the window's last sample from a copy, so that no
// read passes it.
MORVANE_TARGET("avx2") inline __m256i load_row(const uint8_t* p, const uint8_t* last) {
    if (last - p >= 31) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    alignas(32) uint8_t copy[32] = {};
    std::memcpy(copy, p, static_cast<std::size_t>(last - p + 1));
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(copy));
}

// Word k: the SAD of the block at p + k. In 128-bit lane k mpsadbw gives
// one 4-sample group's SADs at the 8 positions p + 8k ..: groups 0 and 1
// read the reference from p + 8k (bytes 0 and 4 on), groups 2 and 3 from
// p + 8k + 8.
MORVANE_TARGET("avx2") inline __m256i sads16(const uint8_t* p, const uint8_t* cur, std::ptrdiff_t stride, int rows,
                                             const uint8_t* last) {
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < rows; ++j, p += stride, cur += stride) {
        const __m256i r = load_row(p, last);
        const __m256i near = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(2, 1, 1, 0));
        const __m256i far = _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 2, 2, 1));
        const __m256i c = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cur)));
        // Per lane: bit 2 the reference byte 0 or 4, bits 0-1 the group.
        const __m256i g01 = _mm256_add_epi16(_mm256_mpsadbw_epu8(near, c, 0), _mm256_mpsadbw_epu8(near, c, 5 | 5 << 3));
        const __m256i g23 =
            _mm256_add_epi16(_mm256_mpsadbw_epu8(far, c, 2 | 2 << 3), _mm256_mpsadbw_epu8(far, c, 7 | 7 << 3));
        acc = _mm256_add_epi16(acc, _mm256_add_epi16(g01, g23));
    }
    return acc;
}

MORVANE_TARGET("avx2") whole_match whole_search_avx2(const uint8_t* ref, const uint8_t* cur, int row_stride, int rows,
                                                     int width, int height, int cx, int cy) {
    const std::ptrdiff_t stride = row_stride;
    const uint8_t* last = ref + (height + rows - 2) * stride + width + 14;
    spiral_best best(cx, cy);
    alignas(32) uint16_t sads[16];
    for (int y = 0; y < height; ++y)
        for (int x0 = 0; x0 < width; x0 += 16) {
            const __m256i v = sads16(ref + y * stride + x0, cur, stride, rows, last);
            // Two mask bits per word; only positions at or below the best SAD
            // so far can win.
            const __m256i t = _mm256_set1_epi16(static_cast<short>(best.threshold()));
            const unsigned within = _mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_min_epu16(v, t), v));
            const int n = std::min(16, width - x0);
            unsigned m = within & 0x55555555u & (n == 16 ? ~0u : (1u << 2 * n) - 1);
            if (!m) continue;
            _mm256_store_si256(reinterpret_cast<__m256i*>(sads), v);
            for (; m; m &= m - 1) {
                const int k = __builtin_ctz(m) >> 1;
                best.offer(sads[k], x0 + k, y);
            }
        }
    return best.result();
}

}  // namespace

void init_motion_kernels_avx2(motion_kernels& t) { t.whole_search = whole_search_avx2; }

#endif
