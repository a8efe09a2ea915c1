// Block addressing, forward and inverse transform stages, dct_type choice.
#pragma once

#include <cstdint>

#include "driver/encoder_state.h"

void choose_dct_type(const uint8_t* pred, const uint8_t* cur, macroblock_info* records);
void forward_transform_stage(frame_planes pred, frame_planes cur, macroblock_info* records, int16_t* blocks);
void inverse_transform_stage(frame_planes pred, frame_planes rec, macroblock_info* records, int16_t* blocks);
