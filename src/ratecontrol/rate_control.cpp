#include "ratecontrol/rate_control.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "transform/quantise.h"
#include "transform/sample_kernels.h"

namespace {

constexpr double Kp = 1.0;
constexpr double Kb = 1.4;

int clamp_to_int(int64_t v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

// A quantiser computed in double, limited to lo..hi before any conversion,
// so a huge value becomes the largest quantiser instead of wrapping.
int limit_quantiser(double q, int lo, int hi) {
    if (!(q >= lo)) return lo;
    if (q > hi) return hi;
    return static_cast<int>(q);
}

// A default that rounds to 0 would be a divisor of 0 later on.
int positive_default(double v) {
    int x = saturate_to_int(v);
    return x == 0 ? 1 : x;
}

int macroblock_count() { return enc.config.mb_width * enc.config.mb_height2; }

}  // namespace

int saturate_to_int(double v) {
    if (v != v) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return static_cast<int>(v);
}

int64_t saturate_to_int64(double v) {
    if (v != v) return 0;
    if (v >= 9223372036854775807.0) return INT64_MAX;
    if (v <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(v);
}

void rc_init_sequence() {
    const encoder_config& cfg = enc.config;
    rate_control_state& rc = enc.run.rc;
    rc.r = cfg.r, rc.avg_act = cfg.avg_act;
    rc.Xi = cfg.Xi, rc.Xp = cfg.Xp, rc.Xb = cfg.Xb;
    rc.d0i = cfg.d0i, rc.d0p = cfg.d0p, rc.d0b = cfg.d0b;
    if (rc.r == 0) rc.r = positive_default(std::floor(2.0 * cfg.bit_rate / cfg.frame_rate + 0.5));
    if (rc.avg_act == 0.0) rc.avg_act = 400.0;
    rc.R = 0;
    if (rc.Xi == 0) rc.Xi = positive_default(std::floor(160.0 * cfg.bit_rate / 115.0 + 0.5));
    if (rc.Xp == 0) rc.Xp = positive_default(std::floor(60.0 * cfg.bit_rate / 115.0 + 0.5));
    if (rc.Xb == 0) rc.Xb = positive_default(std::floor(42.0 * cfg.bit_rate / 115.0 + 0.5));
    if (rc.d0i == 0) rc.d0i = saturate_to_int(std::floor(10.0 * rc.r / 31.0 + 0.5));
    if (rc.d0p == 0) rc.d0p = saturate_to_int(std::floor(10.0 * rc.r / 31.0 + 0.5));
    if (rc.d0b == 0) rc.d0b = saturate_to_int(std::floor(14.0 * rc.r / 31.0 + 0.5));

    FILE* f = enc.files.statistics_file;
    std::fprintf(f, "\nrate control: sequence initialization\n");
    std::fprintf(f, " initial global complexity measures (I,P,B): Xi=%d, Xp=%d, Xb=%d\n", rc.Xi, rc.Xp, rc.Xb);
    std::fprintf(f, " reaction parameter: r=%d\n", rc.r);
    std::fprintf(f, " initial virtual buffer fullness (I,P,B): d0i=%d, d0p=%d, d0b=%d\n", rc.d0i, rc.d0p, rc.d0b);
    std::fprintf(f, " initial average activity: avg_act=%.1f\n", rc.avg_act);
}

void rc_init_gop(int np, int nb) {
    const encoder_config& cfg = enc.config;
    rate_control_state& rc = enc.run.rc;
    int64_t frames = 1 + static_cast<int64_t>(np) + nb;
    rc.R += saturate_to_int64(std::floor(static_cast<double>(frames) * cfg.bit_rate / cfg.frame_rate + 0.5));
    if (cfg.field_pictures) {
        rc.Np = clamp_to_int(2 * static_cast<int64_t>(np) + 1);
        rc.Nb = clamp_to_int(2 * static_cast<int64_t>(nb));
    } else {
        rc.Np = np;
        rc.Nb = nb;
    }

    FILE* f = enc.files.statistics_file;
    std::fprintf(f, "\nrate control: new group of pictures (GOP)\n");
    std::fprintf(f, " target number of bits for GOP: R=%" PRId64 "\n", rc.R);
    std::fprintf(f, " number of P pictures in GOP: Np=%d\n", rc.Np);
    std::fprintf(f, " number of B pictures in GOP: Nb=%d\n", rc.Nb);
}

void rc_init_picture(const uint8_t* frame, macroblock_info* mb_info, int64_t bits) {
    const encoder_config& cfg = enc.config;
    rate_control_state& rc = enc.run.rc;
    // The complexity products are formed in 64 bits: Np x Xp passes 2^31 at
    // high bit rates with long GOPs.
    const int64_t np_xp = static_cast<int64_t>(rc.Np) * rc.Xp;
    const int64_t nb_xb = static_cast<int64_t>(rc.Nb) * rc.Xb;
    const double R = static_cast<double>(rc.R);
    double target = 0.0;
    switch (enc.picture.pict_type) {
    case I_TYPE:
        target = std::floor(R / (1 + np_xp / (rc.Xi * Kp) + nb_xb / (rc.Xi * Kb)) + 0.5);
        rc.d = rc.d0i;
        break;
    case P_TYPE:
        target = std::floor(R / (rc.Np + rc.Nb * Kp * rc.Xb / (rc.Xp * Kb)) + 0.5);
        rc.d = rc.d0p;
        break;
    case B_TYPE:
        target = std::floor(R / (rc.Nb + rc.Np * Kb * rc.Xp / (rc.Xb * Kp)) + 0.5);
        rc.d = rc.d0b;
        break;
    }
    // A degenerate share (a zero or negative denominator from given
    // complexities) is kept far enough from the 64-bit ends that the buffer
    // sums below cannot wrap.
    constexpr int64_t target_limit = int64_t{1} << 62;
    rc.T = saturate_to_int64(target);
    if (rc.T > target_limit) rc.T = target_limit;
    if (rc.T < -target_limit) rc.T = -target_limit;
    const int64_t lower = saturate_to_int64(std::floor(cfg.bit_rate / (8.0 * cfg.frame_rate) + 0.5));
    if (rc.T < lower) rc.T = lower;

    rc.S = bits;
    rc.mquant_sum = 0;
    if (frame) compute_activities(frame, mb_info);
    rc.act_sum = 0.0;

    std::fprintf(enc.files.statistics_file, "\nrate control: start of picture\n");
    std::fprintf(enc.files.statistics_file, " target number of bits: T=%" PRId64 "\n", rc.T);
}

void compute_activities_row(const uint8_t* frame, macroblock_info* mb_info, int row) {
    const encoder_config& cfg = enc.config;
    const int stride = cfg.width2;
    const bool field_blocks = !cfg.field_pictures && !cfg.progressive_sequence;
    const int j = 16 * row;
    int k = row * cfg.mb_width;
    for (int i = 0; i < cfg.width; i += 16) {
        const uint8_t* p = frame + i + static_cast<std::ptrdiff_t>(j) * stride;
        if (enc.picture.picture_structure == BOTTOM_FIELD) p += cfg.width;
        double act = variance_8x8(p, stride);
        double v;
        if ((v = variance_8x8(p + 8, stride)) < act) act = v;
        if ((v = variance_8x8(p + 8 * stride, stride)) < act) act = v;
        if ((v = variance_8x8(p + 8 * stride + 8, stride)) < act) act = v;
        if (field_blocks) {
            const int fs = 2 * cfg.width;
            if ((v = variance_8x8(p, fs)) < act) act = v;
            if ((v = variance_8x8(p + 8, fs)) < act) act = v;
            if ((v = variance_8x8(p + cfg.width, fs)) < act) act = v;
            if ((v = variance_8x8(p + cfg.width + 8, fs)) < act) act = v;
        }
        mb_info[k].act = 1.0 + act;
        ++k;
    }
}

void compute_activities(const uint8_t* frame, macroblock_info* mb_info) {
    for (int row = 0; row < enc.config.mb_height2; ++row) compute_activities_row(frame, mb_info, row);
}

double variance_8x8(const uint8_t* p, int stride) { return sample_k.variance_8x8(p, stride); }

int rc_first_mquant() {
    rate_control_state& rc = enc.run.rc;
    const double d = static_cast<double>(rc.d);
    if (enc.picture.q_scale_type) {
        int q = limit_quantiser(std::floor(2.0 * d * 31.0 / rc.r + 0.5), 1, 112);
        return non_linear_scale_table[non_linear_code_map[q]];
    }
    int q = limit_quantiser(2.0 * std::floor(d * 31.0 / rc.r + 0.5), 2, 62);
    rc.prev_linear_mquant = q;
    return q;
}

int rc_mquant(int k, double actj, int64_t bits) {
    rate_control_state& rc = enc.run.rc;
    const int64_t dj = rc.d + (bits - rc.S) - k * (rc.T / macroblock_count());
    const double Qj = static_cast<double>(dj) * 31.0 / rc.r;
    rc.act_sum += actj;
    const double N_actj = (2.0 * actj + rc.avg_act) / (actj + 2.0 * rc.avg_act);

    int mquant;
    if (enc.picture.q_scale_type) {
        int q = limit_quantiser(std::floor(2.0 * Qj * N_actj + 0.5), 1, 112);
        mquant = non_linear_scale_table[non_linear_code_map[q]];
    } else {
        int q = limit_quantiser(2.0 * std::floor(Qj * N_actj + 0.5), 2, 62);
        if (q >= 8 && q - rc.prev_linear_mquant >= -4 && q - rc.prev_linear_mquant <= 4) q = rc.prev_linear_mquant;
        rc.prev_linear_mquant = q;
        mquant = q;
    }
    rc.mquant_sum += mquant;
    return mquant;
}

void rc_update_picture(int64_t bits) {
    rate_control_state& rc = enc.run.rc;
    const int n = macroblock_count();
    rc.S = bits - rc.S;
    rc.R -= rc.S;
    const int X = saturate_to_int(
        std::floor(static_cast<double>(rc.S) * (0.5 * static_cast<double>(rc.mquant_sum) / n) + 0.5));
    rc.d = rc.d + rc.S - rc.T;
    rc.avg_act = rc.act_sum / n;

    switch (enc.picture.pict_type) {
    case I_TYPE:
        rc.Xi = X;
        rc.d0i = clamp_to_int(rc.d);
        break;
    case P_TYPE:
        rc.Xp = X;
        rc.d0p = clamp_to_int(rc.d);
        --rc.Np;
        break;
    case B_TYPE:
        rc.Xb = X;
        rc.d0b = clamp_to_int(rc.d);
        --rc.Nb;
        break;
    }

    FILE* f = enc.files.statistics_file;
    std::fprintf(f, "\nrate control: end of picture\n");
    std::fprintf(f, " actual number of bits: S=%" PRId64 "\n", rc.S);
    std::fprintf(f, " average quantization parameter Q=%.1f\n", static_cast<double>(rc.mquant_sum) / n);
    std::fprintf(f, " remaining number of bits in GOP: R=%" PRId64 "\n", rc.R);
    std::fprintf(f, " global complexity measures (I,P,B): Xi=%d, Xp=%d, Xb=%d\n", rc.Xi, rc.Xp, rc.Xb);
    std::fprintf(f, " virtual buffer fullness (I,P,B): d0i=%d, d0p=%d, d0b=%d\n", rc.d0i, rc.d0p, rc.d0b);
    std::fprintf(f, " remaining number of P pictures in GOP: Np=%d\n", rc.Np);
    std::fprintf(f, " remaining number of B pictures in GOP: Nb=%d\n", rc.Nb);
    std::fprintf(f, " average activity: avg_act=%.1f\n", rc.avg_act);
}
