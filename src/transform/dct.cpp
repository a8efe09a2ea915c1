#include "transform/dct.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/text_format.h"
#include "transform/dct_kernels.h"
#include "transform/idct_pass.h"

double dct_basis[8][8];
alignas(64) double dct_basis_by_x[8][8];

namespace {

int16_t idct_clip_storage[1024];
const int16_t* const idct_clip_table = idct_clip_storage + 512;  // indices -512..511

// ---- forward transform -------------------------------------------------

// Every sum starts from 0 and adds its eight products in increasing index
// order; the results must match that order exactly, so no reassociation.
void forward_reference(int16_t* block) {
    double tmp[64];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            double s = 0.0;
            for (int x = 0; x < 8; ++x) s += static_cast<double>(block[8 * y + x]) * dct_basis[u][x];
            tmp[8 * y + u] = s;
        }
    }
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            double s = 0.0;
            for (int y = 0; y < 8; ++y) s += dct_basis[v][y] * tmp[8 * y + u];
            block[8 * v + u] = static_cast<int16_t>(static_cast<int>(std::floor(s + 0.499999)));
        }
    }
}

// ---- inverse transform -------------------------------------------------
// 32-bit arithmetic that wraps like the hardware instead of being undefined
// on the extreme coefficient blocks; shifts are arithmetic.

inline int32_t wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
inline int32_t add(int32_t a, int32_t b) { return wrap(static_cast<int64_t>(a) + b); }
inline int32_t sub(int32_t a, int32_t b) { return wrap(static_cast<int64_t>(a) - b); }
inline int32_t mul(int32_t a, int32_t b) { return wrap(static_cast<int64_t>(a) * b); }

// One 1-D pass over e[0], e[step], ..., e[7 * step]: rows narrow their
// results to 16 bits, columns clip them.
template <bool columns>
void idct_1d(int16_t* e) {
    constexpr idct_pass p = columns ? idct_columns : idct_rows;
    constexpr int step = columns ? 8 : 1;
    auto out = [](int32_t v) { return columns ? idct_clip(v) : static_cast<int16_t>(v); };
    const int32_t dc = add(mul(e[0], 1 << p.scale_shift), p.round);
    // With only the first term, every output is that term through the last shift.
    if (!(e[step] | e[2 * step] | e[3 * step] | e[4 * step] | e[5 * step] | e[6 * step] | e[7 * step])) {
        const int16_t v = out(dc >> p.final_shift);
        for (int i = 0; i < 8; ++i) e[i * step] = v;
        return;
    }
    int32_t x0 = dc;
    int32_t x1 = mul(e[4 * step], 1 << p.scale_shift);
    int32_t x2 = e[6 * step], x3 = e[2 * step], x4 = e[step], x5 = e[7 * step], x6 = e[5 * step],
            x7 = e[3 * step], x8;

    x8 = add(mul(idct_w7, add(x4, x5)), p.stage_round);
    x4 = add(x8, mul(idct_w1 - idct_w7, x4)) >> p.stage_shift;
    x5 = sub(x8, mul(idct_w1 + idct_w7, x5)) >> p.stage_shift;
    x8 = add(mul(idct_w3, add(x6, x7)), p.stage_round);
    x6 = sub(x8, mul(idct_w3 - idct_w5, x6)) >> p.stage_shift;
    x7 = sub(x8, mul(idct_w3 + idct_w5, x7)) >> p.stage_shift;

    x8 = add(x0, x1);
    x0 = sub(x0, x1);
    x1 = add(mul(idct_w6, add(x3, x2)), p.stage_round);
    x2 = sub(x1, mul(idct_w2 + idct_w6, x2)) >> p.stage_shift;
    x3 = add(x1, mul(idct_w2 - idct_w6, x3)) >> p.stage_shift;
    x1 = add(x4, x6);
    x4 = sub(x4, x6);
    x6 = add(x5, x7);
    x5 = sub(x5, x7);

    x7 = add(x8, x3);
    x8 = sub(x8, x3);
    x3 = add(x0, x2);
    x0 = sub(x0, x2);
    x2 = add(mul(181, add(x4, x5)), 128) >> 8;
    x4 = add(mul(181, sub(x4, x5)), 128) >> 8;

    e[0] = out(add(x7, x1) >> p.final_shift);
    e[step] = out(add(x3, x2) >> p.final_shift);
    e[2 * step] = out(add(x0, x4) >> p.final_shift);
    e[3 * step] = out(add(x8, x6) >> p.final_shift);
    e[4 * step] = out(sub(x8, x6) >> p.final_shift);
    e[5 * step] = out(sub(x0, x4) >> p.final_shift);
    e[6 * step] = out(sub(x3, x2) >> p.final_shift);
    e[7 * step] = out(sub(x7, x1) >> p.final_shift);
}

