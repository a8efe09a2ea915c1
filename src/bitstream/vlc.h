// Variable-length codes of blocks and motion vectors.
#pragma once

#include <cstdint>

struct vlc_entry {
    uint16_t code;
    uint8_t length;
};

extern int dc_dct_pred[3];

void write_intra_block(const int16_t* block, int cc);
void write_non_intra_block(const int16_t* block);
void write_dc_luminance(int value);
void write_dc_chrominance(int value);
void write_first_ac(int run, int signed_level);
void write_ac(int run, int signed_level, int vlc_format);
void write_motion_vector_component(int delta, int f_code);
void write_motion_code(int code);
void write_dmvector(int value);
