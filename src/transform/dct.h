// Forward DCT (double precision, with the DC change and its trace lines)
// and integer inverse DCT.
#pragma once

#include <cstdint>

#ifndef MORVANE_DC_CHANGE
#define MORVANE_DC_CHANGE 200
#endif

extern int64_t dc_change_counter;

void prepare_forward_dct();
void prepare_inverse_dct();
void forward_dct(int16_t* block);
void inverse_dct(int16_t* block);
