// Block addressing, the frame/field DCT decision and the two transform stages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "driver/encoder_state.h"
#include "picture_setup.h"
#include "transform/dct.h"
#include "transform/transform_stage.h"

namespace {

void setup_picture(int w, int h, int chroma_format, int field_pictures, int picture_structure) {
    morvane_test::start_encoder({w, h, chroma_format, field_pictures ? 0 : 1, field_pictures});
    enc.picture.picture_structure = picture_structure;
    enc.picture.pict_type = 1;
}

int plane_size(int c) {
    return c == 0 ? enc.config.width * enc.config.height : enc.config.chrom_width * enc.config.chrom_height;
}

void fill(frame_planes f, const std::function<int(int c, int i)>& value) {
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < plane_size(c); ++i) f[c][i] = static_cast<uint8_t>(value(c, i));
}

class transform_stage : public testing::Test {
protected:
    void TearDown() override { reset_encoder_state(); }
};

TEST_F(transform_stage, blocks_are_located_per_chroma_format_dct_type_and_field) {
    // Macroblock at (16, 16) of a 32-sample-wide picture (chrominance 16 wide
    // for 4:2:0 and 4:2:2, 32 for 4:4:4); field pictures have 64 frame lines.
    struct location_case {
        int chroma_format, field_pictures, picture_structure, n, dct_type;
        block_location expected;
    } cases[] = {
        {2, 0, 3, 0, 0, {0, 16 * 32 + 16, 32}},
        {2, 0, 3, 3, 0, {0, 24 * 32 + 24, 32}},
        {2, 0, 3, 1, 1, {0, 16 * 32 + 24, 64}},  // top-field lines
        {2, 0, 3, 3, 1, {0, 17 * 32 + 24, 64}},  // bottom-field lines
        {2, 0, 3, 6, 0, {1, 24 * 16 + 8, 16}},   // Cb lower
        {2, 0, 3, 6, 1, {1, 17 * 16 + 8, 32}},   // Cb bottom-field lines
        {2, 0, 3, 7, 1, {2, 17 * 16 + 8, 32}},   // Cr bottom-field lines
        {2, 0, 3, 5, 1, {2, 16 * 16 + 8, 32}},   // Cr top-field lines
        {1, 0, 3, 4, 0, {1, 8 * 16 + 8, 16}},
        {1, 0, 3, 5, 1, {2, 8 * 16 + 8, 16}},    // 4:2:0 chrominance ignores field DCT
        {3, 0, 3, 8, 0, {1, 16 * 32 + 24, 32}},  // Cb upper-right
        {3, 0, 3, 10, 0, {1, 24 * 32 + 24, 32}}, // Cb lower-right
        {3, 0, 3, 11, 1, {2, 17 * 32 + 24, 64}}, // Cr lower-right, bottom-field lines
        {3, 0, 3, 6, 1, {1, 17 * 32 + 16, 64}},  // Cb lower-left, bottom-field lines
        // Field pictures: rows of the field, stride two frame lines; dct_type is not consulted.
        {1, 1, 1, 2, 0, {0, 24 * 64 + 16, 64}},
        {1, 1, 2, 2, 0, {0, 24 * 64 + 16 + 32, 64}},
        {1, 1, 2, 3, 1, {0, 24 * 64 + 24 + 32, 64}},
        {1, 1, 1, 5, 0, {2, 8 * 32 + 8, 32}},
        {1, 1, 2, 5, 0, {2, 8 * 32 + 8 + 16, 32}},
        {2, 1, 2, 6, 1, {1, 24 * 32 + 8 + 16, 32}},
        {3, 1, 2, 9, 0, {2, 16 * 64 + 24 + 32, 64}},
    };
    for (const location_case& c : cases) {
        setup_picture(32, c.field_pictures ? 64 : 32, c.chroma_format, c.field_pictures, c.picture_structure);
        block_location b = locate_block(16, 16, c.n, c.dct_type);
        EXPECT_EQ(b.component, c.expected.component) << "format " << c.chroma_format << " n " << c.n;
        EXPECT_EQ(b.offset, c.expected.offset) << "format " << c.chroma_format << " structure "
                                               << c.picture_structure << " n " << c.n << " dct " << c.dct_type;
        EXPECT_EQ(b.stride, c.expected.stride) << "format " << c.chroma_format << " n " << c.n;
    }
}

