// The only path by which bits reach the output file.
#pragma once

#include <cstdint>

void init_bit_writer();
void write_bits(int value, int n);
void align_to_byte();
int64_t bitcount();
