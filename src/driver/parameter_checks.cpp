#include "driver/parameter_checks.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/name_pattern.h"

namespace {

void fail_if(bool condition, const char* message) {
    if (condition) fatal_error(message);
}

bool outside(int v, int low, int high) { return v < low || v > high; }

// Colour description codes: 1..7 without the reserved 3.
bool bad_colour_code(int v) { return v < 1 || v > 7 || v == 3; }

void check_f_code_pair(int hor, int vert) {
    fail_if(outside(hor, 1, 9), "f_code must be between 1 and 9");
    fail_if(outside(vert, 1, 9), "f_code must be between 1 and 9");
}

void check_mpeg1_f_code_pair(int hor, int vert) {
    const encoder_config& cfg = enc.config;
    fail_if(cfg.mpeg1 && hor > 7, "f_code must be le less than 8");
    fail_if(cfg.mpeg1 && vert > 7, "f_code must be le less than 8");
}

void check_search_pair(int hor, int vert) {
    fail_if(hor < 1, "search window must be positive");
    fail_if(vert < 1, "search window must be positive");
}

// Indexed by (level - 4) / 2: High, High 1440, Main, Low.
constexpr level_limits level_limit_table[4] = {
    {9, 5, 1920, 1152, 62668800, 80, 597},
    {9, 5, 1440, 1152, 47001600, 60, 448},
    {8, 5, 720, 576, 10368000, 15, 112},
    {7, 4, 352, 288, 3041280, 4, 29},
};

// Rows: profile High (1), Main (4), Simple (5); columns as the level table.
bool combination_accepted(int profile, int level) {
    static constexpr bool high[4] = {true, true, true, false};
    static constexpr bool main_profile[4] = {true, true, true, true};
    static constexpr bool simple[4] = {false, false, true, false};
    int column = (level - 4) / 2;
    switch (profile) {
        case 1: return high[column];
        case 4: return main_profile[column];
        case 5: return simple[column];
        default: return false;
    }
}

}  // namespace

