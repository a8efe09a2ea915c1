// The only path by which bits reach the output file.
#pragma once

#include <cstdint>

void init_bit_writer();
// The n low bits of value (n from 0 to 32), most significant first.
void write_bits(int value, int n);
void align_to_byte();
int64_t bitcount();
