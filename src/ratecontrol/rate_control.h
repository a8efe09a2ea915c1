// Rate control: GOP budget, picture targets, macroblock quantisers.
#pragma once

#include <cstdint>

// Running values of rate control. R, T, S and d are 64-bit so that budgets
// of high bit rates and long GOPs never wrap.
struct rate_control_state {
    int64_t R = 0;   // bits remaining for the GOP
    int64_t T = 0;   // target bits of the picture
    int64_t S = 0;   // bitcount at picture start; at its end, bits used
    int64_t d = 0;   // virtual buffer fullness
    int Np = 0, Nb = 0;
    double act_sum = 0.0;
    int64_t mquant_sum = 0;
    int prev_linear_mquant = 0;
};
extern rate_control_state rc;

void rc_init_sequence();
void rc_init_gop(int np, int nb);
void rc_init_picture(const uint8_t* frame);
void compute_activities(const uint8_t* frame);
double variance_8x8(const uint8_t* p, int stride);
int rc_first_mquant();
int rc_mquant(int k);
void rc_update_picture();

// Conversions of an integral double that saturate instead of overflowing
// (NaN gives 0).
int saturate_to_int(double v);
int64_t saturate_to_int64(double v);
