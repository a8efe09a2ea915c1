// Picture data: slices and macroblocks of one picture.
#pragma once

#include <cstdint>

#include "bitstream/vlc.h"

extern const vlc_entry address_increment_table[34];        // increment 1..33
extern const vlc_entry (&macroblock_type_table)[3][32];    // [pict_type - 1][flags]; length 0: no code
extern const vlc_entry coded_block_pattern_table[64];

void write_picture(const uint8_t* frame);
// Vectors of direction s (0 forward, 1 backward) of one macroblock; updates PMV.
void write_motion_vectors(const int mv[2][2][2], int PMV[2][2][2], const int motion_vertical_field_select[2][2],
                          const int dmvector[2], int s, int motion_type, int hor_f_code, int vert_f_code);
void write_address_increment(int increment);
void write_macroblock_type(int pict_type, int mb_type);
void write_coded_block_pattern(int pattern);
// The 5-bit code the stream carries for quantiser value q.
int quantiser_scale_code(int q);
