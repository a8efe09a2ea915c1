// Quantisers and inverse quantisers on hand-worked blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/encoder_state.h"
#include "transform/quantise.h"

namespace {

struct flat_matrix {
    uint8_t w[64];
    explicit flat_matrix(int value) { std::memset(w, value, sizeof w); }
};

class quantise : public testing::Test {
protected:
    void SetUp() override { reset_encoder_state(); }
    void TearDown() override { reset_encoder_state(); }
};

TEST_F(quantise, intra_dc_rounds_halves_away_from_zero) {
    struct dc_case {
        int precision, dc, level;
    } cases[] = {{0, 4, 1},  {0, -4, -1}, {0, 3, 0},   {0, 12, 2}, {0, -12, -2}, {0, -11, -1},
                 {1, 6, 2},  {1, -6, -2}, {1, 5, 1},   {2, 3, 2},  {3, 5, 5},    {3, -7, -7},
                 {0, 2040, 255}, {0, -1840, -230}};
    flat_matrix m(16);
    for (const dc_case& c : cases) {
        int16_t block[64] = {};
        block[0] = static_cast<int16_t>(c.dc);
        EXPECT_EQ(quantise_intra(block, block, c.precision, m.w, 2), 1);
        EXPECT_EQ(block[0], c.level) << "precision " << c.precision << " dc " << c.dc;
    }
}

TEST_F(quantise, weight_16_mquant_2_worked_examples) {
    struct ac_case {
        int coefficient, intra_level, non_intra_level;
    } cases[] = {{20, 10, 10}, {-20, -10, -10}, {3, 2, 1}, {1, 1, 0}, {-3, -2, -1}, {0, 0, 0}};
    flat_matrix m(16);
    for (const ac_case& c : cases) {
        int16_t intra[64] = {}, inter[64] = {};
        intra[5] = inter[5] = static_cast<int16_t>(c.coefficient);
        quantise_intra(intra, intra, 0, m.w, 2);
        quantise_non_intra(inter, inter, m.w, 2);
        EXPECT_EQ(intra[5], c.intra_level) << c.coefficient;
        EXPECT_EQ(inter[5], c.non_intra_level) << c.coefficient;
    }
}

TEST_F(quantise, weights_and_scales_enter_both_divisions) {
    // Weight 32, mquant 8: intra ((32*100 + 16) / 32 + 6) / 16 = 106 / 16 = 6;
    // non-intra 100 / 16 = 6; for 90: intra (90 + 6) / 16 = 6, non-intra 5.
    flat_matrix m(32);
    int16_t intra[64] = {}, inter[64] = {};
    intra[9] = inter[9] = 100;
    intra[10] = inter[10] = 90;
    quantise_intra(intra, intra, 0, m.w, 8);
    quantise_non_intra(inter, inter, m.w, 8);
    EXPECT_EQ(intra[9], 6);
    EXPECT_EQ(intra[10], 6);
    EXPECT_EQ(inter[9], 6);
    EXPECT_EQ(inter[10], 5);
}

TEST_F(quantise, levels_are_limited_per_stream_type) {
    // With weight 16 and mquant 2 a coefficient of 2x gives level x.
    struct limit_case {
        int mpeg1, coefficient, level;
    } cases[] = {{0, 600, 300},     {1, 600, 255},   {0, -600, -300},  {1, -600, -255},
                 {0, 4094, 2047},   {0, 4098, 2047}, {0, -32000, -2047}, {1, 510, 255}};
    flat_matrix m(16);
    for (const limit_case& c : cases) {
        enc.config.mpeg1 = c.mpeg1;
        int16_t intra[64] = {}, inter[64] = {};
        intra[63] = inter[63] = static_cast<int16_t>(c.coefficient);
        quantise_intra(intra, intra, 0, m.w, 2);
        quantise_non_intra(inter, inter, m.w, 2);
        EXPECT_EQ(intra[63], c.level) << "mpeg1 " << c.mpeg1 << " coefficient " << c.coefficient;
        EXPECT_EQ(inter[63], c.level) << "mpeg1 " << c.mpeg1 << " coefficient " << c.coefficient;
    }
}

TEST_F(quantise, non_intra_reports_whether_any_level_is_left) {
    flat_matrix m(16);
    int16_t zero[64] = {};
    EXPECT_EQ(quantise_non_intra(zero, zero, m.w, 2), 0);

    int16_t small[64];
    for (int16_t& v : small) v = 1;  // every level rounds down to 0
    EXPECT_EQ(quantise_non_intra(small, small, m.w, 2), 0);

    int16_t one[64] = {};
    one[0] = -4;  // the DC coefficient is quantised like the others
    EXPECT_EQ(quantise_non_intra(one, one, m.w, 2), 1);
    EXPECT_EQ(one[0], -2);
}

TEST_F(quantise, non_intra_inverse_of_zero_block_sets_last_coefficient_in_mpeg2_only) {
    flat_matrix m(16);
    int16_t block[64] = {};
    dequantise_non_intra(block, block, m.w, 2);
    for (int i = 0; i < 63; ++i) EXPECT_EQ(block[i], 0);
    EXPECT_EQ(block[63], 1);

    enc.config.mpeg1 = 1;
    int16_t mpeg1_block[64] = {};
    dequantise_non_intra(mpeg1_block, mpeg1_block, m.w, 2);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(mpeg1_block[i], 0);
}

TEST_F(quantise, mismatch_control_toggles_last_coefficient_when_sum_is_even) {
    struct mismatch_case {
        int level1, level63, expect63;
    } cases[] = {
        {0, 0, 1},    // DC 8 alone: sum even, 0 becomes 1
        {1, -1, -2},  // 8 + 1 - 1 even: -1 becomes -2 (two's complement bit)
        {0, -1, -1},  // 8 - 1 odd: unchanged
        {2, 0, 1},    // 8 + 2 even
        {1, 0, 0},    // 8 + 1 odd
        {0, 5, 5},    // 8 + 5 odd
        {0, 6, 7},    // 8 + 6 even: 6 becomes 7
    };
    flat_matrix m(8);  // with mquant 2 a level reconstructs as itself
    for (const mismatch_case& c : cases) {
        int16_t block[64] = {};
        block[0] = 1;
        block[1] = static_cast<int16_t>(c.level1);
        block[63] = static_cast<int16_t>(c.level63);
        dequantise_intra(block, block, 0, m.w, 2);
        EXPECT_EQ(block[0], 8);
        EXPECT_EQ(block[1], c.level1);
        EXPECT_EQ(block[63], c.expect63) << c.level1 << " " << c.level63;
    }
}

TEST_F(quantise, inverse_scales_truncate_and_clamp) {
    flat_matrix m(16);
    struct scale_case {
        int level, mquant, intra, non_intra;
    } cases[] = {
        {3, 2, 6, 7},            // 3*16*2/16; (7*16*2)/32
        {-3, 2, -6, -7},         // truncation toward zero on both sides
        {5, 5, 25, 27},          // 400/16; (11*80)/32 = 27.5 -> 27
        {-5, 5, -25, -27},
        {2047, 62, 2047, 2047},  // clamped above
        {-2047, 62, -2048, -2048},  // clamped below
    };
    for (const scale_case& c : cases) {
        int16_t intra[64] = {}, inter[64] = {};
        intra[0] = 0;
        intra[20] = inter[20] = static_cast<int16_t>(c.level);
        dequantise_intra(intra, intra, 0, m.w, c.mquant);
        dequantise_non_intra(inter, inter, m.w, c.mquant);
        EXPECT_EQ(intra[20], c.intra) << c.level << " " << c.mquant;
        EXPECT_EQ(inter[20], c.non_intra) << c.level << " " << c.mquant;
    }
}

TEST_F(quantise, intra_dc_reconstruction_follows_precision) {
    flat_matrix m(16);
    for (int precision = 0; precision < 4; ++precision) {
        int16_t block[64] = {};
        block[0] = -30;
        dequantise_intra(block, block, precision, m.w, 2);
        EXPECT_EQ(block[0], -30 * (8 >> precision));
    }
}

TEST_F(quantise, mpeg1_reconstruction_is_odd_without_mismatch_control) {
    enc.config.mpeg1 = 1;
    flat_matrix m(16);
    struct odd_case {
        int level, mquant, intra, non_intra;
    } cases[] = {
        {1, 2, 1, 3},        // 2 -> 1; (3*32)/32 = 3 stays
        {-1, 2, -1, -3},
        {1, 4, 3, 5},        // 4 -> 3; (3*64)/32 = 6 -> 5
        {-1, 4, -3, -5},
        {3, 2, 5, 7},        // 6 -> 5; 7 stays
        {2047, 62, 2047, 2047},
        {-2047, 62, -2048, -2048},  // made odd, then clamped
    };
    for (const odd_case& c : cases) {
        int16_t intra[64] = {}, inter[64] = {};
        intra[0] = 1;
        intra[7] = inter[7] = static_cast<int16_t>(c.level);
        dequantise_intra(intra, intra, 0, m.w, c.mquant);
        dequantise_non_intra(inter, inter, m.w, c.mquant);
        EXPECT_EQ(intra[0], 8);
        EXPECT_EQ(intra[7], c.intra) << c.level << " " << c.mquant;
        EXPECT_EQ(inter[7], c.non_intra) << c.level << " " << c.mquant;
        EXPECT_EQ(intra[63], 0);
        EXPECT_EQ(inter[63], 0);
    }
}

TEST_F(quantise, non_linear_tables_agree) {
    EXPECT_EQ(non_linear_scale_table[0], 0);
    EXPECT_EQ(non_linear_scale_table[9], 10);
    EXPECT_EQ(non_linear_scale_table[17], 28);
    EXPECT_EQ(non_linear_scale_table[31], 112);
    // Every scale maps back to its own code; the map never decreases.
    for (int code = 1; code < 32; ++code) EXPECT_EQ(non_linear_code_map[non_linear_scale_table[code]], code);
    for (int v = 1; v < 113; ++v) EXPECT_GE(non_linear_code_map[v], non_linear_code_map[v - 1]) << v;
    struct map_case {
        int value, code;
    } cases[] = {{9, 8}, {26, 16}, {27, 17}, {33, 18}, {60, 24}, {61, 25}, {90, 28}, {91, 29}, {100, 29},
                 {101, 30}, {107, 30}, {108, 31}, {112, 31}};
    for (const map_case& c : cases) EXPECT_EQ(non_linear_code_map[c.value], c.code) << c.value;
}

}  // namespace
