#include "bitstream/bit_writer.h"

#include <cstdio>

#include "driver/encoder_state.h"

void init_bit_writer() {
    enc.run.bits.bits_free = 8;
    enc.run.bits.byte_count = 0;
}

// The waiting bits and the new ones meet in one register (at most 7 + 32
// bits), and every whole byte leaves at once.
void write_bits(int value, int n) {
    if (n <= 0) return;
    bit_writer_state& b = enc.run.bits;
    const int waiting = 8 - b.bits_free;
    // out_byte may hold bits of the byte already written above the waiting ones.
    const uint64_t old_bits = b.out_byte & ((1u << waiting) - 1u);
    const uint64_t new_bits = static_cast<uint32_t>(value) & (~uint64_t{0} >> (64 - n));
    const uint64_t reg = old_bits << n | new_bits;
    int count = waiting + n;
    while (count >= 8) {
        count -= 8;
        // Only the coding thread writes the stream: no lock per byte.
        putc_unlocked(static_cast<uint8_t>(reg >> count), enc.files.output_file);
        ++b.byte_count;
    }
    b.out_byte = static_cast<uint8_t>(reg);
    b.bits_free = 8 - count;
}

void align_to_byte() {
    if (enc.run.bits.bits_free != 8) write_bits(0, enc.run.bits.bits_free);
}

int64_t bitcount() { return 8 * enc.run.bits.byte_count + 8 - enc.run.bits.bits_free; }