void check_parameter_ranges() {
    const encoder_config& cfg = enc.config;
    fail_if(outside(cfg.horizontal_size, 1, 16383), "horizontal_size must be between 1 and 16383");
    fail_if(cfg.mpeg1 && cfg.horizontal_size > 4095, "horizontal_size must be less than 4096 (MPEG-1)");
    fail_if((cfg.horizontal_size & 4095) == 0, "horizontal_size must not be a multiple of 4096");
    fail_if(cfg.chroma_format != CHROMA444 && cfg.horizontal_size % 2 != 0,
            "horizontal_size must be a even (4:2:0 / 4:2:2)");
    fail_if(outside(cfg.vertical_size, 1, 16383), "vertical_size must be between 1 and 16383");
    fail_if(cfg.mpeg1 && cfg.vertical_size > 4095, "vertical size must be less than 4096 (MPEG-1)");
    // Slice start codes address 175 macroblock rows at most without the
    // vertical position extension, which an MPEG-1 stream cannot carry.
    fail_if(cfg.mpeg1 && cfg.vertical_size > 2800, "vertical_size must be at most 2800 (MPEG-1)");
    fail_if((cfg.vertical_size & 4095) == 0, "vertical_size must not be a multiple of 4096");
    fail_if(cfg.chroma_format == CHROMA420 && cfg.vertical_size % 2 != 0, "vertical_size must be a even (4:2:0)");
    fail_if(cfg.field_pictures && cfg.vertical_size % 2 != 0, "vertical_size must be a even (field pictures)");
    fail_if(cfg.field_pictures && cfg.chroma_format == CHROMA420 && cfg.vertical_size % 4 != 0,
            "vertical_size must be a multiple of 4 (4:2:0 field pictures)");
    fail_if(cfg.mpeg1 && outside(cfg.aspect_ratio_information, 1, 14),
            "pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    fail_if(!cfg.mpeg1 && outside(cfg.aspect_ratio_information, 1, 4), "aspect_ratio_information must be 1, 2, 3 or 4");
    fail_if(outside(cfg.frame_rate_code, 1, 8), "frame_rate code must be between 1 and 8");
    fail_if(!(cfg.bit_rate > 0.0), "bit_rate must be positive");
    fail_if(cfg.bit_rate > 429496729200.0, "bit_rate must be less than 429 Gbit/s");
    fail_if(cfg.mpeg1 && cfg.bit_rate > 104857200.0, "bit_rate must be less than 104 Mbit/s (MPEG-1)");
    fail_if(outside(cfg.vbv_buffer_size, 1, 262143), "vbv_buffer_size must be in range 1..(2^18-1)");
    fail_if(cfg.mpeg1 && cfg.vbv_buffer_size >= 1024, "vbv_buffer_size must be less than 1024 (MPEG-1)");
    fail_if(outside(cfg.chroma_format, 1, 3), "chroma_format must be in range 1...3");
    fail_if(outside(cfg.video_format, 0, 4), "video_format must be in range 0...4");
    fail_if(bad_colour_code(cfg.color_primaries), "color_primaries must be in range 1...2 or 4...7");
    fail_if(bad_colour_code(cfg.transfer_characteristics), "transfer_characteristics must be in range 1...2 or 4...7");
    fail_if(bad_colour_code(cfg.matrix_coefficients), "matrix_coefficients must be in range 1...2 or 4...7");
    fail_if(outside(cfg.display_horizontal_size, 0, 16383), "display_horizontal_size must be in range 0...16383");
    fail_if(outside(cfg.display_vertical_size, 0, 16383), "display_vertical_size must be in range 0...16383");
    fail_if(outside(cfg.intra_dc_precision, 0, 3), "intra_dc_precision must be in range 0...3");

    for (int k = 0; k < cfg.M; ++k) {
        const motion_entry& m = cfg.motion_data[k];
        check_f_code_pair(m.forw_hor_f_code, m.forw_vert_f_code);
        check_mpeg1_f_code_pair(m.forw_hor_f_code, m.forw_vert_f_code);
        check_search_pair(m.forw_hor_search, m.forw_vert_search);
        if (k >= 1) {
            check_f_code_pair(m.back_hor_f_code, m.back_vert_f_code);
            check_mpeg1_f_code_pair(m.back_hor_f_code, m.back_vert_f_code);
            check_search_pair(m.back_hor_search, m.back_vert_search);
        }
    }
}

const level_limits& limits_of_level(int level) { return level_limit_table[(level - 4) / 2]; }

void check_encoder_limits() {
    const encoder_config& cfg = enc.config;
    // Any other value would leave the frame buffers unread.
    fail_if(outside(cfg.input_format, 0, 2), "input_format must be in range 0...2");
    check_name_pattern(cfg.source_name_pattern);
    check_name_pattern(cfg.recon_name_pattern);
    fail_if(cfg.r < 0, "r must not be negative");
    fail_if(cfg.Xi < 0, "Xi must not be negative");
    fail_if(cfg.Xp < 0, "Xp must not be negative");
    fail_if(cfg.Xb < 0, "Xb must not be negative");
    fail_if(cfg.d0i < 0, "d0i must not be negative");
    fail_if(cfg.d0p < 0, "d0p must not be negative");
    fail_if(cfg.d0b < 0, "d0b must not be negative");
    fail_if(!std::isfinite(cfg.avg_act) || cfg.avg_act < 0.0, "avg_act must be finite and not negative");
    fail_if(cfg.time_code_h < 0 || cfg.time_code_m < 0 || cfg.time_code_s < 0 || cfg.time_code_f < 0,
            "time code fields must not be negative");
    // The number of the last picture file must be an int.
    fail_if(cfg.frame_count > 0 && int64_t{cfg.first_frame_number} + cfg.frame_count - 1 > INT_MAX,
            "first_frame_number plus frame_count must be at most 2^31");
    // 2785..2800 lines give 176 interlaced macroblock rows, one more than
    // slice start codes address; above 2800 the stream carries the
    // vertical position extension. MPEG-1 is made progressive later.
    fail_if(!cfg.mpeg1 && !cfg.progressive_sequence && cfg.vertical_size >= 2785 && cfg.vertical_size <= 2800,
            "vertical_size 2785 to 2800 cannot be coded as an interlaced sequence");
}

void check_profile_and_level() {
    const encoder_config& cfg = enc.config;
    fail_if(outside(cfg.profile, 0, 15), "profile must be between 0 and 15");
    fail_if(outside(cfg.level, 0, 15), "level must be between 0 and 15");
    if (cfg.profile >= 8) {
        std::fprintf(stderr, "Warning: profile uses a reserved value, conformance checks skipped\n");
        return;
    }
    fail_if(outside(cfg.profile, 1, 5), "undefined Profile");
    fail_if(cfg.profile == 3 || cfg.profile == 2, "This encoder currently generates no scalable bitstreams");
    fail_if(cfg.level < 4 || cfg.level > 10 || cfg.level % 2 != 0, "undefined Level");
    fail_if(!combination_accepted(cfg.profile, cfg.level), "undefined profile@level combination");
    fail_if(cfg.profile == 5 && cfg.M != 1, "Simple Profile does not allow B pictures");
    fail_if(cfg.profile != 1 && cfg.chroma_format != CHROMA420, "chroma format must be 4:2:0 in specified Profile");
    fail_if(cfg.profile == 1 && cfg.chroma_format == CHROMA444, "chroma format must be 4:2:0 or 4:2:2 in High Profile");
    if (cfg.profile >= 4) {
        fail_if(cfg.frame_rate_code <= 2 && cfg.repeat_first_field, "repeat_first_first must be zero");
        fail_if(cfg.frame_rate_code <= 6 && cfg.progressive_sequence && cfg.repeat_first_field,
                "repeat_first_first must be zero");
    }
    fail_if(cfg.profile != 1 && cfg.intra_dc_precision == 3, "11 bit DC precision only allowed in High Profile");
    fail_if(cfg.frame_rate_code > 5 && cfg.level >= 8, "Picture rate greater than permitted in specified Level");

    const level_limits& limits = level_limit_table[(cfg.level - 4) / 2];
    for (int k = 0; k < cfg.M; ++k) {
        const motion_entry& m = cfg.motion_data[k];
        fail_if(m.forw_hor_f_code > limits.hor_f_code,
                "forward horizontal f_code greater than permitted in specified Level");
        fail_if(m.forw_vert_f_code > limits.vert_f_code,
                "forward vertical f_code greater than permitted in specified Level");
        if (k >= 1) {
            fail_if(m.back_hor_f_code > limits.hor_f_code,
                    "backward horizontal f_code greater than permitted in specified Level");
            fail_if(m.back_vert_f_code > limits.vert_f_code,
                    "backward vertical f_code greater than permitted in specified Level");
        }
    }
    fail_if(cfg.horizontal_size > limits.horizontal_size,
            "Horizontal size is greater than permitted in specified Level");
    fail_if(cfg.vertical_size > limits.vertical_size, "Vertical size is greater than permitted in specified Level");
    fail_if(static_cast<double>(cfg.horizontal_size) * cfg.vertical_size * cfg.frame_rate > limits.sample_rate,
            "Sample rate is greater than permitted in specified Level");
    fail_if(cfg.bit_rate > limits.bit_rate * 1000000.0, "Bit rate is greater than permitted in specified Level");
    fail_if(cfg.vbv_buffer_size > limits.vbv_buffer_size, "vbv_buffer_size exceeds High Level limit");
}
