// Range and profile/level checks of the configuration.
#pragma once

void check_parameter_ranges();
void check_profile_and_level();

// Values the range tests let through but the encoder cannot handle:
// input_format, name patterns, rate-control start values, time-code
// fields and the interlaced picture heights without slice addresses.
void check_encoder_limits();
