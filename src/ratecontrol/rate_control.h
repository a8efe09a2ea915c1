// Rate control: GOP budget, picture targets, macroblock quantisers.
#pragma once

#include <cstdint>

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
