#include "ratecontrol/vbv.h"

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "ratecontrol/rate_control.h"

namespace {

// Display duration of one picture in 90 kHz ticks.
double picture_duration() {
    const encoder_config& cfg = enc.config;
    const double F = cfg.frame_rate;
    if (cfg.progressive_sequence) {
        if (!cfg.repeat_first_field) return 90000.0 / F;
        return cfg.top_field_first ? 270000.0 / F : 180000.0 / F;
    }
    if (cfg.field_pictures) return 90000.0 / (2.0 * F);
    return cfg.repeat_first_field ? 270000.0 / (2.0 * F) : 180000.0 / (2.0 * F);
}

}  // namespace

void compute_vbv_delay(int64_t bits) {
    const picture_values& pic = enc.picture;
    const encoder_config& cfg = enc.config;
    vbv_state& vbv = enc.run.vbv;
    const double F = cfg.frame_rate;
    const double D = picture_duration();
    double picture_delay;

    if (pic.pict_type == B_TYPE) {
        picture_delay = D;
    } else if (cfg.field_pictures) {
        const bool first_field = pic.picture_structure == (cfg.top_field_first ? TOP_FIELD : BOTTOM_FIELD);
        if (first_field) {
            picture_delay = 90000.0 / (2.0 * F);
        } else {
            picture_delay = vbv.next_ip_delay - 90000.0 / (2.0 * F);
            vbv.next_ip_delay = 90000.0 / F;
        }
    } else {
        picture_delay = vbv.next_ip_delay;
        vbv.next_ip_delay = D;
    }

    if (vbv.decoding_time == 0.0) {
        // Start-up: 7/8 of the buffer is filled before the first picture is
        // decoded. 64-bit, as the product passes 2^31 for large buffers.
        const int64_t startup_bits = static_cast<int64_t>(cfg.vbv_buffer_size) * 16384 * 7 / 8;
        picture_delay = static_cast<double>(startup_bits) * 90000.0 / cfg.bit_rate;
        if (cfg.field_pictures) vbv.next_ip_delay = std::floor(90000.0 / F + 0.5);
    }

    const double t_EOP = static_cast<double>(vbv.bitcnt_EOP) * 90000.0 / cfg.bit_rate;
    if (!cfg.low_delay && t_EOP > vbv.decoding_time)
        std::fprintf(stderr, "vbv_delay underflow! (decoding_time=%.1f, t_EOP=%.1f\n)", vbv.decoding_time, t_EOP);

    vbv.decoding_time += picture_delay;

    // Truncated towards zero; saturates where the difference leaves the int range.
    const int delay =
        saturate_to_int(std::trunc(vbv.decoding_time - static_cast<double>(bits) * 90000.0 / cfg.bit_rate));

    const int64_t buffer_bits = static_cast<int64_t>(cfg.vbv_buffer_size) * 16384;
    if (vbv.decoding_time - t_EOP > static_cast<double>(buffer_bits) * 90000.0 / cfg.bit_rate)
        std::fprintf(stderr, "vbv_delay overflow!\n");

    std::fprintf(enc.files.statistics_file,
                 "\nvbv_delay=%d (bitcount=%" PRId64 ", decoding_time=%.2f, bitcnt_EOP=%" PRId64 ")\n", delay,
                 bits, vbv.decoding_time, vbv.bitcnt_EOP);

    int clamped = delay;
    if (clamped < 0) {
        std::fprintf(stderr, "vbv_delay underflow: %d\n", clamped);
        clamped = 0;
    }
    if (clamped > 65535) {
        std::fprintf(stderr, "vbv_delay overflow: %d\n", clamped);
        clamped = 65535;
    }
    vbv.vbv_delay = clamped;
}

void vbv_end_of_picture(int64_t bits) { enc.run.vbv.bitcnt_EOP = (bits + 7) & ~static_cast<int64_t>(7); }
