#include "bitstream/bit_writer.h"

#include <cstdio>

#include "driver/encoder_state.h"

void init_bit_writer() {
    enc.run.bits.bits_free = 8;
    enc.run.bits.byte_count = 0;
}

void write_bits(int value, int n) {
    unsigned mask = n > 0 ? 1u << (n - 1) : 0u;
    for (int i = 0; i < n; ++i) {
        enc.run.bits.out_byte = static_cast<uint8_t>(enc.run.bits.out_byte << 1);
        if (static_cast<unsigned>(value) & mask) enc.run.bits.out_byte |= 1;
        mask >>= 1;
        if (--enc.run.bits.bits_free == 0) {
            std::putc(enc.run.bits.out_byte, enc.files.output_file);
            enc.run.bits.bits_free = 8;
            ++enc.run.bits.byte_count;
        }
    }
}

void align_to_byte() {
    if (enc.run.bits.bits_free != 8) write_bits(0, enc.run.bits.bits_free);
}

int64_t bitcount() { return 8 * enc.run.bits.byte_count + 8 - enc.run.bits.bits_free; }
