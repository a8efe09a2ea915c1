// The bit writer against a one-bit-at-a-time reference: same bits, same
// count, same alignment, for random runs of writes of every width.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "bit_capture.h"
#include "bitstream/bit_writer.h"
#include "driver/encoder_state.h"

namespace {

using bitstream_test::bit_capture;

// The n low bits of value, most significant first; n of 0 writes nothing.
struct reference_writer {
    std::string bits;
    void write(int value, int n) {
        for (int i = n - 1; i >= 0; --i) bits += (static_cast<unsigned>(value) >> i) & 1u ? '1' : '0';
    }
    void align() {
        while (bits.size() % 8) bits += '0';
    }
};

TEST(BitWriter, RandomWritesMatchTheReferenceBitForBit) {
    reset_encoder_state();
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        std::mt19937 rng(seed);
        bit_capture capture;
        reference_writer ref;
        for (int k = 0; k < 4000; ++k) {
            const int pick = static_cast<int>(rng() % 40);
            if (pick == 39) {
                align_to_byte();
                ref.align();
            } else {
                // Widths 0..32; values carry bits above the width, negative ones too.
                const int n = pick % 33;
                const int value = static_cast<int>(rng());
                write_bits(value, n);
                ref.write(value, n);
            }
            ASSERT_EQ(bitcount(), static_cast<int64_t>(ref.bits.size())) << "seed " << seed << " write " << k;
        }
        EXPECT_EQ(capture.bits(), ref.bits) << "seed " << seed;
        EXPECT_EQ(enc.run.bits.byte_count, static_cast<int64_t>(ref.bits.size() / 8));
        align_to_byte();
        ref.align();
        EXPECT_EQ(capture.bytes().size() * 8, ref.bits.size());
        EXPECT_EQ(capture.bits(), ref.bits);
        EXPECT_EQ(enc.run.bits.bits_free, 8);
    }
}

// Edge widths at every starting offset within a byte.
TEST(BitWriter, EdgeWritesAtEveryBitOffset) {
    reset_encoder_state();
    const struct {
        int value, n;
    } writes[] = {{0, 0},  {-1, 0},     {-1, 1}, {0, 1},    {-1, 32},   {INT32_MIN, 32}, {INT32_MAX, 32},
                  {0, 32}, {0x1b3, 32}, {-2, 7}, {0xff, 8}, {0x100, 8}, {-1, 31},        {0x5a5a5a5a, 25}};
    for (int offset = 0; offset < 8; ++offset)
        for (const auto& w : writes) {
            bit_capture capture;
            reference_writer ref;
            write_bits(0x55, offset);
            ref.write(0x55, offset);
            write_bits(w.value, w.n);
            ref.write(w.value, w.n);
            write_bits(1, 1);
            ref.write(1, 1);
            EXPECT_EQ(capture.bits(), ref.bits) << "offset " << offset << " n " << w.n << " value " << w.value;
            EXPECT_EQ(bitcount(), static_cast<int64_t>(ref.bits.size()));
        }
}

}  // namespace
