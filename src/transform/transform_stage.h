// Block addressing, forward and inverse transform stages, dct_type choice.
#pragma once

#include <cstdint>

#include "driver/frame_planes.h"
#include "driver/macroblock_info.h"

// Where block n of the macroblock at luminance position (x, y) of the
// current picture lives: plane, offset of its first sample, row stride.
struct block_location {
    int component;
    int offset;
    int stride;
};
block_location locate_block(int x, int y, int n, int dct_type);

void subtract_prediction(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block);
void add_prediction(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block);

void choose_dct_type(const uint8_t* pred, const uint8_t* cur, macroblock_info* records);
void forward_transform_stage(frame_planes pred, frame_planes cur, macroblock_info* records, int16_t* blocks);
void inverse_transform_stage(frame_planes pred, frame_planes rec, macroblock_info* records, int16_t* blocks);

// The same for macroblock row `row` alone (records and blocks of the whole
// picture). The forward transform puts the trace lines of the row at text,
// its first block's counter first_counter, and returns their end.
void choose_dct_type_row(const uint8_t* pred, const uint8_t* cur, macroblock_info* records, int row);
char* forward_transform_row(frame_planes pred, frame_planes cur, const macroblock_info* records, int16_t* blocks,
                            int row, int64_t first_counter, char* text);
// Dequantisation, inverse transform and addition of the prediction.
void reconstruct_row(frame_planes pred, frame_planes rec, const macroblock_info* records, int16_t* blocks, int row);
