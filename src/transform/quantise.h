// Quantisation and inverse quantisation of 8x8 blocks.
#pragma once

#include <cstdint>

extern const uint8_t non_linear_scale_table[32];
extern const uint8_t non_linear_code_map[113];

// src and dst may be the same block.
int quantise_intra(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant);
int quantise_non_intra(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant);
void dequantise_intra(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant);
void dequantise_non_intra(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant);
void dequantise_intra_mpeg1(const int16_t* src, int16_t* dst, int dc_precision, const uint8_t* matrix, int mquant);
void dequantise_non_intra_mpeg1(const int16_t* src, int16_t* dst, const uint8_t* matrix, int mquant);