TEST_F(transform_stage, difference_and_clipped_sum) {
    setup_picture(16, 16, 1, 0, 3);
    uint8_t pred[2 * 8 * 8], cur[2 * 8 * 8];
    for (int i = 0; i < 128; ++i) {
        pred[i] = static_cast<uint8_t>(i % 2 ? 250 : 5);
        cur[i] = static_cast<uint8_t>(i % 2 ? 0 : 255);
    }
    int16_t block[64];
    subtract_prediction(pred, cur, 16, block);  // every other line
    EXPECT_EQ(block[0], 250);
    EXPECT_EQ(block[1], -250);
    EXPECT_EQ(block[63], -250);

    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i % 2 ? 10 : -10);
    uint8_t rec[2 * 8 * 8] = {};
    add_prediction(pred, rec, 16, block);
    EXPECT_EQ(rec[0], 0);     // 5 - 10 clipped
    EXPECT_EQ(rec[1], 255);   // 250 + 10 clipped
    EXPECT_EQ(rec[16], 0);
    EXPECT_EQ(rec[8], 0);     // odd lines untouched
}

TEST_F(transform_stage, dct_type_follows_field_correlation) {
    // One macroblock; the residual of each frame line is given by a rule.
    struct decision_case {
        int frame_pred_frame_dct, picture_structure;
        std::function<int(int row, int col)> residual;
        int dct_type;
    } cases[] = {
        {0, 3, [](int row, int col) { return (row / 2) * 3 + col; }, 0},               // equal fields
        {0, 3, [](int row, int col) { return row % 2 ? 7 : col; }, 1},                  // constant bottom field
        {0, 3, [](int, int) { return 4; }, 1},                                          // constant everywhere
        {0, 3, [](int row, int col) { return row % 2 ? -col : col; }, 1},               // opposite fields
        {0, 3, [](int row, int col) { return (row / 2) * 3 + col + (row % 2); }, 0},     // shifted copy
        {1, 3, [](int row, int col) { return row % 2 ? 7 : col; }, 0},                  // frame DCT forced
    };
    for (const decision_case& c : cases) {
        setup_picture(16, 16, 1, 0, c.picture_structure);
        enc.picture.frame_pred_frame_dct = c.frame_pred_frame_dct;
        fill(enc.buffers.pred_frame, [](int, int) { return 100; });
        fill(enc.buffers.new_org_frame, [&](int comp, int i) { return comp ? 100 : 100 + c.residual(i / 16, i % 16); });
        enc.buffers.mb_info[0].dct_type = 5;
        choose_dct_type(enc.buffers.pred_frame[0], enc.buffers.new_org_frame[0], enc.buffers.mb_info);
        EXPECT_EQ(enc.buffers.mb_info[0].dct_type, c.dct_type) << &c - cases;
    }
    // Field pictures always use frame DCT.
    setup_picture(16, 64, 1, 1, 2);
    fill(enc.buffers.pred_frame, [](int, int) { return 100; });
    fill(enc.buffers.new_org_frame, [](int, int i) { return (i / 16) % 2 ? 107 : 100 + i % 16; });
    for (int k = 0; k < 2; ++k) enc.buffers.mb_info[k].dct_type = 5;
    choose_dct_type(enc.buffers.pred_frame[0], enc.buffers.new_org_frame[0], enc.buffers.mb_info);
    EXPECT_EQ(enc.buffers.mb_info[0].dct_type, 0);
    EXPECT_EQ(enc.buffers.mb_info[1].dct_type, 0);
}

