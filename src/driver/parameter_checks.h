// Range and profile/level checks of the configuration.
#pragma once

void check_parameter_ranges();
void check_profile_and_level();

// What a level admits: f_codes, picture size, luminance samples per second,
// bit rate in Mbit/s and VBV buffer size in units of 16384 bits.
struct level_limits {
    int hor_f_code, vert_f_code, horizontal_size, vertical_size;
    int sample_rate, bit_rate, vbv_buffer_size;
};
// For level 4 (High), 6 (High 1440), 8 (Main) and 10 (Low).
const level_limits& limits_of_level(int level);

// Values the range tests let through but the encoder cannot handle:
// input_format, name patterns, rate-control start values, time-code
// fields, picture file numbers past the int range and the interlaced
// picture heights without slice addresses.
void check_encoder_limits();
