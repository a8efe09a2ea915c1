// Slices and macroblocks of whole small pictures, bit by bit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bit_capture.h"
#include "bitstream/picture_data.h"
#include "picture_fixture.h"

using namespace bitstream_test;

namespace {

// Coefficients that quantise to the wanted level with the fixture's flat
// matrices and quantiser 2: 8 per intra DC step, 2 per step elsewhere.
constexpr int16_t intra_dc(int level) { return static_cast<int16_t>(8 * level); }
constexpr int16_t ac(int level) { return static_cast<int16_t>(2 * level); }

// Intra block with DC differential code dc and nothing else, table zero.
std::string dc_only(const std::string& dc) { return dc + "10"; }
const std::string luma_dc0 = "100", chroma_dc0 = "00";

std::string bits_of_address_increment(int n) {
    bit_capture capture;
    write_address_increment(n);
    return capture.bits();
}

TEST(address_increment, long_increments_use_escapes) {
    const struct {
        int n;
        std::string bits;
    } cases[] = {
        {1, "1"},
        {14, "00000111"},
        {33, "00000011000"},
        {34, "00000001000" "1"},
        {47, "00000001000" "00000111"},
        {66, "00000001000" "00000011000"},
        {67, "00000001000" "00000001000" "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(bits_of_address_increment(c.n), c.bits) << c.n;
}

TEST(quantiser_code, follows_the_scale_type) {
    reset_encoder_state();
    const struct {
        int q_scale_type, q, code;
    } cases[] = {{0, 2, 1}, {0, 24, 12}, {0, 62, 31}, {1, 1, 1}, {1, 24, 16}, {1, 56, 24}, {1, 112, 31}};
    for (const auto& c : cases) {
        enc.picture.q_scale_type = c.q_scale_type;
        EXPECT_EQ(quantiser_scale_code(c.q), c.code) << c.q_scale_type << "/" << c.q;
    }
}

class picture_data : public ::testing::Test {
protected:
    picture_fixture pic;
};

TEST_F(picture_data, i_picture_sends_dc_differentials_within_the_slice) {
    pic.setup(2, 1, 1);
    for (int b = 0; b < 4; ++b) pic.block(0, b)[0] = intra_dc(1);
    pic.block(0, 0)[1] = ac(3);
    pic.block(0, 4)[0] = intra_dc(-2);
    pic.block(1, 0)[0] = intra_dc(1);
    pic.block(1, 4)[0] = intra_dc(-2);
    pic.block(1, 5)[0] = intra_dc(3);

    std::string expected = slice_header(0, 1) +
                           // macroblock 0
                           "1" "1" + ("00" "1" "00101" "0" "10") + dc_only(luma_dc0) + dc_only(luma_dc0) +
                           dc_only(luma_dc0) + dc_only("10" "01") + dc_only(chroma_dc0) +
                           // macroblock 1: luminance 1, 0, 0, 0 against the predictor 1
                           "1" "1" + dc_only(luma_dc0) + dc_only("00" "0") + dc_only(luma_dc0) + dc_only(luma_dc0) +
                           dc_only(chroma_dc0) + dc_only("10" "11");
    EXPECT_EQ(pic.run(), expected);
    for (const macroblock_info& mb : pic.records) {
        EXPECT_EQ(mb.mb_type, MB_INTRA);
        EXPECT_EQ(mb.cbp, 63);
        EXPECT_EQ(mb.skipped, 0);
        EXPECT_EQ(mb.mquant, 2);
    }
}

TEST_F(picture_data, a_new_quantiser_is_sent_with_the_intra_quant_type) {
    pic.setup(2, 1, 1);
    // Reaction parameter 31 and flat activity: the first slice starts at 2,
    // the header bits already push every macroblock to 62.
    enc.run.rc.r = 31;
    enc.run.rc.avg_act = 1.0;
    std::string empty_mb = dc_only(luma_dc0) + dc_only(luma_dc0) + dc_only(luma_dc0) + dc_only(luma_dc0) +
                           dc_only(chroma_dc0) + dc_only(chroma_dc0);
    std::string expected = slice_header(0, 1) + "1" "01" "11111" + empty_mb + "1" "1" + empty_mb;
    EXPECT_EQ(pic.run(), expected);
    EXPECT_EQ(pic.records[0].mb_type, MB_INTRA | MB_QUANT);
    EXPECT_EQ(pic.records[1].mb_type, MB_INTRA);
    EXPECT_EQ(pic.records[1].mquant, 62);
}

TEST_F(picture_data, slice_header_carries_the_code_of_the_first_quantiser) {
    const struct {
        int q_scale_type;
        std::string code;
    } cases[] = {{0, "01100"}, {1, "10000"}};  // quantiser 24 either way
    for (const auto& c : cases) {
        pic.setup(1, 1, 1);
        enc.picture.q_scale_type = c.q_scale_type;
        enc.run.rc.r = 31;
        enc.run.rc.d0i = 12;
        std::string bits = pic.run();
        ASSERT_GE(bits.size(), 37u);
        EXPECT_EQ(bits.substr(32, 5), c.code) << "q_scale_type " << c.q_scale_type;
    }
}

TEST_F(picture_data, p_skip_inside_a_row_resets_the_predictors) {
    const struct {
        int middle_type;
        std::string bits;
        int middle_skipped;
    } cases[] = {
        // skipped: the last macroblock's vector is predicted from 0 again
        {0, "1" "001" "0010" "1" + std::string("011" "001" "0010" "1"), 1},
        // forward with no coefficients is sent, and predicts the next one
        {MB_FORWARD, "1" "001" "0010" "1" + std::string("1" "001" "1" "1") + "1" "001" "1" "1", 0},
    };
    for (const auto& c : cases) {
        pic.setup(3, 1, 2);
        for (macroblock_info& mb : pic.records) mb.mv[0][0][0] = 2;
        pic.records[0].mb_type = MB_FORWARD;
        pic.records[1].mb_type = c.middle_type;
        pic.records[2].mb_type = MB_FORWARD;
        EXPECT_EQ(pic.run(), slice_header(0, 1) + c.bits) << "middle type " << c.middle_type;
        EXPECT_EQ(pic.records[1].skipped, c.middle_skipped);
        EXPECT_EQ(pic.records[1].mb_type, c.middle_type);
        EXPECT_EQ(pic.records[1].cbp, 0);
    }
}

TEST_F(picture_data, p_macroblock_without_motion_at_a_slice_end_is_sent_as_forward_zero_vector) {
    pic.setup(1, 2, 2);
    std::string row0 = slice_header(0, 1) + "1" "001" "1" "1";
    row0.resize((row0.size() + 7) / 8 * 8, '0');  // the next start code is byte aligned
    std::string expected = row0 + slice_header(1, 1) + "1" "001" "1" "1";
    EXPECT_EQ(pic.run(), expected);
    for (const macroblock_info& mb : pic.records) {
        EXPECT_EQ(mb.skipped, 0);
        EXPECT_EQ(mb.mb_type, MB_FORWARD);
    }
}

TEST_F(picture_data, p_macroblock_with_coefficients_and_no_motion_sends_pattern_only) {
    pic.setup(1, 1, 2);
    pic.block(0, 5)[0] = ac(-1);
    // pattern type 01, coded_block_pattern 1 (block 5), first coefficient -1
    EXPECT_EQ(pic.run(), slice_header(0, 1) + "1" "01" "01011" "11" "10");
    EXPECT_EQ(pic.records[0].mb_type, MB_PATTERN);
    EXPECT_EQ(pic.records[0].cbp, 1);
}

TEST_F(picture_data, intra_dc_predictors_restart_after_skipped_and_non_intra_macroblocks) {
    const int middle_types[] = {0 /* skipped */, MB_FORWARD /* sent with a coded block */};
    for (int middle : middle_types) {
        pic.setup(3, 1, 2);
        for (int k : {0, 2}) {
            pic.records[k].mb_type = MB_INTRA;
            for (int b = 0; b < 4; ++b) pic.block(k, b)[0] = intra_dc(1);
        }
        pic.records[1].mb_type = middle;
        if (middle) pic.block(1, 0)[0] = ac(1);
        std::string bits = pic.run();
        // Macroblock 2 starts again from 0: P intra type, then 1, 0, 0, 0.
        std::string last = "00011" + dc_only("00" "1") + dc_only(luma_dc0) + dc_only(luma_dc0) + dc_only(luma_dc0) +
                           dc_only(chroma_dc0) + dc_only(chroma_dc0);
        ASSERT_GE(bits.size(), last.size());
        EXPECT_EQ(bits.substr(bits.size() - last.size()), last) << "middle type " << middle;
        EXPECT_EQ(pic.records[1].skipped, middle ? 0 : 1);
    }
}

TEST_F(picture_data, picture_one_macroblock_wide_never_skips) {
    pic.setup(1, 3, 3);
    for (macroblock_info& mb : pic.records) mb.mv[0][0][0] = 0;
    pic.run();
    for (const macroblock_info& mb : pic.records) EXPECT_EQ(mb.skipped, 0);
}

TEST_F(picture_data, forty_six_skipped_macroblocks_give_an_escaped_increment) {
    pic.setup(48, 1, 2);
    std::string expected = slice_header(0, 1) + "1" "001" "1" "1" + "00000001000" "00000111" "001" "1" "1";
    EXPECT_EQ(pic.run(), expected);
    int skipped = 0;
    for (const macroblock_info& mb : pic.records) skipped += mb.skipped;
    EXPECT_EQ(skipped, 46);
}

struct b_skip_case {
    const char* name;
    int first_type, first_fwd[2], first_bwd[2];
    int middle_type, middle_fwd[2], middle_bwd[2];
    bool middle_coefficient;
    int skipped;
};

TEST_F(picture_data, b_frame_macroblock_skips_only_when_it_repeats_directions_and_predictors) {
    const b_skip_case cases[] = {
        {"same forward vector", MB_FORWARD, {4, 2}, {0, 0}, MB_FORWARD, {4, 2}, {9, 9}, false, 1},
        {"other forward vector", MB_FORWARD, {4, 2}, {0, 0}, MB_FORWARD, {4, 3}, {0, 0}, false, 0},
        {"same interpolated vectors", 12, {4, 2}, {-2, 0}, 12, {4, 2}, {-2, 0}, false, 1},
        {"other backward vector", 12, {4, 2}, {-2, 0}, 12, {4, 2}, {-2, 2}, false, 0},
        {"previous intra", MB_INTRA, {0, 0}, {0, 0}, MB_FORWARD, {0, 0}, {0, 0}, false, 0},
        {"previous backward only", MB_BACKWARD, {0, 0}, {0, 0}, MB_FORWARD, {0, 0}, {0, 0}, false, 0},
        {"coefficients", MB_FORWARD, {4, 2}, {0, 0}, MB_FORWARD, {4, 2}, {0, 0}, true, 0},
    };
    for (const b_skip_case& c : cases) {
        pic.setup(3, 1, 3);
        macroblock_info& first = pic.records[0];
        macroblock_info& middle = pic.records[1];
        first.mb_type = c.first_type;
        middle.mb_type = c.middle_type;
        for (int t = 0; t < 2; ++t) {
            first.mv[0][0][t] = c.first_fwd[t];
            first.mv[0][1][t] = c.first_bwd[t];
            middle.mv[0][0][t] = c.middle_fwd[t];
            middle.mv[0][1][t] = c.middle_bwd[t];
        }
        if (c.middle_coefficient) pic.block(1, 2)[0] = ac(1);
        pic.run();
        EXPECT_EQ(middle.skipped, c.skipped) << c.name;
    }
}

TEST_F(picture_data, b_frame_skip_bits) {
    pic.setup(3, 1, 3);
    for (macroblock_info& mb : pic.records) {
        mb.mv[0][0][0] = 4;
        mb.mv[0][0][1] = 2;
    }
    // forward type 0010, vector (4, 2); then skipped; then increment 2 and (0, 0) differences
    std::string expected = slice_header(0, 1) + "1" "0010" "000011" "0" "001" "0" + "011" "0010" "1" "1";
    EXPECT_EQ(pic.run(), expected);
    EXPECT_EQ(pic.records[1].skipped, 1);
    EXPECT_EQ(pic.records[1].mb_type, MB_FORWARD);
}

TEST_F(picture_data, b_frame_skip_needs_frame_prediction) {
    pic.setup(3, 1, 3);
    enc.picture.frame_pred_frame_dct = 0;
    pic.records[1].motion_type = MC_FIELD;
    pic.run();
    EXPECT_EQ(pic.records[1].skipped, 0);
}

TEST_F(picture_data, b_field_skip_needs_the_same_parity_reference) {
    const struct {
        int structure, select, skipped;
    } cases[] = {{2, 1, 1}, {2, 0, 0}, {1, 0, 1}, {1, 1, 0}};
    for (const auto& c : cases) {
        pic.setup(3, 2, 3, 1, c.structure);
        pic.records[1].motion_vertical_field_select[0][0] = c.select;
        pic.run();
        EXPECT_EQ(pic.records[1].skipped, c.skipped) << "structure " << c.structure << " select " << c.select;
    }
}

TEST_F(picture_data, extended_chroma_formats_send_the_extra_pattern_bits) {
    const struct {
        int chroma_format, block;
        std::string pattern;
        int cbp;
    } cases[] = {
        {2, 7, "000000001" "01", 1},
        {2, 6, "000000001" "10", 2},
        {2, 0, "1010" "00", 128},
        {3, 11, "000000001" "000001", 1},
        {3, 4, "01001" "000000", 128},
    };
    for (const auto& c : cases) {
        pic.setup(1, 1, 2, c.chroma_format);
        pic.records[0].mb_type = MB_FORWARD;
        pic.block(0, c.block)[0] = ac(1);
        EXPECT_EQ(pic.run(), slice_header(0, 1) + "1" "1" "1" "1" + c.pattern + "10" "10")
            << "chroma_format " << c.chroma_format << " block " << c.block;
        EXPECT_EQ(pic.records[0].cbp, c.cbp);
        EXPECT_EQ(pic.records[0].mb_type, MB_FORWARD | MB_PATTERN);
    }
}

TEST_F(picture_data, frame_picture_field_prediction_sends_motion_and_dct_type) {
    pic.setup(1, 1, 2);
    enc.picture.frame_pred_frame_dct = 0;
    macroblock_info& mb = pic.records[0];
    mb.mb_type = MB_FORWARD;
    mb.motion_type = MC_FIELD;
    mb.dct_type = 1;
    mb.motion_vertical_field_select[0][0] = 1;
    mb.motion_vertical_field_select[1][0] = 0;
    mb.mv[0][0][0] = 3;
    mb.mv[0][0][1] = 6;   // field vector 3
    mb.mv[1][0][0] = -1;
    mb.mv[1][0][1] = -3;  // halved towards minus infinity: -2
    pic.block(0, 0)[0] = ac(1);
    std::string vectors = "1" "0001" "0" "0001" "0" + std::string("0" "01" "1" "001" "1");
    EXPECT_EQ(pic.run(), slice_header(0, 1) + "1" "1" "01" "1" + vectors + "1010" "10" "10");
}

TEST(slice_start, rows_beyond_2800_lines_carry_a_vertical_position_extension) {
    const struct {
        int mpeg1, rows, row;
        int code;
        std::string after;  // the bits that follow the start code
    } cases[] = {
        {0, 176, 0, 0x01, "000" "00001"},
        {0, 176, 127, 0x80, "000"},
        {0, 176, 128, 0x01, "001"},
        {0, 176, 130, 0x03, "001" "00001"},
        {0, 175, 130, 0x83, "00001" "0"},
        {1, 176, 130, 0x83, "00001" "0"},
    };
    for (const auto& c : cases) {
        picture_fixture pic;
        pic.setup(1, c.rows, 1);
        enc.config.mpeg1 = c.mpeg1;
        pic.run();
        std::vector<std::size_t> starts;
        const std::string& bits = pic.all_bits;
        for (std::size_t p = 0; p + 32 <= bits.size(); p += 8)
            if (bits.compare(p, 24, start_code_prefix) == 0) {
                unsigned value = std::stoul(bits.substr(p + 24, 8), nullptr, 2);
                if (value >= 0x01 && value <= 0xB0) starts.push_back(p);
            }
        ASSERT_EQ(starts.size(), static_cast<std::size_t>(c.rows));
        std::size_t p = starts[c.row];
        EXPECT_EQ(bits.substr(p + 24, 8), bin(c.code, 8)) << "row " << c.row;
        EXPECT_EQ(bits.substr(p + 32, c.after.size()), c.after) << "row " << c.row << " of " << c.rows;
    }
}

struct mv_writer_case {
    const char* name;
    int structure, motion_type;
    int mv[2][2];  // [r][t] of direction 0
    int pmv[2][2];
    int sel[2];
    int dmv[2];
    std::string bits;
    int pmv_after[2][2];
};

TEST(motion_vectors, each_prediction_type_sends_its_fields_and_updates_predictors) {
    const mv_writer_case cases[] = {
        {"frame, frame", 3, MC_FRAME, {{3, -2}, {7, 7}}, {{1, 1}, {5, 5}}, {0, 0}, {0, 0},
         "001" "0" "0001" "1", {{3, -2}, {3, -2}}},
        {"frame, field", 3, MC_FIELD, {{2, 4}, {-2, -5}}, {{0, 2}, {0, -2}}, {1, 0}, {0, 0},
         "1" "001" "0" "01" "0" "0" "001" "1" "001" "1", {{2, 4}, {-2, -5}}},
        {"frame, dual prime", 3, MC_DMV, {{1, 6}, {0, 0}}, {{0, 2}, {4, 4}}, {0, 0}, {1, -1},
         "01" "0" "10" "001" "0" "11", {{1, 6}, {1, 6}}},
        {"field, field", 1, MC_FIELD, {{-3, 5}, {0, 0}}, {{0, 1}, {9, 9}}, {1, 1}, {0, 0},
         "1" "0001" "1" "000011" "0", {{-3, 5}, {-3, 5}}},
        {"field, 16x8", 2, MC_16X8, {{1, 2}, {3, -4}}, {{0, 0}, {3, 0}}, {0, 1}, {0, 0},
         "0" "01" "0" "001" "0" "1" "1" "000011" "1", {{1, 2}, {3, -4}}},
        {"field, dual prime", 1, MC_DMV, {{0, 3}, {0, 0}}, {{0, 0}, {0, 0}}, {0, 0}, {0, 1},
         "1" "0" "0001" "0" "10", {{0, 3}, {0, 3}}},
    };
    for (const mv_writer_case& c : cases) {
        reset_encoder_state();
        enc.picture.picture_structure = c.structure;
        int mv[2][2][2] = {}, PMV[2][2][2] = {}, sel[2][2] = {};
        for (int r = 0; r < 2; ++r) {
            sel[r][0] = c.sel[r];
            for (int t = 0; t < 2; ++t) {
                mv[r][0][t] = c.mv[r][t];
                PMV[r][0][t] = c.pmv[r][t];
                PMV[r][1][t] = 50 + t;  // the other direction stays untouched
            }
        }
        bit_capture capture;
        write_motion_vectors(mv, PMV, sel, c.dmv, 0, c.motion_type, 1, 1);
        EXPECT_EQ(capture.bits(), c.bits) << c.name;
        for (int r = 0; r < 2; ++r)
            for (int t = 0; t < 2; ++t) {
                EXPECT_EQ(PMV[r][0][t], c.pmv_after[r][t]) << c.name << " r" << r << " t" << t;
                EXPECT_EQ(PMV[r][1][t], 50 + t) << c.name;
            }
    }
}

}  // namespace