void inverse_reference(int16_t* block) {
    for (int i = 0; i < 8; ++i) idct_1d<false>(block + 8 * i);
    for (int i = 0; i < 8; ++i) idct_1d<true>(block + i);
}

// ---- trace lines -------------------------------------------------------

char* put_text(char* p, const char* text, std::size_t length) {
    std::memcpy(p, text, length);
    return p + length;
}

}  // namespace

constinit dct_kernels dct_k = {forward_reference, inverse_reference};

void init_dct_kernels(dct_kernels& t, [[maybe_unused]] unsigned flags) {
    prepare_forward_dct();
    prepare_inverse_dct();
    t.forward = forward_reference;
    t.inverse = inverse_reference;
#if defined(__x86_64__)
    if (flags & cpu_sse2) init_dct_kernels_sse2(t);
    if (flags & cpu_avx2) init_dct_kernels_avx2(t);
    if (flags & cpu_avx512) init_dct_kernels_avx512(t);
#endif
}

int16_t idct_clip(int32_t index) {
    if (index < -512) return -256;
    if (index > 511) return 255;
    return idct_clip_table[index];
}

void prepare_forward_dct() {
    const double pi_8 = 0.39269908169872414;
    for (int u = 0; u < 8; ++u) {
        double a = u == 0 ? std::sqrt(0.125) : 0.5;
        for (int x = 0; x < 8; ++x) dct_basis[u][x] = a * std::cos(u * pi_8 * (x + 0.5));
    }
    for (int u = 0; u < 8; ++u)
        for (int x = 0; x < 8; ++x) dct_basis_by_x[x][u] = dct_basis[u][x];
}

void prepare_inverse_dct() {
    for (int i = -512; i < 512; ++i)
        idct_clip_storage[i + 512] = static_cast<int16_t>(i < -256 ? -256 : (i > 255 ? 255 : i));
}

int format_dc_lines(char* out, int dc_before, int dc_after, int64_t counter) {
    static const char value1[] = " DC value=";
    static const char value2[] = " after DC value=";
    static const char mid[] = "!!!!!!!!!!!!!!counter=";
    static const char tail[] = "!!!!!!!!!!!!!!!!!!!!!!!\n";
    char* p = out;
    p = put_text(p, value1, sizeof value1 - 1);
    p = put_decimal(p, dc_before);
    p = put_text(p, mid, sizeof mid - 1);
    char* counter_start = p;
    p = put_decimal(p, counter);
    std::size_t counter_length = static_cast<std::size_t>(p - counter_start);
    p = put_text(p, tail, sizeof tail - 1);
    p = put_text(p, value2, sizeof value2 - 1);
    p = put_decimal(p, dc_after);
    p = put_text(p, mid, sizeof mid - 1);
    p = put_text(p, counter_start, counter_length);
    p = put_text(p, tail, sizeof tail - 1);
    return static_cast<int>(p - out);
}

int forward_dct_traced(int16_t* block, int64_t counter, char* out) {
    dct_k.forward(block);
    int before = block[0];
    block[0] = static_cast<int16_t>(block[0] - enc.choices.dc_change);
    return enc.choices.dc_trace ? format_dc_lines(out, before, block[0], counter) : 0;
}

void forward_dct(int16_t* block) {
    char line[dc_lines_room];
    int length = forward_dct_traced(block, enc.run.dc_change_counter, line);
    if (length > 0) std::fwrite(line, 1, static_cast<std::size_t>(length), stdout);
    ++enc.run.dc_change_counter;
}

void inverse_dct(int16_t* block) {
    block[0] = static_cast<int16_t>(block[0] + enc.choices.dc_change);
    dct_k.inverse(block);
}
