#include "bitstream/bit_writer.h"

#include <cstdio>

#include "driver/encoder_state.h"

void init_bit_writer() {
    enc.bits_free = 8;
    enc.byte_count = 0;
}

void write_bits(int value, int n) {
    unsigned mask = n > 0 ? 1u << (n - 1) : 0u;
    for (int i = 0; i < n; ++i) {
        enc.out_byte = static_cast<uint8_t>(enc.out_byte << 1);
        if (static_cast<unsigned>(value) & mask) enc.out_byte |= 1;
        mask >>= 1;
        if (--enc.bits_free == 0) {
            std::putc(enc.out_byte, enc.output_file);
            enc.bits_free = 8;
            ++enc.byte_count;
        }
    }
}

void align_to_byte() {
    if (enc.bits_free != 8) write_bits(0, enc.bits_free);
}

int64_t bitcount() { return 8 * enc.byte_count + 8 - enc.bits_free; }
