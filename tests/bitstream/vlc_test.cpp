// Block and motion-vector codes, bit by bit.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bit_capture.h"
#include "bitstream/picture_data.h"
#include "bitstream/vlc.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"

using bitstream_test::bin;
using bitstream_test::bit_capture;

namespace {

std::string bits_of(const std::function<void()>& write) {
    bit_capture capture;
    write();
    return capture.bits();
}

class vlc_codes : public ::testing::Test {
protected:
    void SetUp() override {
        reset_encoder_state();
    }
};

struct dc_case {
    int value;
    bool chroma;
    std::string bits;
};

TEST_F(vlc_codes, dc_differentials_send_size_code_then_value_bits) {
    const dc_case cases[] = {
        {0, false, "100"},
        {-1, false, "00" "0"},
        {1, false, "00" "1"},
        {2, false, "01" "10"},
        {-3, false, "01" "00"},
        {-255, false, "1111110" "00000000"},
        {255, false, "1111110" "11111111"},
        {1024, false, "111111111" "10000000000"},
        {-2047, false, "111111111" "00000000000"},
        {0, true, "00"},
        {1, true, "01" "1"},
        {-2, true, "10" "01"},
        {7, true, "110" "111"},
        {2047, true, "1111111111" "11111111111"},
    };
    for (const dc_case& c : cases) {
        std::string got = bits_of([&] {
            if (c.chroma)
                write_dc_chrominance(c.value);
            else
                write_dc_luminance(c.value);
        });
        EXPECT_EQ(got, c.bits) << "value " << c.value << (c.chroma ? " chroma" : " luma");
    }
}

TEST_F(vlc_codes, dc_differentials_beyond_the_limit_are_fatal) {
    struct limit_case {
        int mpeg1, value;
        bool chroma;
        bool fatal;
    };
    const limit_case cases[] = {
        {0, 2048, true, true},  {0, -2048, false, true}, {0, 2047, true, false},
        {1, 256, false, true},  {1, -256, true, true},   {1, 255, false, false},
    };
    for (const limit_case& c : cases) {
        enc.config.mpeg1 = c.mpeg1;
        bit_capture capture;
        try {
            if (c.chroma)
                write_dc_chrominance(c.value);
            else
                write_dc_luminance(c.value);
            EXPECT_FALSE(c.fatal) << c.value;
        } catch (const fatal_exit& e) {
            EXPECT_TRUE(c.fatal) << c.value;
            EXPECT_EQ(e.message, "DC value out of range (" + std::to_string(c.value) + ")\n");
            EXPECT_EQ(capture.bits(), "") << "nothing of the value is written";
        }
    }
}

struct ac_case {
    int mpeg1, run, level, format;
    std::string bits;
};

TEST_F(vlc_codes, coefficients_use_the_tables_or_the_escape_forms) {
    const std::string esc = "000001";
    const ac_case cases[] = {
        {0, 0, 1, 0, "11" "0"},
        {0, 0, -1, 0, "11" "1"},
        {0, 0, 1, 1, "10" "0"},
        {0, 1, 1, 1, "010" "0"},
        {0, 2, -1, 1, "00101" "1"},
        {0, 0, 40, 0, "000000000010000" "0"},
        {0, 1, 18, 1, "0000000000010000" "0"},
        {0, 31, 1, 0, "0000000000011011" "0"},
        {0, 5, 2, 1, "000000100" "0"},
        // not in either table: escape, 6-bit run, level
        {0, 2, 6, 0, esc + "000010" + "000000000110"},
        {0, 2, 6, 1, esc + "000010" + "000000000110"},
        {1, 2, 6, 0, esc + "000010" + "00000110"},
        {0, 31, 2, 0, esc + "011111" + "000000000010"},
        {0, 32, 1, 0, esc + "100000" + "000000000001"},
        {0, 63, -1, 1, esc + "111111" + "111111111111"},
        {0, 0, 41, 0, esc + "000000" + "000000101001"},
        {0, 0, -200, 0, esc + "000000" + "111100111000"},
        {0, 0, 2047, 0, esc + "000000" + "011111111111"},
        {0, 0, -2047, 0, esc + "000000" + "100000000001"},
        {1, 0, 127, 0, esc + "000000" + "01111111"},
        {1, 0, -127, 0, esc + "000000" + "10000001"},
        {1, 0, 128, 0, esc + "000000" + "00000000" "10000000"},
        {1, 0, -128, 0, esc + "000000" + "10000000" "10000000"},
        {1, 3, 200, 0, esc + "000011" + "00000000" "11001000"},
        {1, 3, -200, 0, esc + "000011" + "10000000" "00111000"},
        {1, 0, 255, 0, esc + "000000" + "00000000" "11111111"},
        {1, 0, -255, 0, esc + "000000" + "10000000" "00000001"},
    };
    for (const ac_case& c : cases) {
        enc.config.mpeg1 = c.mpeg1;
        EXPECT_EQ(bits_of([&] { write_ac(c.run, c.level, c.format); }), c.bits)
            << "mpeg1 " << c.mpeg1 << " run " << c.run << " level " << c.level << " table " << c.format;
    }
}

TEST_F(vlc_codes, coefficients_outside_the_range_are_fatal) {
    struct bad_case {
        int mpeg1, run, level;
    };
    const bad_case cases[] = {{0, 0, 0},     {0, 64, 1},  {0, -1, 1},  {0, 0, 2048},
                              {0, 0, -2048}, {1, 0, 256}, {1, 5, -256}};
    for (const bad_case& c : cases) {
        enc.config.mpeg1 = c.mpeg1;
        bit_capture capture;
        try {
            write_ac(c.run, c.level, 0);
            ADD_FAILURE() << "run " << c.run << " level " << c.level << " accepted";
        } catch (const fatal_exit& e) {
            EXPECT_EQ(e.message, "AC value out of range (run=" + std::to_string(c.run) +
                                     ", signed_level=" + std::to_string(c.level) + ")\n");
        }
    }
}

TEST_F(vlc_codes, first_coefficient_of_a_non_intra_block_has_its_short_code) {
    const ac_case cases[] = {
        {0, 0, 1, 0, "10"},
        {0, 0, -1, 0, "11"},
        {0, 0, 2, 0, "0100" "0"},
        {0, 1, 1, 0, "011" "0"},
        {0, 1, -1, 0, "011" "1"},
    };
    for (const ac_case& c : cases)
        EXPECT_EQ(bits_of([&] { write_first_ac(c.run, c.level); }), c.bits) << c.run << "/" << c.level;
}

TEST_F(vlc_codes, non_intra_block_with_one_level_at_the_start_takes_four_bits) {
    int16_t block[64] = {};
    block[0] = 1;
    for (int format = 0; format < 2; ++format) {
        enc.picture.intra_vlc_format = format;
        EXPECT_EQ(bits_of([&] { write_non_intra_block(block); }), "1" "0" "10");
    }
}

TEST_F(vlc_codes, non_intra_block_walks_the_scan_with_runs) {
    int16_t block[64] = {};
    block[0] = -2;   // scan position 0
    block[16] = 1;   // zigzag 3: run 2
    block[63] = -1;  // last position: run 59, escaped
    std::string expected = "0100" "1"  "0101" "0"  "000001" "111011" "111111111111"  "10";
    EXPECT_EQ(bits_of([&] { write_non_intra_block(block); }), expected);
}

TEST_F(vlc_codes, intra_end_of_block_follows_intra_vlc_format) {
    int16_t block[64] = {};
    block[1] = 1;  // scan position 1 in zigzag order, run 0
    enc.picture.intra_vlc_format = 1;
    EXPECT_EQ(bits_of([&] { write_intra_block(block, 0); }), "100" "10" "0" "0110");
    enc.picture.intra_vlc_format = 0;
    EXPECT_EQ(bits_of([&] { write_intra_block(block, 0); }), "100" "11" "0" "10");
}

TEST_F(vlc_codes, alternate_scan_changes_the_runs) {
    int16_t block[64] = {};
    block[8] = 1;  // zigzag position 2, alternate position 1
    enc.picture.alternate_scan = 0;
    EXPECT_EQ(bits_of([&] { write_non_intra_block(block); }), "0101" "0" "10");
    enc.picture.alternate_scan = 1;
    EXPECT_EQ(bits_of([&] { write_non_intra_block(block); }), "011" "0" "10");
}

TEST_F(vlc_codes, dc_predictors_are_kept_per_colour_component) {
    int16_t y[64] = {}, cb[64] = {}, cr[64] = {};
    y[0] = 5;
    cb[0] = -3;
    cr[0] = 2;
    std::string got = bits_of([&] {
        write_intra_block(y, 0);   // 5 - 0
        write_intra_block(y, 0);   // 5 - 5
        write_intra_block(cb, 1);  // -3 - 0
        write_intra_block(cr, 2);  // 2 - 0
        write_intra_block(cb, 1);  // -3 - -3
    });
    EXPECT_EQ(got, "101" "101" "10"  "100" "10"  "10" "00" "10"  "10" "10" "10"  "00" "10");
    EXPECT_EQ(enc.run.dc_dct_pred[0], 5);
    EXPECT_EQ(enc.run.dc_dct_pred[1], -3);
    EXPECT_EQ(enc.run.dc_dct_pred[2], 2);
}

struct mv_case {
    int delta, f_code;
    std::string bits;
};

TEST_F(vlc_codes, motion_vector_components_code_and_residual) {
    const mv_case cases[] = {
        {0, 1, "1"},
        {1, 1, "01" "0"},
        {-1, 1, "01" "1"},
        {15, 1, "0000001101" "0"},
        {-16, 1, "0000001100" "1"},
        {16, 1, "0000001100" "1"},   // wraps to -16
        {-17, 1, "0000001101" "0"},  // wraps to 15
        {0, 2, "1"},
        {1, 2, "01" "0" "0"},
        {2, 2, "01" "0" "1"},
        {3, 2, "001" "0" "0"},
        {-4, 2, "001" "1" "1"},
        {31, 2, "0000001100" "0" "0"},
        {-32, 2, "0000001100" "1" "1"},
        {32, 2, "0000001100" "1" "1"},  // wraps to -32
        {-7, 3, "001" "1" "10"},
        {100, 4, "0000001111" "0" "011"},
    };
    for (const mv_case& c : cases) {
        testing::internal::CaptureStderr();
        std::string got = bits_of([&] { write_motion_vector_component(c.delta, c.f_code); });
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(got, c.bits) << "delta " << c.delta << " f_code " << c.f_code;
    }
}

TEST_F(vlc_codes, motion_difference_beyond_one_wrap_warns_and_sends_the_extreme_code) {
    const mv_case cases[] = {
        {50, 1, "0000001100" "0"},
        {-49, 1, "0000001100" "1"},
        {-100, 2, "0000001100" "1" "1"},
        {1000, 3, "0000001100" "0" "11"},
    };
    for (const mv_case& c : cases) {
        testing::internal::CaptureStderr();
        std::string got = bits_of([&] { write_motion_vector_component(c.delta, c.f_code); });
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid motion vector\n");
        EXPECT_EQ(got, c.bits) << "delta " << c.delta << " f_code " << c.f_code;
    }
}

TEST_F(vlc_codes, motion_codes_carry_a_sign_bit_except_zero) {
    EXPECT_EQ(bits_of([] { write_motion_code(0); }), "1");
    EXPECT_EQ(bits_of([] { write_motion_code(4); }), "000011" "0");
    EXPECT_EQ(bits_of([] { write_motion_code(-11); }), "0000010001" "1");
    EXPECT_EQ(bits_of([] { write_motion_code(16); }), "0000001100" "0");
}

TEST_F(vlc_codes, dual_prime_differentials) {
    EXPECT_EQ(bits_of([] { write_dmvector(0); }), "0");
    EXPECT_EQ(bits_of([] { write_dmvector(1); }), "10");
    EXPECT_EQ(bits_of([] { write_dmvector(-1); }), "11");
}

// A code table is only decodable when no code word is a prefix of another.
void expect_prefix_free(const std::vector<vlc_entry>& table, const char* name) {
    std::vector<std::string> words;
    for (const vlc_entry& e : table)
        if (e.length) words.push_back(bin(e.code, e.length));
    for (std::size_t a = 0; a < words.size(); ++a)
        for (std::size_t b = 0; b < words.size(); ++b)
            if (a != b) {
                EXPECT_NE(words[b].rfind(words[a], 0), 0u) << name << ": " << words[a] << " prefixes " << words[b];
            }
}

TEST(vlc_tables, every_table_is_prefix_free_with_its_fixed_codes) {
    expect_prefix_free({std::begin(dc_luminance_size_table), std::end(dc_luminance_size_table)}, "dc luminance");
    expect_prefix_free({std::begin(dc_chrominance_size_table), std::end(dc_chrominance_size_table)}, "dc chrominance");
    expect_prefix_free({std::begin(motion_code_table), std::end(motion_code_table)}, "motion code");
    expect_prefix_free({std::begin(coded_block_pattern_table), std::end(coded_block_pattern_table)}, "cbp");
    std::vector<vlc_entry> increments(address_increment_table + 1, address_increment_table + 34);
    increments.push_back({8, 11});  // escape
    expect_prefix_free(increments, "address increment");
    for (int t = 0; t < 3; ++t)
        expect_prefix_free({std::begin(macroblock_type_table[t]), std::end(macroblock_type_table[t])}, "mb type");
    const dct_coefficients_table* tables[2] = {&dct_coefficients_table_zero, &dct_coefficients_table_one};
    for (int t = 0; t < 2; ++t) {
        std::vector<vlc_entry> words;
        // Each run/level word followed by either sign bit.
        for (const auto& row : tables[t]->a)
            for (const vlc_entry& e : row)
                if (e.length) {
                    words.push_back({static_cast<uint16_t>(e.code << 1), static_cast<uint8_t>(e.length + 1)});
                    words.push_back({static_cast<uint16_t>(e.code << 1 | 1), static_cast<uint8_t>(e.length + 1)});
                }
        for (const auto& row : tables[t]->b)
            for (const vlc_entry& e : row)
                if (e.length) {
                    words.push_back({static_cast<uint16_t>(e.code << 1), static_cast<uint8_t>(e.length + 1)});
                    words.push_back({static_cast<uint16_t>(e.code << 1 | 1), static_cast<uint8_t>(e.length + 1)});
                }
        words.push_back({1, 6});                        // escape
        words.push_back(t ? vlc_entry{6, 4} : vlc_entry{2, 2});  // end of block
        expect_prefix_free(words, t ? "table one" : "table zero");
    }
}

}  // namespace
