// Motion estimation: fills the macroblock records of one picture.
#pragma once

#include <cstdint>

#include "driver/macroblock_info.h"

void motion_estimation(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* records, int second_field, int i_first_field);

void frame_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, int i, int j, int forw_hor_search,
                       int forw_vert_search, int back_hor_search, int back_vert_search, macroblock_info* record);

void field_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec, int i, int j,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* record, int second_field, int i_first_field);
