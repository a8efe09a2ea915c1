// Variable-length codes of blocks and motion vectors.
#pragma once

#include <cstdint>

struct vlc_entry {
    uint16_t code;
    uint8_t length;  // 0: no code word
};

// Code words are kept as the bit strings they are defined by.
constexpr vlc_entry vlc(const char* bits) {
    unsigned code = 0;
    unsigned length = 0;
    for (; *bits; ++bits, ++length) code = (code << 1) | (*bits == '1' ? 1u : 0u);
    return {static_cast<uint16_t>(code), static_cast<uint8_t>(length)};
}

// Run/level code words without their sign bit. Part a holds runs 0..1 with
// levels 1..40, part b runs 2..31 with levels 1..5; both indexed by level - 1.
struct dct_coefficients_table {
    vlc_entry a[2][40];
    vlc_entry b[30][5];
};

extern const vlc_entry dc_luminance_size_table[12];
extern const vlc_entry dc_chrominance_size_table[12];
extern const dct_coefficients_table dct_coefficients_table_zero;
extern const dct_coefficients_table dct_coefficients_table_one;
extern const vlc_entry motion_code_table[17];  // magnitude 0..16, sign bit follows

// Codes the DC difference against enc.run.dc_dct_pred[cc] and updates it.
void write_intra_block(const int16_t* block, int cc);
void write_non_intra_block(const int16_t* block);
void write_dc_luminance(int value);
void write_dc_chrominance(int value);
void write_dc(const vlc_entry* table, int value);
void write_first_ac(int run, int signed_level);
void write_ac(int run, int signed_level, int vlc_format);
void write_motion_vector_component(int delta, int f_code);
void write_motion_code(int code);
void write_dmvector(int value);
