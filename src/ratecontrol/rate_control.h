// Rate control: GOP budget, picture targets, macroblock quantisers.
#pragma once

#include <cstdint>

#include "driver/macroblock_info.h"

void rc_init_sequence();
void rc_init_gop(int np, int nb);
// Rate control counts bits through the bit count its caller passes (the
// bit writer's count at the moment of the call).

// Also fills the activity of every record of mb_info.
// frame null: the records hold the picture's activities already.
void rc_init_picture(const uint8_t* frame, macroblock_info* mb_info, int64_t bits);
void compute_activities(const uint8_t* frame, macroblock_info* mb_info);
void compute_activities_row(const uint8_t* frame, macroblock_info* mb_info, int row);
double variance_8x8(const uint8_t* p, int stride);
int rc_first_mquant();
// Quantiser of macroblock k, whose activity is act.
int rc_mquant(int k, double act, int64_t bits);
void rc_update_picture(int64_t bits);

// Conversions of an integral double that saturate instead of overflowing
// (NaN gives 0).
int saturate_to_int(double v);
int64_t saturate_to_int64(double v);
