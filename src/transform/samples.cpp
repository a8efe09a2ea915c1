// The reference sample kernels: the transform stage's, rate control's and
// the DCT-type decision's loops as they were.
#include <array>
#include <cstddef>

#include "driver/cpu.h"
#include "transform/sample_kernels.h"

namespace {

// 0..255 for indices -384..639, as the encoder's clip table.
constexpr std::array<uint8_t, 1024> clip_storage = [] {
    std::array<uint8_t, 1024> t{};
    for (int i = -384; i < 640; ++i)
        t[static_cast<std::size_t>(i + 384)] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
    return t;
}();
const uint8_t* const clip_table = clip_storage.data() + 384;

void subtract_block_reference(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block) {
    for (int r = 0; r < 8; ++r, pred += stride, cur += stride)
        for (int c = 0; c < 8; ++c) block[8 * r + c] = static_cast<int16_t>(cur[c] - pred[c]);
}

void add_block_reference(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block) {
    for (int r = 0; r < 8; ++r, pred += stride, rec += stride)
        for (int c = 0; c < 8; ++c) rec[c] = clip_table[block[8 * r + c] + pred[c]];
}

double variance_8x8_reference(const uint8_t* p, int stride) {
    unsigned s = 0, s2 = 0;
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
            unsigned v = p[i];
            s += v;
            s2 += v * v;
        }
        p += stride;
    }
    return variance_of_sums(s, s2);
}

void field_sums_reference(const uint8_t* pred, const uint8_t* cur, int stride, int sums[5]) {
    int16_t blk0[128], blk1[128];
    for (int i = 0; i < 8; ++i) {
        const std::size_t top = static_cast<std::size_t>(2 * i) * stride;
        const std::size_t bot = top + stride;
        for (int j = 0; j < 16; ++j) {
            blk0[16 * i + j] = static_cast<int16_t>(cur[top + j] - pred[top + j]);
            blk1[16 * i + j] = static_cast<int16_t>(cur[bot + j] - pred[bot + j]);
        }
    }
    int s0 = 0, s1 = 0, q0 = 0, q1 = 0, p = 0;
    for (int i = 0; i < 128; ++i) {
        s0 += blk0[i];
        s1 += blk1[i];
        q0 += blk0[i] * blk0[i];
        q1 += blk1[i] * blk1[i];
        p += blk0[i] * blk1[i];
    }
    sums[0] = s0;
    sums[1] = s1;
    sums[2] = q0;
    sums[3] = q1;
    sums[4] = p;
}

constexpr sample_kernels reference_kernels = {subtract_block_reference, add_block_reference, variance_8x8_reference,
                                              field_sums_reference};

}  // namespace

constinit sample_kernels sample_k = reference_kernels;

void init_sample_kernels(sample_kernels& t, [[maybe_unused]] unsigned flags) {
    t = reference_kernels;
#if defined(__x86_64__)
    if (flags & cpu_sse2) init_sample_kernels_sse2(t);
    if (flags & cpu_avx2) init_sample_kernels_avx2(t);
#endif
}