// A source that differs from its prediction by a constant per plane comes
// back exactly through both stages: each block's DC is 8 times the difference.
TEST_F(transform_stage, forward_and_inverse_stages_reconstruct_flat_differences) {
    struct stage_case {
        int chroma_format, field_pictures, picture_structure, dct_type;
    } cases[] = {{1, 0, 3, 0}, {1, 0, 3, 1}, {2, 0, 3, 1}, {3, 0, 3, 1}, {3, 0, 3, 0},
                 {1, 1, 1, 0}, {2, 1, 2, 0}, {3, 1, 2, 0}};
    for (const stage_case& c : cases) {
        setup_picture(32, 32, c.chroma_format, c.field_pictures, c.picture_structure);
        int mb_count = enc.config.mb_width * enc.config.mb_height2;
        for (int k = 0; k < mb_count; ++k) enc.buffers.mb_info[k].dct_type = c.dct_type;
        fill(enc.buffers.pred_frame, [](int comp, int i) { return 60 + 40 * comp + i % 7; });
        fill(enc.buffers.new_org_frame, [](int comp, int i) { return 60 + 40 * comp + i % 7 + 3 - 2 * comp; });
        fill(enc.buffers.new_ref_frame, [](int, int) { return 0; });
        int64_t counter_before = enc.run.dc_change_counter;
        testing::internal::CaptureStdout();
        forward_transform_stage(enc.buffers.pred_frame, enc.buffers.new_org_frame, enc.buffers.mb_info,
                                enc.buffers.blocks);
        std::fflush(stdout);
        std::string lines = testing::internal::GetCapturedStdout();
        int block_total = mb_count * enc.config.block_count;
        EXPECT_EQ(enc.run.dc_change_counter - counter_before, block_total);
        EXPECT_EQ(static_cast<int>(std::count(lines.begin(), lines.end(), '\n')), 2 * block_total);
        for (int b = 0; b < block_total; ++b) {
            int n = b % enc.config.block_count;
            int comp = n < 4 ? 0 : (n % 2 ? 2 : 1);
            ASSERT_EQ(enc.buffers.blocks[64 * b], 8 * (3 - 2 * comp) - 200) << "block " << b;
        }
        inverse_transform_stage(enc.buffers.pred_frame, enc.buffers.new_ref_frame, enc.buffers.mb_info,
                                enc.buffers.blocks);
        // The picture being coded is the whole frame, or one field of it.
        for (int comp = 0; comp < 3; ++comp) {
            int w = comp ? enc.config.chrom_width : enc.config.width;
            for (int i = 0; i < plane_size(comp); ++i) {
                int row = i / w;
                bool in_picture = !c.field_pictures || row % 2 == (c.picture_structure == 2 ? 1 : 0);
                ASSERT_EQ(enc.buffers.new_ref_frame[comp][i], in_picture ? enc.buffers.new_org_frame[comp][i] : 0)
                    << "format " << c.chroma_format << " structure " << c.picture_structure << " comp " << comp
                    << " at " << i;
            }
        }
    }
}

TEST_F(transform_stage, zero_coefficient_blocks_reconstruct_as_prediction_plus_25) {
    setup_picture(16, 16, 2, 0, 3);
    enc.buffers.mb_info[0].dct_type = 1;
    fill(enc.buffers.pred_frame, [](int, int i) { return 200 + i % 50; });
    for (int i = 0; i < 64 * enc.config.block_count; ++i) enc.buffers.blocks[i] = 0;
    inverse_transform_stage(enc.buffers.pred_frame, enc.buffers.new_ref_frame, enc.buffers.mb_info, enc.buffers.blocks);
    for (int comp = 0; comp < 3; ++comp)
        for (int i = 0; i < plane_size(comp); ++i)
            ASSERT_EQ(enc.buffers.new_ref_frame[comp][i], std::min(255, enc.buffers.pred_frame[comp][i] + 25))
                << comp << " " << i;
}

}  // namespace
