// Reading the parameter file in-process: conversions, line layout, derived
// values, and the limits that still pass.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "driver/parameter_checks.h"
#include "driver_test_helpers.h"

namespace morvane_test {
namespace {

void expect_clean(const read_outcome& r) {
    EXPECT_FALSE(r.fatal) << r.message;
    EXPECT_EQ(r.err, "");
}

struct int_case {
    const char* text;
    int expected;
};

TEST(parameter_file_conversions, integer_lines_convert_their_leading_number) {
    const int_case cases[] = {
        {"25 /* comment */", 25}, {"  -7", -7}, {"+8", 8},       {"\t 4", 4},
        {"abc 5", 0},             {"0x10", 0},  {"12abc", 12},   {"", 0},
        {"-", 0},                 {"3.9", 3},   {"-2147483648", INT_MIN}, {"2147483647", INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // One frame, so that a first number of INT_MAX still names its file.
        read_outcome r = read_in_process(param_file().set("frame_count", 1).set("first_frame_number", c.text));
        expect_clean(r);
        EXPECT_EQ(enc.config.first_frame_number, c.expected);
    }
}

TEST(parameter_file_conversions, three_value_lines_stop_at_the_first_mismatch) {
    struct tab_case {
        const char* text;
        int expected[3];
    };
    const tab_case cases[] = {
        {"1 0 1", {1, 0, 1}}, {"5 0 -3", {1, 0, 1}}, {"1,1,1", {1, 0, 0}},
        {"1 1", {1, 1, 0}},   {" 0\t1   1 /* c */", {0, 1, 1}}, {"x 1 1", {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        read_outcome r = read_in_process(param_file().set("concealment_motion_vectors_tab", c.text));
        expect_clean(r);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(enc.config.concealment_motion_vectors_tab[i], c.expected[i]) << i;
    }
}

TEST(parameter_file_conversions, time_code_converts_to_frames) {
    struct time_case {
        const char* text;
        int frame_rate_code;
        int h, m, s, f;
        int frames;
    };
    const time_case cases[] = {
        {"10:00:00:00", 3, 10, 0, 0, 0, 10 * 3600 * 25},
        {"10:00:00:00", 4, 10, 0, 0, 0, 10 * 3600 * 30},  // 30000/1001 counts as 30
        {"10:00:00:00", 1, 10, 0, 0, 0, 10 * 3600 * 24},
        {"10:00:00:00", 8, 10, 0, 0, 0, 10 * 3600 * 60},
        {"01:02:03:04", 3, 1, 2, 3, 4, (62 * 60 + 3) * 25 + 4},
        {"1: 2:3:4 tc", 3, 1, 2, 3, 4, (62 * 60 + 3) * 25 + 4},
        {"10 :30:00:00", 3, 10, 0, 0, 0, 10 * 3600 * 25},
        {"00:01", 3, 0, 1, 0, 0, 60 * 25},
        {"xx:01:00:00", 3, 0, 0, 0, 0, 0},
        {"00:00:00:2147483645", 3, 0, 0, 0, 2147483645, 2147483645},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        read_outcome r = read_in_process(
            param_file()
                .set("time_code", c.text)
                .set("frame_rate_code", c.frame_rate_code)
                .set("frame_count", 2)
                .set("profile", 1)
                .set("level", 4));
        expect_clean(r);
        EXPECT_EQ(enc.config.time_code_h, c.h);
        EXPECT_EQ(enc.config.time_code_m, c.m);
        EXPECT_EQ(enc.config.time_code_s, c.s);
        EXPECT_EQ(enc.config.time_code_f, c.f);
        EXPECT_EQ(enc.config.time_code_frames, c.frames);
    }
}

TEST(parameter_file_conversions, frame_rate_follows_its_code) {
    const double rates[8] = {24000.0 / 1001.0, 24, 25, 30000.0 / 1001.0, 30, 50, 60000.0 / 1001.0, 60};
    for (int code = 1; code <= 8; ++code) {
        // Profile High at High level accepts every rate.
        read_outcome r = read_in_process(param_file().set("frame_rate_code", code).set("profile", 1).set("level", 4));
        expect_clean(r);
        EXPECT_EQ(enc.config.frame_rate, rates[code - 1]) << code;
    }
}

TEST(parameter_file_conversions, words_reals_and_the_whole_first_line) {
    read_outcome r = read_in_process(param_file()
                                         .set("id_string", "  my id  ")
                                         .set("source_name_pattern", "  frames/src%03d  /* source */")
                                         .set("recon_name_pattern", "")
                                         .set("statistics_file_name", "-x")
                                         .set("bit_rate", "1.5e6 bits")
                                         .set("avg_act", "2.5"));
    expect_clean(r);
    EXPECT_EQ(enc.config.id_string, "  my id  \n");
    EXPECT_EQ(enc.config.source_name_pattern, "frames/src%03d");
    EXPECT_EQ(enc.config.recon_name_pattern, "");
    EXPECT_EQ(enc.config.statistics_file_name, "-x");
    EXPECT_EQ(enc.config.bit_rate, 1.5e6);
    EXPECT_EQ(enc.config.avg_act, 2.5);

    r = read_in_process(param_file().set("avg_act", "high"));
    expect_clean(r);
    EXPECT_EQ(enc.config.avg_act, 0.0);
}

TEST(parameter_file_layout, a_line_longer_than_253_characters_continues_as_the_next_line) {
    param_file p;
    p.lines[0] = std::string(253, 'x') + "src%d";
    p.lines.erase(p.lines.begin() + 1);  // the continuation is line 2
    read_outcome r = read_in_process(p);
    expect_clean(r);
    EXPECT_EQ(enc.config.id_string, std::string(253, 'x'));
    EXPECT_EQ(enc.config.source_name_pattern, "src%d");
    EXPECT_EQ(enc.config.recon_name_pattern, "rec%d");
}

TEST(parameter_file_layout, motion_lines_fill_forward_then_backward_fields) {
    read_outcome r =
        read_in_process(param_file().motion({"1 2 3 4", "2 1 5 6", "3 1 7 7", "1 2 6 10", "2 3 11 12"}));
    expect_clean(r);
    const motion_entry expected[3] = {{1, 2, 3, 4, 0, 0, 0, 0}, {2, 1, 5, 6, 3, 1, 7, 7}, {1, 2, 6, 10, 2, 3, 11, 12}};
    for (int k = 0; k < 3; ++k) {
        const motion_entry& m = enc.config.motion_data[k];
        const motion_entry& e = expected[k];
        EXPECT_EQ(std::vector<int>({m.forw_hor_f_code, m.forw_vert_f_code, m.forw_hor_search, m.forw_vert_search,
                                    m.back_hor_f_code, m.back_vert_f_code, m.back_hor_search, m.back_vert_search}),
                  std::vector<int>({e.forw_hor_f_code, e.forw_vert_f_code, e.forw_hor_search, e.forw_vert_search,
                                    e.back_hor_f_code, e.back_vert_f_code, e.back_hor_search, e.back_vert_search}))
            << "entry " << k;
    }
}

TEST(parameter_file_layout, m_of_1_reads_exactly_51_lines_and_ignores_the_rest) {
    param_file p = param_file().set("N", 4).set("M", 1).motion({"3 2 20 9"});
    std::string text = p.text();
    text.pop_back();  // no line end after the last line
    read_outcome r = read_in_process(text);
    expect_clean(r);
    EXPECT_EQ(enc.config.M, 1);
    EXPECT_EQ(enc.config.motion_data[0].forw_hor_f_code, 3);
    EXPECT_EQ(enc.config.motion_data[0].forw_vert_search, 9);

    r = read_in_process(p.text() + "0 0 0 0\nanything\n");
    expect_clean(r);
    EXPECT_EQ(enc.config.motion_data[0].forw_hor_search, 20);
}

TEST(parameter_file_layout, flags_become_0_or_1) {
    read_outcome r = read_in_process(param_file()
                                         .set("low_delay", 7)
                                         .set("progressive_sequence", -2)
                                         .set("progressive_frame", 9)
                                         .set("field_pictures", 0)
                                         .set("intra_vlc_format_tab", "3 0 -1"));
    expect_clean(r);
    EXPECT_EQ(enc.config.low_delay, 1);
    EXPECT_EQ(enc.config.progressive_sequence, 1);
    EXPECT_EQ(enc.config.progressive_frame, 1);
    EXPECT_EQ(enc.config.intra_vlc_format_tab[0], 1);
    EXPECT_EQ(enc.config.intra_vlc_format_tab[1], 0);
    EXPECT_EQ(enc.config.intra_vlc_format_tab[2], 1);
}

TEST(parameter_file_adjustments, values_after_the_warnings) {
    read_outcome r = read_in_process(param_file()
                                         .set("mpeg1", 1)
                                         .set("chroma_format", 3)
                                         .set("alternate_scan_tab", "1 1 1")
                                         .motion({"3 1 40 40", "2 4 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"}));
    ASSERT_FALSE(r.fatal) << r.message;
    EXPECT_EQ(enc.config.chroma_format, 1);
    EXPECT_EQ(enc.config.alternate_scan_tab[1], 0);
    EXPECT_EQ(enc.config.motion_data[0].forw_vert_f_code, 3);
    EXPECT_EQ(enc.config.motion_data[0].forw_hor_search, 31);
    EXPECT_EQ(enc.config.motion_data[0].forw_vert_search, 31);
    EXPECT_EQ(enc.config.motion_data[1].forw_vert_f_code, 2);

    r = read_in_process(param_file()
                            .set("progressive_sequence", 0)
                            .set("progressive_frame", 0)
                            .set("field_pictures", 1)
                            .set("frame_pred_frame_dct_tab", "1 1 1"));
    ASSERT_FALSE(r.fatal) << r.message;
    EXPECT_EQ(enc.config.field_pictures, 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(enc.config.frame_pred_frame_dct_tab[i], 0);
}

TEST(parameter_file_adjustments, mpeg1_constrained_parameters) {
    struct constrained_case {
        int horizontal, vertical, frame_rate_code;
        const char* motion0;
        int flag;
    };
    const constrained_case cases[] = {
        {352, 288, 3, "2 2 11 11", 1},  // 396 macroblocks, 9900 per second: at the limit
        {352, 240, 5, "2 2 11 11", 1},  // 330 macroblocks at 30 Hz: 9900 again
        {352, 240, 4, "4 4 11 11", 1},
        {352, 288, 5, "2 2 11 11", 0},  // 11880 per second
        {720, 576, 3, "2 2 11 11", 0},  // 1620 macroblocks
        {768, 64, 3, "2 2 11 11", 1},
        {770, 64, 3, "2 2 11 11", 0},
        {64, 578, 3, "2 2 11 11", 0},
        {64, 48, 6, "2 2 11 11", 0},  // above 30 Hz
        {64, 48, 3, "5 5 11 11", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.horizontal << "x" << c.vertical << " code " << c.frame_rate_code << " "
                                        << c.motion0);
        read_outcome r = read_in_process(param_file()
                                             .set("mpeg1", 1)
                                             .set("constrained_parameters_flag", 1)
                                             .set("horizontal_size", c.horizontal)
                                             .set("vertical_size", c.vertical)
                                             .set("frame_rate_code", c.frame_rate_code)
                                             .motion({c.motion0, "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"}));
        ASSERT_FALSE(r.fatal) << r.message;
        EXPECT_EQ(enc.config.constrained_parameters_flag, c.flag);
        EXPECT_EQ(r.err, c.flag ? "" : "Warning: setting constrained_parameters_flag = 0\n");
    }
}

// A valid configuration as read from the default file, changed by one case.
struct limit_case {
    const char* name;
    void (*change)(encoder_state&);
};

void load_default_state() {
    read_outcome r = read_in_process(param_file());
    ASSERT_FALSE(r.fatal) << r.message;
}

TEST(parameter_checks, values_at_the_limits_pass_the_range_tests) {
    const limit_case cases[] = {
        {"odd width in 4:4:4", [](encoder_state& e) { e.config.horizontal_size = 65, e.config.chroma_format = 3; }},
        {"largest sizes",
         [](encoder_state& e) {
             e.config.horizontal_size = 16383, e.config.vertical_size = 16383, e.config.chroma_format = 3;
         }},
        {"odd height in 4:2:2", [](encoder_state& e) { e.config.vertical_size = 49, e.config.chroma_format = 2; }},
        {"MPEG-1 4095 wide", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.horizontal_size = 4094; }},
        {"MPEG-1 2800 lines", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.vertical_size = 2800; }},
        {"MPEG-1 pel aspect 14", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.aspect_ratio_information = 14; }},
        {"MPEG-1 vbv 1023", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.vbv_buffer_size = 1023; }},
        {"MPEG-1 bit rate limit", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.bit_rate = 104857200.0; }},
        {"MPEG-1 f_code 7", [](encoder_state& e) { e.config.mpeg1 = 1, e.config.motion_data[1].back_vert_f_code = 7; }},
        {"bit rate limit", [](encoder_state& e) { e.config.bit_rate = 429496729200.0; }},
        {"vbv limit", [](encoder_state& e) { e.config.vbv_buffer_size = 262143; }},
        {"colour codes 2 and 4",
         [](encoder_state& e) { e.config.color_primaries = 2, e.config.transfer_characteristics = 4; }},
        {"display sizes 0",
         [](encoder_state& e) { e.config.display_horizontal_size = 0, e.config.display_vertical_size = 0; }},
        {"display sizes 16383",
         [](encoder_state& e) { e.config.display_horizontal_size = 16383, e.config.display_vertical_size = 16383; }},
        {"f_code 9", [](encoder_state& e) { e.config.motion_data[2].forw_vert_f_code = 9; }},
        {"field pictures 4:2:0, 52 lines",
         [](encoder_state& e) { e.config.field_pictures = 1, e.config.vertical_size = 52; }},
        {"entry 0 backward fields unused",
         [](encoder_state& e) {
             e.config.motion_data[0].back_hor_f_code = 0, e.config.motion_data[0].back_hor_search = -4;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load_default_state();
        c.change(enc);
        EXPECT_NO_THROW(check_parameter_ranges());
    }
}

TEST(parameter_checks, conforming_profile_and_level_combinations_pass) {
    const limit_case cases[] = {
        {"MP@ML at every limit",
         [](encoder_state& e) {
             e.config.horizontal_size = 720, e.config.vertical_size = 576, e.config.frame_rate = 25.0,
             e.config.bit_rate = 15000000.0;
             e.config.vbv_buffer_size = 112;
         }},
        {"HP@HL at every limit",
         [](encoder_state& e) {
             e.config.profile = 1, e.config.level = 4, e.config.chroma_format = 2, e.config.horizontal_size = 1920,
             e.config.vertical_size = 1152;
             e.config.bit_rate = 80000000.0, e.config.vbv_buffer_size = 597, e.config.intra_dc_precision = 3;
             e.config.motion_data[1].back_hor_f_code = 9, e.config.motion_data[1].back_vert_f_code = 5;
         }},
        {"MP@LL 352x288",
         [](encoder_state& e) {
             e.config.level = 10, e.config.horizontal_size = 352, e.config.vertical_size = 288,
             e.config.vbv_buffer_size = 29;
             e.config.motion_data[0].forw_hor_f_code = 7, e.config.motion_data[0].forw_vert_f_code = 4;
         }},
        {"SP@ML without B pictures", [](encoder_state& e) { e.config.profile = 5, e.config.M = 1; }},
        {"repeat_first_field at 60 Hz, High level",
         [](encoder_state& e) {
             e.config.level = 4, e.config.frame_rate_code = 7, e.config.frame_rate = 60000.0 / 1001.0,
             e.config.repeat_first_field = 1;
         }},
        {"repeat_first_field interlaced at 25 Hz",
         [](encoder_state& e) { e.config.progressive_sequence = 0, e.config.repeat_first_field = 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load_default_state();
        c.change(enc);
        EXPECT_NO_THROW(check_profile_and_level());
    }
}

TEST(parameter_checks, encoder_limits_pass_the_usable_values) {
    const limit_case cases[] = {
        {"input formats 1 and 2", [](encoder_state& e) { e.config.input_format = 2; }},
        {"zero rate-control values",
         [](encoder_state& e) { e.config.avg_act = 0.0, e.config.r = 0, e.config.d0b = 0; }},
        {"positive rate-control values",
         [](encoder_state& e) { e.config.avg_act = 400.0, e.config.Xi = 1, e.config.d0i = 7; }},
        {"pattern with %% and a width", [](encoder_state& e) { e.config.source_name_pattern = "s%%_%04d"; }},
        {"pattern without conversion", [](encoder_state& e) { e.config.recon_name_pattern = "-"; }},
        {"interlaced 2784 lines",
         [](encoder_state& e) { e.config.progressive_sequence = 0, e.config.vertical_size = 2784; }},
        {"interlaced 2802 lines",
         [](encoder_state& e) { e.config.progressive_sequence = 0, e.config.vertical_size = 2802; }},
        {"progressive 2790 lines", [](encoder_state& e) { e.config.vertical_size = 2790; }},
        {"MPEG-1 interlaced 2790 lines",
         [](encoder_state& e) {
             e.config.mpeg1 = 1, e.config.progressive_sequence = 0, e.config.vertical_size = 2790;
         }},
        {"last picture file number INT_MAX",
         [](encoder_state& e) { e.config.first_frame_number = INT_MAX - 2, e.config.frame_count = 3; }},
        {"first_frame_number INT_MAX, no frames",
         [](encoder_state& e) { e.config.first_frame_number = INT_MAX, e.config.frame_count = 0; }},
        {"negative first_frame_number", [](encoder_state& e) { e.config.first_frame_number = INT_MIN; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load_default_state();
        c.change(enc);
        EXPECT_NO_THROW(check_encoder_limits());
    }
}

}  // namespace
}  // namespace morvane_test
