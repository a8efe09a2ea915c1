// Picture data: slices and macroblocks of one picture.
#pragma once

#include <cstdint>

void write_picture(const uint8_t* frame);
void write_address_increment(int increment);
void write_macroblock_type(int pict_type, int mb_type);
void write_coded_block_pattern(int pattern);
