#include "transform/quantise.h"

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "transform/quantise_kernels.h"

const uint8_t non_linear_scale_table[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12,  14,  16,  18,  20,  22,
                                            24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

const uint8_t non_linear_code_map[113] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  8,                           // 0..9
    9,  9,  10, 10, 11, 11, 12, 12, 13, 13,                          // 10..19
    14, 14, 15, 15, 16, 16, 16, 17, 17, 17,                          // 20..29
    18, 18, 18, 18, 19, 19, 19, 19, 20, 20,                          // 30..39
    20, 20, 21, 21, 21, 21, 22, 22, 22, 22,                          // 40..49
    23, 23, 23, 23, 24, 24, 24, 24, 24, 24,                          // 50..59
    24, 25, 25, 25, 25, 25, 25, 25, 26, 26,                          // 60..69
    26, 26, 26, 26, 26, 26, 27, 27, 27, 27,                          // 70..79
    27, 27, 27, 27, 28, 28, 28, 28, 28, 28,                          // 80..89
    28, 29, 29, 29, 29, 29, 29, 29, 29, 29,                          // 90..99
    29, 30, 30, 30, 30, 30, 30, 30, 31, 31,                          // 100..109
    31, 31, 31};                                                     // 110..112

namespace {

inline int16_t clamp_coefficient(int v) { return static_cast<int16_t>(v < -2048 ? -2048 : (v > 2047 ? 2047 : v)); }

// Even reconstructions move one step towards zero.
inline int oddify(int v) {
    if ((v & 1) == 0 && v != 0) return v > 0 ? v - 1 : v + 1;
    return v;
}

inline int16_t with_sign_of(int x, int y) { return static_cast<int16_t>(x < 0 ? -y : y); }

int quantise_intra_reference(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant,
                             int limit) {
    int x = src[0];
    int d = 8 >> dc_precision;
    dst[0] = static_cast<int16_t>(x >= 0 ? (x + (d >> 1)) / d : -(((d >> 1) - x) / d));
    int rounding = (3 * mquant + 2) >> 2;
    for (int i = 1; i < 64; ++i) {
        x = src[i];
        int w = matrix[i];
        int y = (32 * (x < 0 ? -x : x) + (w >> 1)) / w;
        y = (y + rounding) / (2 * mquant);
        if (y > limit) y = limit;
        dst[i] = with_sign_of(x, y);
    }
    return 1;
}

int quantise_non_intra_reference(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant, int limit) {
    int nonzero = 0;
    for (int i = 0; i < 64; ++i) {
        int x = src[i];
        int w = matrix[i];
        int y = ((32 * (x < 0 ? -x : x) + (w >> 1)) / w) / (2 * mquant);
        if (y > limit) y = limit;
        dst[i] = with_sign_of(x, y);
        nonzero |= y;
    }
    return nonzero != 0;
}

// The sum of all coefficients decides whether the last one is toggled.
inline void mismatch_control(int16_t* dst, int sum) {
    if ((sum & 1) == 0) dst[63] = static_cast<int16_t>(dst[63] ^ 1);
}

void dequantise_intra_reference(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix,
                                int mquant) {
    dst[0] = static_cast<int16_t>(src[0] * (1 << (3 - dc_precision)));
    int sum = dst[0];
    for (int i = 1; i < 64; ++i) {
        int16_t v = clamp_coefficient((src[i] * matrix[i] * mquant) / 16);
        dst[i] = v;
        sum += v;
    }
    mismatch_control(dst, sum);
}

void dequantise_non_intra_reference(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    int sum = 0;
    for (int i = 0; i < 64; ++i) {
        int x = src[i];
        int v = x == 0 ? 0 : ((2 * x + (x > 0 ? 1 : -1)) * matrix[i] * mquant) / 32;
        int16_t c = clamp_coefficient(v);
        dst[i] = c;
        sum += c;
    }
    mismatch_control(dst, sum);
}

void dequantise_intra_mpeg1_reference(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix,
                                      int mquant) {
    dst[0] = static_cast<int16_t>(src[0] * (1 << (3 - dc_precision)));
    for (int i = 1; i < 64; ++i) dst[i] = clamp_coefficient(oddify((src[i] * matrix[i] * mquant) / 16));
}

void dequantise_non_intra_mpeg1_reference(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    for (int i = 0; i < 64; ++i) {
        int x = src[i];
        int v = x == 0 ? 0 : ((2 * x + (x > 0 ? 1 : -1)) * matrix[i] * mquant) / 32;
        dst[i] = clamp_coefficient(oddify(v));
    }
}

uint64_t nonzero_mask_reference(const int16_t* block) {
    uint64_t m = 0;
    for (int i = 0; i < 64; ++i) m |= uint64_t{block[i] != 0} << i;
    return m;
}

inline int level_limit() { return enc.config.mpeg1 ? 255 : 2047; }

constexpr quantise_kernels reference_kernels = {
    quantise_intra_reference,       quantise_non_intra_reference,     dequantise_intra_reference,
    dequantise_non_intra_reference, dequantise_intra_mpeg1_reference, dequantise_non_intra_mpeg1_reference,
    nonzero_mask_reference};

}  // namespace

constinit quantise_kernels quantise_k = reference_kernels;

void init_quantise_kernels(quantise_kernels& t, [[maybe_unused]] unsigned flags) {
    t = reference_kernels;
#if defined(__x86_64__)
    if (flags & cpu_avx2) init_quantise_kernels_avx2(t);
#endif
}

int quantise_intra(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant) {
    return quantise_k.quantise_intra(src, dst, dc_precision, matrix, mquant, level_limit());
}

int quantise_non_intra(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    return quantise_k.quantise_non_intra(src, dst, matrix, mquant, level_limit());
}

void dequantise_intra(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant) {
    if (enc.config.mpeg1) {
        quantise_k.dequantise_intra_mpeg1(src, dst, dc_precision, matrix, mquant);
        return;
    }
    quantise_k.dequantise_intra(src, dst, dc_precision, matrix, mquant);
}

void dequantise_non_intra(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    if (enc.config.mpeg1) {
        quantise_k.dequantise_non_intra_mpeg1(src, dst, matrix, mquant);
        return;
    }
    quantise_k.dequantise_non_intra(src, dst, matrix, mquant);
}

void dequantise_intra_mpeg1(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant) {
    quantise_k.dequantise_intra_mpeg1(src, dst, dc_precision, matrix, mquant);
}

void dequantise_non_intra_mpeg1(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant) {
    quantise_k.dequantise_non_intra_mpeg1(src, dst, matrix, mquant);
}
