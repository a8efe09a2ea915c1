// Forward and inverse DCT: trace lines, counter, rounding, DC change, clamp.
#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "driver/encoder_state.h"
#include "transform/dct.h"
#include "transform/dct_kernels.h"

namespace {

class dct : public testing::Test {
protected:
    void SetUp() override {
        prepare_forward_dct();
        prepare_inverse_dct();
        reset_encoder_state();
    }
};

std::string run_forward(int16_t* block) {
    testing::internal::CaptureStdout();
    forward_dct(block);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string printf_lines(int before, int after, int64_t counter) {
    char text[256];
    int n = std::snprintf(text, sizeof text, " DC value=%d!!!!!!!!!!!!!!counter=%" PRId64 "!!!!!!!!!!!!!!!!!!!!!!!\n",
                          before, counter);
    std::snprintf(text + n, sizeof text - n,
                  " after DC value=%d!!!!!!!!!!!!!!counter=%" PRId64 "!!!!!!!!!!!!!!!!!!!!!!!\n", after, counter);
    return text;
}

TEST_F(dct, block_equal_to_prediction_prints_zero_then_lowered_dc_and_counts) {
    int16_t block[64] = {};
    EXPECT_EQ(run_forward(block),
              " DC value=0!!!!!!!!!!!!!!counter=0!!!!!!!!!!!!!!!!!!!!!!!\n"
              " after DC value=-200!!!!!!!!!!!!!!counter=0!!!!!!!!!!!!!!!!!!!!!!!\n");
    EXPECT_EQ(block[0], -200);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(enc.run.dc_change_counter, 1);

    int16_t next[64];
    for (int16_t& v : next) v = -3;
    EXPECT_EQ(run_forward(next),
              " DC value=-24!!!!!!!!!!!!!!counter=1!!!!!!!!!!!!!!!!!!!!!!!\n"
              " after DC value=-224!!!!!!!!!!!!!!counter=1!!!!!!!!!!!!!!!!!!!!!!!\n");
    EXPECT_EQ(enc.run.dc_change_counter, 2);
}

TEST_F(dct, counter_keeps_counting_past_32_bits) {
    enc.run.dc_change_counter = INT64_C(2147483647);
    int16_t block[64] = {};
    EXPECT_NE(run_forward(block).find("counter=2147483647!"), std::string::npos);
    EXPECT_NE(run_forward(block).find("counter=2147483648!"), std::string::npos);
    EXPECT_EQ(enc.run.dc_change_counter, INT64_C(2147483649));
}

TEST_F(dct, trace_text_matches_printf_formats) {
    // Every digit count, both signs, the ends of int and of the counter.
    const int values[] = {0,      1,     -1,      9,         10,         -200,       2040,    -2240,   32767,
                          -32768, 99999, -100000, 999999999, 1000000000, -999999999, INT_MAX, INT_MIN, INT_MIN + 1};
    const int64_t counters[] = {0,
                                7,
                                10,
                                99999,
                                INT64_C(2147483647),
                                INT64_C(2147483648),
                                INT64_C(4294967296),
                                INT64_C(1) << 40,
                                INT64_C(999999999999999999),
                                INT64_C(1000000000000000000),
                                INT64_MAX,
                                INT64_MIN};
    char text[256];
    for (int before : values)
        for (int after : values)
            for (int64_t counter : counters) {
                int n = format_dc_lines(text, before, after, counter);
                EXPECT_EQ(std::string(text, n), printf_lines(before, after, counter));
            }
}

TEST_F(dct, flat_difference_gives_dc_of_eight_times_value_only) {
    for (int v : {-255, -7, 1, 100, 255}) {
        int16_t block[64];
        for (int16_t& s : block) s = static_cast<int16_t>(v);
        run_forward(block);
        EXPECT_EQ(block[0] + 200, 8 * v);
        for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0) << "v=" << v << " i=" << i;
    }
}

// One sample of 20 gives a DC sum of 2.5 (one bit above): the 0.499999 offset
// keeps it at 2 where rounding half up would give 3.
TEST_F(dct, dc_rounding_uses_offset_below_one_half) {
    struct rounding_case {
        int sample;
        int dc;
    } cases[] = {{20, 2}, {-20, -3}, {21, 3}, {-21, -3}, {19, 2}, {4, 0}, {-4, -1}};
    for (const rounding_case& c : cases) {
        int16_t block[64] = {};
        block[0] = static_cast<int16_t>(c.sample);
        run_forward(block);
        EXPECT_EQ(block[0] + 200, c.dc) << "sample " << c.sample;
    }
}

TEST_F(dct, inverse_of_zero_block_is_25_everywhere) {
    int16_t block[64] = {};
    inverse_dct(block);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 25) << i;
}

TEST_F(dct, forward_then_inverse_returns_differences) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> sample(-255, 255);
    int worst = 0;
    for (int trial = 0; trial < 200; ++trial) {
        int16_t input[64], block[64];
        for (int i = 0; i < 64; ++i) block[i] = input[i] = static_cast<int16_t>(sample(rng));
        run_forward(block);
        inverse_dct(block);
        for (int i = 0; i < 64; ++i) worst = std::max(worst, std::abs(block[i] - input[i]));
    }
    EXPECT_LE(worst, 1);

    // A smooth block comes back exactly.
    int16_t ramp[64], block[64];
    for (int i = 0; i < 64; ++i) block[i] = ramp[i] = static_cast<int16_t>(i / 8 * 4 - 10);
    run_forward(block);
    inverse_dct(block);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], ramp[i]) << i;
}

TEST_F(dct, inverse_output_saturates_outside_clip_table) {
    struct clip_case {
        int dc, below_dc, expected;
    } cases[] = {
        {4095, 0, 255},    // row early exit 32760, column early exit index 512
        {4095, 1, 255},    // general column path above the table
        {-4096, -1, -256}, // general column path below the table
        {-4096, 0, -256},  // column early exit index -512, the table's lowest entry
    };
    dct_kernels reference{};
    init_dct_kernels(reference, 0);
    for (const clip_case& c : cases) {
        int16_t block[64] = {};
        block[0] = static_cast<int16_t>(c.dc);
        block[8] = static_cast<int16_t>(c.below_dc);
        reference.inverse(block);
        for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], c.expected) << "dc " << c.dc << " i " << i;
    }
    EXPECT_EQ(idct_clip(-100000), -256);
    EXPECT_EQ(idct_clip(-300), -256);
    EXPECT_EQ(idct_clip(-256), -256);
    EXPECT_EQ(idct_clip(17), 17);
    EXPECT_EQ(idct_clip(300), 255);
    EXPECT_EQ(idct_clip(100000), 255);
}

}  // namespace
