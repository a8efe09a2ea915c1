// Headers above the slice layer, read back field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bit_capture.h"
#include "bitstream/headers.h"
#include "driver/encoder_state.h"
#include "ratecontrol/vbv.h"

using namespace bitstream_test;

namespace {

class headers : public ::testing::Test {
protected:
    void SetUp() override {
        reset_encoder_state();
        stats = std::tmpfile();
        enc.files.statistics_file = stats;
        enc.config.frame_rate = 25.0;
        enc.config.bit_rate = 5e6;
        enc.config.vbv_buffer_size = 112;
    }
    void TearDown() override {
        enc.files.statistics_file = nullptr;
        std::fclose(stats);
    }
    FILE* stats = nullptr;
};

TEST_F(headers, sequence_header_and_extension_split_large_values) {
    enc.config.horizontal_size = 4100;
    enc.config.vertical_size = 2160;
    enc.config.aspect_ratio_information = 3;
    enc.config.frame_rate_code = 5;
    enc.config.bit_rate = 400.0 * (1 << 18) + 1;  // one unit over 18 bits, rounded up
    enc.config.vbv_buffer_size = 1100;
    enc.config.profile = 1;
    enc.config.level = 4;
    enc.config.chroma_format = 2;
    enc.config.load_non_intra_quantiser_matrix = 1;
    for (int i = 0; i < 64; ++i) enc.config.non_intra_quantiser_matrix[i] = static_cast<uint8_t>(i + 1);
    bit_capture capture;
    write_sequence_header();
    write_sequence_extension();
    bit_reader r(capture.bits());
    EXPECT_EQ(r.get(32), 0x1B3u);
    EXPECT_EQ(r.get(12), 4u);    // 4100 & 4095
    EXPECT_EQ(r.get(12), 2160u);
    EXPECT_EQ(r.get(4), 3u);
    EXPECT_EQ(r.get(4), 5u);
    EXPECT_EQ(r.get(18), 1u);    // bit_rate_400 = 2^18 + 1
    EXPECT_EQ(r.get(1), 1u);
    EXPECT_EQ(r.get(10), 76u);   // 1100 & 1023
    EXPECT_EQ(r.get(1), 0u);
    EXPECT_EQ(r.get(1), 0u);     // no intra matrix
    EXPECT_EQ(r.get(1), 1u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(r.get(8), scan_table[0][i] + 1u) << "zigzag entry " << i;
    EXPECT_EQ(r.get(32), 0x1B5u);
    EXPECT_EQ(r.get(4), 1u);
    EXPECT_EQ(r.get(8), 0x14u);
    EXPECT_EQ(r.get(1), 0u);     // progressive_sequence
    EXPECT_EQ(r.get(2), 2u);
    EXPECT_EQ(r.get(2), 1u);     // 4100 >> 12
    EXPECT_EQ(r.get(2), 0u);
    EXPECT_EQ(r.get(12), 1u);    // bit_rate_400 >> 18
    EXPECT_EQ(r.get(1), 1u);
    EXPECT_EQ(r.get(8), 1u);     // 1100 >> 10
    EXPECT_EQ(r.get(1 + 2 + 5), 0u);
    EXPECT_EQ(r.left(), 0u);
}

TEST_F(headers, bit_rate_is_rounded_up_to_400_units) {
    enc.config.bit_rate = 5e6 + 1;
    bit_capture capture;
    write_sequence_header();
    bit_reader r(capture.bits());
    r.get(32 + 12 + 12 + 4 + 4);
    EXPECT_EQ(r.get(18), 12501u);
}

TEST_F(headers, time_codes_count_whole_frames) {
    EXPECT_EQ(frame_to_time_code(0), 4096);
    EXPECT_EQ(frame_to_time_code(25 * 3600 + 25 * 61 + 3), (1 << 19) + (1 << 13) + (1 << 12) + (1 << 6) + 3);
    enc.config.frame_rate = 30000.0 / 1001.0;
    EXPECT_EQ(frame_to_time_code(30), (1 << 12) + (1 << 6));
    enc.config.frame_rate = 25.0;
    EXPECT_EQ(frame_to_time_code(25 * 3600 * 24 + 1), (1 << 12) + 1) << "hours wrap after 23";
}

TEST_F(headers, gop_header_adds_the_start_time_code) {
    enc.config.time_code_frames = 25;
    bit_capture capture;
    write_bits(1, 3);  // the start code is byte aligned
    write_gop_header(2, 1);
    bit_reader r(capture.bits());
    EXPECT_EQ(r.get(8), 0x20u);
    EXPECT_EQ(r.get(32), 0x1B8u);
    EXPECT_EQ(r.get(25), static_cast<unsigned>(frame_to_time_code(27)));
    EXPECT_EQ(r.get(1), 1u);
    EXPECT_EQ(r.get(1), 0u);
}

TEST_F(headers, picture_header_f_codes_in_both_forms) {
    const struct {
        int mpeg1, type;
        std::string tail;  // after the vbv_delay
    } cases[] = {
        {0, 1, "0"},
        {0, 2, "0" "111" "0"},
        {0, 3, "0" "111" "0" "111" "0"},
        {1, 2, "0" "011" "0"},
        {1, 3, "0" "011" "0" "010" "0"},
    };
    for (const auto& c : cases) {
        enc.run.vbv = vbv_state{};
        enc.config.mpeg1 = c.mpeg1;
        enc.picture.pict_type = c.type;
        enc.picture.temporal_reference = 5;
        enc.picture.forw_hor_f_code = 3;
        enc.picture.back_hor_f_code = 2;
        bit_capture capture;
        write_picture_header();
        bit_reader r(capture.bits());
        EXPECT_EQ(r.get(32), 0x100u);
        EXPECT_EQ(r.get(10), 5u);
        EXPECT_EQ(r.get(3), static_cast<unsigned>(c.type));
        EXPECT_EQ(r.get(16), static_cast<unsigned>(enc.run.vbv.vbv_delay));
        std::string tail = capture.bits().substr(r.position());
        EXPECT_EQ(tail, c.tail) << "mpeg1 " << c.mpeg1 << " type " << c.type;
    }
}

TEST_F(headers, picture_coding_extension_sends_top_field_first_only_for_frames) {
    for (int structure : {1, 3}) {
        enc.picture.picture_structure = structure;
        enc.config.top_field_first = 1;
        enc.picture.forw_hor_f_code = 1;
        enc.picture.forw_vert_f_code = 2;
        enc.picture.back_hor_f_code = enc.picture.back_vert_f_code = 15;
        enc.config.intra_dc_precision = 2;
        enc.picture.frame_pred_frame_dct = 1;
        enc.picture.q_scale_type = 1;
        enc.picture.intra_vlc_format = 0;
        enc.picture.alternate_scan = 1;
        enc.config.progressive_frame = 1;
        bit_capture capture;
        write_picture_coding_extension();
        std::string expected = "00000000000000000000000110110101" "1000" "0001" "0010" "1111" "1111" "10" +
                               bin(structure, 2) + (structure == 3 ? "1" : "0") + "1" "0" "1" "0" "1" "0" "1" "1" "0";
        EXPECT_EQ(capture.bits(), expected) << "structure " << structure;
    }
}

TEST_F(headers, user_data_and_end_code_are_byte_aligned) {
    bit_capture capture;
    write_bits(1, 1);
    write_user_data("a\n");
    write_sequence_end();
    EXPECT_EQ(capture.bytes(), std::string("\x80\x00\x00\x01\xB2" "a\n" "\x00\x00\x01\xB7", 11));
}

}  // namespace
