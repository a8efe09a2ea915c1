// The real binary on parameter files that each fail one test: the message,
// a newline, exit status 1, and no output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_test_helpers.h"

namespace morvane_test {
namespace {

struct fatal_case {
    const char* name;
    settings values;
    std::vector<std::string> motion;
    const char* message;
};

// Entry 0 forward, then entries 1 and 2 forward and backward (M 3).
std::vector<std::string> motion3(const std::string& e0, const std::string& e1f = "1 1 3 3",
                                 const std::string& e1b = "1 1 7 7") {
    return {e0, e1f, e1b, "1 1 3 3", "1 1 7 7"};
}

const settings mpeg1 = {{"mpeg1", "1"}};

settings plus(settings a, const settings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const fatal_case range_cases[] = {
    {"HorizontalZero", {{"horizontal_size", "0"}}, {}, "horizontal_size must be between 1 and 16383"},
    {"HorizontalTooLarge", {{"horizontal_size", "16384"}}, {}, "horizontal_size must be between 1 and 16383"},
    {"HorizontalMpeg1",
     plus(mpeg1, {{"horizontal_size", "4096"}}),
     {},
     "horizontal_size must be less than 4096 (MPEG-1)"},
    {"Horizontal4096", {{"horizontal_size", "4096"}}, {}, "horizontal_size must not be a multiple of 4096"},
    {"Horizontal8192", {{"horizontal_size", "8192"}}, {}, "horizontal_size must not be a multiple of 4096"},
    {"HorizontalOdd420", {{"horizontal_size", "65"}}, {}, "horizontal_size must be a even (4:2:0 / 4:2:2)"},
    {"HorizontalOdd422",
     {{"horizontal_size", "65"}, {"chroma_format", "2"}},
     {},
     "horizontal_size must be a even (4:2:0 / 4:2:2)"},
    {"VerticalZero", {{"vertical_size", "0"}}, {}, "vertical_size must be between 1 and 16383"},
    {"VerticalNegative", {{"vertical_size", "-48"}}, {}, "vertical_size must be between 1 and 16383"},
    {"VerticalMpeg1", plus(mpeg1, {{"vertical_size", "4096"}}), {}, "vertical size must be less than 4096 (MPEG-1)"},
    {"VerticalMpeg1Above2800",
     plus(mpeg1, {{"vertical_size", "2802"}}),
     {},
     "vertical_size must be at most 2800 (MPEG-1)"},
    {"Vertical8192", {{"vertical_size", "8192"}}, {}, "vertical_size must not be a multiple of 4096"},
    {"VerticalOdd420", {{"vertical_size", "577"}}, {}, "vertical_size must be a even (4:2:0)"},
    {"VerticalOddFields",
     {{"vertical_size", "49"}, {"chroma_format", "2"}, {"field_pictures", "1"}},
     {},
     "vertical_size must be a even (field pictures)"},
    {"VerticalFields420",
     {{"vertical_size", "578"}, {"field_pictures", "1"}},
     {},
     "vertical_size must be a multiple of 4 (4:2:0 field pictures)"},
    {"PelAspectZero",
     plus(mpeg1, {{"aspect_ratio_information", "0"}}),
     {},
     "pel_aspect_ratio must be between 1 and 14 (MPEG-1)"},
    {"PelAspect15",
     plus(mpeg1, {{"aspect_ratio_information", "15"}}),
     {},
     "pel_aspect_ratio must be between 1 and 14 (MPEG-1)"},
    {"Aspect5", {{"aspect_ratio_information", "5"}}, {}, "aspect_ratio_information must be 1, 2, 3 or 4"},
    {"FrameRateZero", {{"frame_rate_code", "0"}}, {}, "frame_rate code must be between 1 and 8"},
    {"FrameRate9", {{"frame_rate_code", "9"}}, {}, "frame_rate code must be between 1 and 8"},
    {"BitRateZero", {{"bit_rate", "0"}}, {}, "bit_rate must be positive"},
    {"BitRateNegative", {{"bit_rate", "-1.0"}}, {}, "bit_rate must be positive"},
    {"BitRateNan", {{"bit_rate", "nan"}}, {}, "bit_rate must be positive"},
    {"BitRateNotANumber", {{"bit_rate", "fast"}}, {}, "bit_rate must be positive"},
    {"BitRateAbove429G", {{"bit_rate", "429496729200.5"}}, {}, "bit_rate must be less than 429 Gbit/s"},
    {"BitRateInfinite", {{"bit_rate", "inf"}}, {}, "bit_rate must be less than 429 Gbit/s"},
    {"BitRateMpeg1", plus(mpeg1, {{"bit_rate", "104857201"}}), {}, "bit_rate must be less than 104 Mbit/s (MPEG-1)"},
    {"VbvZero", {{"vbv_buffer_size", "0"}}, {}, "vbv_buffer_size must be in range 1..(2^18-1)"},
    {"VbvTooLarge", {{"vbv_buffer_size", "262144"}}, {}, "vbv_buffer_size must be in range 1..(2^18-1)"},
    {"VbvMpeg1", plus(mpeg1, {{"vbv_buffer_size", "1024"}}), {}, "vbv_buffer_size must be less than 1024 (MPEG-1)"},
    {"ChromaZero", {{"chroma_format", "0"}}, {}, "chroma_format must be in range 1...3"},
    {"Chroma4", {{"chroma_format", "4"}}, {}, "chroma_format must be in range 1...3"},
    {"VideoFormat5", {{"video_format", "5"}}, {}, "video_format must be in range 0...4"},
    {"VideoFormatNegative", {{"video_format", "-1"}}, {}, "video_format must be in range 0...4"},
    {"ColorPrimaries3", {{"color_primaries", "3"}}, {}, "color_primaries must be in range 1...2 or 4...7"},
    {"ColorPrimaries8", {{"color_primaries", "8"}}, {}, "color_primaries must be in range 1...2 or 4...7"},
    {"Transfer3", {{"transfer_characteristics", "3"}}, {}, "transfer_characteristics must be in range 1...2 or 4...7"},
    {"Matrix0", {{"matrix_coefficients", "0"}}, {}, "matrix_coefficients must be in range 1...2 or 4...7"},
    {"DisplayHorizontal",
     {{"display_horizontal_size", "16384"}},
     {},
     "display_horizontal_size must be in range 0...16383"},
    {"DisplayVertical", {{"display_vertical_size", "-1"}}, {}, "display_vertical_size must be in range 0...16383"},
    {"IntraDcPrecision4", {{"intra_dc_precision", "4"}}, {}, "intra_dc_precision must be in range 0...3"},
    {"FCodeZero", {}, motion3("0 2 11 11"), "f_code must be between 1 and 9"},
    {"FCodeVertical10", {}, motion3("2 10 11 11"), "f_code must be between 1 and 9"},
    {"FCodeMpeg1Eight", mpeg1, motion3("1 8 7 7"), "f_code must be le less than 8"},
    {"FCodeMpeg1Ten", mpeg1, motion3("10 1 7 7"), "f_code must be between 1 and 9"},
    {"SearchZero", {}, motion3("2 2 0 11"), "search window must be positive"},
    {"BackwardFCode", {}, motion3("2 2 11 11", "1 1 3 3", "1 0 7 7"), "f_code must be between 1 and 9"},
    {"BackwardMpeg1FCode", mpeg1, motion3("2 2 11 11", "1 1 3 3", "9 9 7 7"), "f_code must be le less than 8"},
    {"BackwardSearchZero", {}, motion3("2 2 11 11", "1 1 3 3", "1 1 7 0"), "search window must be positive"},
    // First failing test wins.
    {"HorizontalBeforeVertical",
     {{"horizontal_size", "0"}, {"vertical_size", "0"}},
     {},
     "horizontal_size must be between 1 and 16383"},
    {"RangesBeforeMotion",
     {{"intra_dc_precision", "9"}},
     motion3("0 0 0 0"),
     "intra_dc_precision must be in range 0...3"},
    {"RangesBeforeProfile", {{"profile", "99"}, {"chroma_format", "9"}}, {}, "chroma_format must be in range 1...3"},
};

const fatal_case profile_cases[] = {
    {"ProfileTooLarge", {{"profile", "16"}}, {}, "profile must be between 0 and 15"},
    {"ProfileNegative", {{"profile", "-1"}}, {}, "profile must be between 0 and 15"},
    {"LevelTooLarge", {{"level", "16"}}, {}, "level must be between 0 and 15"},
    {"ProfileZero", {{"profile", "0"}}, {}, "undefined Profile"},
    {"Profile7", {{"profile", "7"}}, {}, "undefined Profile"},
    {"SpatialProfile", {{"profile", "2"}}, {}, "This encoder currently generates no scalable bitstreams"},
    {"SnrProfile", {{"profile", "3"}}, {}, "This encoder currently generates no scalable bitstreams"},
    {"LevelOdd", {{"level", "5"}}, {}, "undefined Level"},
    {"Level12", {{"level", "12"}}, {}, "undefined Level"},
    {"Level2", {{"level", "2"}}, {}, "undefined Level"},
    {"HighAtLow", {{"profile", "1"}, {"level", "10"}}, {}, "undefined profile@level combination"},
    {"SimpleAtHigh", {{"profile", "5"}, {"level", "4"}}, {}, "undefined profile@level combination"},
    {"SimpleWithB", {{"profile", "5"}}, {}, "Simple Profile does not allow B pictures"},
    {"Main422", {{"chroma_format", "2"}}, {}, "chroma format must be 4:2:0 in specified Profile"},
    {"High444", {{"profile", "1"}, {"chroma_format", "3"}}, {}, "chroma format must be 4:2:0 or 4:2:2 in High Profile"},
    // Fatal although progressive_frame 0 would later clear repeat_first_field.
    {"RepeatAtLowRate",
     {{"frame_rate_code", "2"}, {"repeat_first_field", "1"}, {"progressive_sequence", "0"}, {"progressive_frame", "0"}},
     {},
     "repeat_first_first must be zero"},
    {"RepeatProgressive", {{"repeat_first_field", "1"}}, {}, "repeat_first_first must be zero"},
    {"ElevenBitDc", {{"intra_dc_precision", "3"}}, {}, "11 bit DC precision only allowed in High Profile"},
    {"PictureRate", {{"frame_rate_code", "6"}}, {}, "Picture rate greater than permitted in specified Level"},
    {"ForwardHorizontalFCode",
     {{"level", "10"}},
     motion3("8 1 11 11"),
     "forward horizontal f_code greater than permitted in specified Level"},
    {"ForwardVerticalFCode",
     {{"level", "10"}},
     motion3("1 5 7 7"),
     "forward vertical f_code greater than permitted in specified Level"},
    {"BackwardHorizontalFCode",
     {{"level", "10"}},
     motion3("2 2 11 11", "1 1 3 3", "8 1 7 7"),
     "backward horizontal f_code greater than permitted in specified Level"},
    {"BackwardVerticalFCode",
     {{"level", "10"}},
     motion3("2 2 11 11", "1 1 3 3", "1 5 7 7"),
     "backward vertical f_code greater than permitted in specified Level"},
    {"HorizontalSize",
     {{"horizontal_size", "722"}},
     {},
     "Horizontal size is greater than permitted in specified Level"},
    {"VerticalSize", {{"vertical_size", "578"}}, {}, "Vertical size is greater than permitted in specified Level"},
    {"SampleRate30Hz",
     {{"horizontal_size", "720"}, {"vertical_size", "576"}, {"frame_rate_code", "5"}},
     {},
     "Sample rate is greater than permitted in specified Level"},
    {"PictureRateBeforeSampleRate",
     {{"horizontal_size", "720"}, {"vertical_size", "576"}, {"frame_rate_code", "6"}},
     {},
     "Picture rate greater than permitted in specified Level"},
    {"BitRate", {{"bit_rate", "15000000.5"}}, {}, "Bit rate is greater than permitted in specified Level"},
    {"VbvLimit", {{"vbv_buffer_size", "113"}}, {}, "vbv_buffer_size exceeds High Level limit"},
    {"LowLevelVbv", {{"level", "10"}, {"vbv_buffer_size", "30"}}, {}, "vbv_buffer_size exceeds High Level limit"},
};

const fatal_case file_cases[] = {
    {"NZero", {{"N", "0"}}, {}, "N must be positive"},
    {"MZero", {{"M", "0"}}, {}, "M must be positive"},
    {"NNotMultipleOfM", {{"N", "12"}, {"M", "5"}}, {}, "N must be an integer multiple of M"},
    {"NNotANumber", {{"N", "twelve"}}, {}, "N must be positive"},
    {"MissingMotionLine",
     {},
     {"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 3 3"},
     "parameter file in.par ends before line 55"},
    {"NumberAboveIntRange",
     {{"first_frame_number", "2147483648"}},
     {},
     "number on line 9 of parameter file in.par is outside the int range"},
    {"NumberBelowIntRange",
     {{"frame_pred_frame_dct_tab", "1 -2147483649 1"}},
     {},
     "number on line 35 of parameter file in.par is outside the int range"},
    {"TimeCodeFieldAboveIntRange",
     {{"time_code", "00:00:99999999999:00"}},
     {},
     "number on line 10 of parameter file in.par is outside the int range"},
    {"MotionNumberAboveIntRange",
     {},
     motion3("2 2 11 4294967307"),
     "number on line 51 of parameter file in.par is outside the int range"},
    {"MissingIntraMatrix", {{"intra_matrix_file", "none.mat"}}, {}, "Couldn't open quant matrix file none.mat"},
    {"MissingNonIntraMatrix",
     {{"non_intra_matrix_file", "other.mat"}},
     {},
     "Couldn't open quant matrix file other.mat"},
};

// Checks after the range tests for values the encoder cannot handle.
const fatal_case limit_cases[] = {
    {"InputFormat3", {{"input_format", "3"}}, {}, "input_format must be in range 0...2"},
    {"InputFormatNegative", {{"input_format", "-1"}}, {}, "input_format must be in range 0...2"},
    {"RangesBeforeInputFormat", {{"input_format", "7"}, {"vbv_buffer_size", "0"}}, {},
     "vbv_buffer_size must be in range 1..(2^18-1)"},
    {"SourcePatternString", {{"source_name_pattern", "src%s"}}, {},
     "invalid file name pattern src%s (one integer conversion allowed)"},
    {"ReconPatternTwoIntegers", {{"recon_name_pattern", "rec%d_%d"}}, {},
     "invalid file name pattern rec%d_%d (one integer conversion allowed)"},
    {"ReconPatternCount", {{"recon_name_pattern", "rec%n"}}, {},
     "invalid file name pattern rec%n (one integer conversion allowed)"},
    {"NegativeR", {{"r", "-1"}}, {}, "r must not be negative"},
    {"NegativeXi", {{"Xi", "-5"}}, {}, "Xi must not be negative"},
    {"NegativeXp", {{"Xp", "-5"}}, {}, "Xp must not be negative"},
    {"NegativeXb", {{"Xb", "-5"}}, {}, "Xb must not be negative"},
    {"NegativeD0i", {{"d0i", "-5"}}, {}, "d0i must not be negative"},
    {"NegativeD0p", {{"d0p", "-5"}}, {}, "d0p must not be negative"},
    {"NegativeD0b", {{"d0b", "-5"}}, {}, "d0b must not be negative"},
    {"NegativeAvgAct", {{"avg_act", "-0.5"}}, {}, "avg_act must be finite and not negative"},
    {"NanAvgAct", {{"avg_act", "nan"}}, {}, "avg_act must be finite and not negative"},
    {"InfiniteAvgAct", {{"avg_act", "inf"}}, {}, "avg_act must be finite and not negative"},
    {"NegativeHours", {{"time_code", "-1:00:00:00"}}, {}, "time code fields must not be negative"},
    {"NegativeFrames", {{"time_code", "00:00:00:-3"}}, {}, "time code fields must not be negative"},
    {"TimeCodeTooLarge", {{"time_code", "30000:00:00:00"}}, {},
     "time code plus frame_count must be less than 2^31 frames"},
    {"TimeCodePlusFramesTooLarge", {{"time_code", "00:00:00:2147483645"}, {"frame_count", "3"}}, {},
     "time code plus frame_count must be less than 2^31 frames"},
    {"LastFileNumberPastInt", {{"first_frame_number", "2147483647"}, {"frame_count", "2"}}, {},
     "first_frame_number plus frame_count must be at most 2^31"},
    {"Interlaced2786",
     {{"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"vertical_size", "2786"}}, {},
     "vertical_size 2785 to 2800 cannot be coded as an interlaced sequence"},
    {"Interlaced2800",
     {{"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"vertical_size", "2800"}}, {},
     "vertical_size 2785 to 2800 cannot be coded as an interlaced sequence"},
    {"LimitsBeforeProfile", {{"r", "-1"}, {"profile", "0"}}, {}, "r must not be negative"},
};

class fatal_parameter_file_e2e : public testing::TestWithParam<fatal_case> {};

TEST_P(fatal_parameter_file_e2e, prints_message_and_exits_with_status_1) {
    const fatal_case& c = GetParam();
    temp_dir dir;
    with(c.values, c.motion).write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(c.message) + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(dir / "out.m2v"));
}

std::string case_name(const testing::TestParamInfo<fatal_case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(ranges, fatal_parameter_file_e2e, testing::ValuesIn(range_cases), case_name);
INSTANTIATE_TEST_SUITE_P(profile_and_level, fatal_parameter_file_e2e, testing::ValuesIn(profile_cases), case_name);
INSTANTIATE_TEST_SUITE_P(file, fatal_parameter_file_e2e, testing::ValuesIn(file_cases), case_name);
INSTANTIATE_TEST_SUITE_P(limits, fatal_parameter_file_e2e, testing::ValuesIn(limit_cases), case_name);

run_result run_in(const temp_dir& dir, const std::string& par_text) {
    write_file(dir / "in.par", par_text);
    return run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
}

TEST(parameter_file_errors_e2e, missing_file_is_named) {
    temp_dir dir;
    run_result r = run_program({morvane_bin(), "absent.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open parameter file absent.par\n");
    EXPECT_FALSE(file_exists(dir / "out.m2v"));
}

TEST(parameter_file_errors_e2e, empty_file_ends_before_line_1) {
    temp_dir dir;
    run_result r = run_in(dir, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "parameter file in.par ends before line 1\n");
}

TEST(parameter_file_errors_e2e, file_ending_inside_the_fixed_lines_names_the_next_line) {
    temp_dir dir;
    param_file p;
    std::string text;
    for (int i = 0; i < 20; ++i) text += p.lines[i] + "\n";
    run_result r = run_in(dir, text);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "parameter file in.par ends before line 21\n");
}

TEST(parameter_file_errors_e2e, names_of_any_length_are_reported_whole) {
    temp_dir dir;
    std::string matrix_name(250, 'q');
    run_result r = run_in(dir, param_file().set("intra_matrix_file", matrix_name).text());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open quant matrix file " + matrix_name + "\n");
    std::string par_name(600, 'p');
    r = run_program({morvane_bin(), par_name, "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open parameter file " + par_name + "\n");
}

// So large an M cannot be allocated, or else its motion lines are missing;
// either way the run stops at once without touching gigabytes.
TEST(parameter_file_errors_e2e, huge_m_fails_cleanly) {
    temp_dir dir;
    // A sanitizer build would otherwise abort instead of failing the allocation.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = std::string(asan ? asan : "") + ":allocator_may_return_null=1";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    run_result r = run_in(dir, param_file().set("N", "2147483647").set("M", "2147483647").text());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err == "malloc failed\n\n" || r.err == "parameter file in.par ends before line 52\n") << r.err;
}

TEST(start_up_errors_e2e, output_file_that_cannot_be_created_is_named) {
    temp_dir dir;
    param_file().write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "no/such/out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't create output file no/such/out.m2v\n");
}

TEST(start_up_errors_e2e, statistics_file_that_cannot_be_created_leaves_the_empty_output) {
    temp_dir dir;
    param_file().set("statistics_file_name", "no/stats.txt").write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't create statistics output file no/stats.txt\n");
    ASSERT_TRUE(file_exists(dir / "out.m2v"));
    EXPECT_EQ(read_file(dir / "out.m2v"), "");
}

TEST(start_up_e2e, dash_statistics_name_writes_statistics_to_standard_output) {
    temp_dir dir;
    param_file().set("statistics_file_name", "-stats").set("frame_count", 0).write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out, "");
    EXPECT_FALSE(file_exists(dir / "-stats"));
    EXPECT_FALSE(file_exists(dir / "stats.txt"));
}

TEST(command_line_e2e, wrong_argument_count_prints_usage_and_creates_nothing) {
    const std::vector<std::vector<std::string>> arguments = {{}, {"in.par"}, {"in.par", "out.m2v", "extra"}};
    for (const auto& args : arguments) {
        temp_dir dir;
        std::vector<std::string> argv = {morvane_bin()};
        argv.insert(argv.end(), args.begin(), args.end());
        run_result r = run_program(argv, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("\nmorvane V1.2, 96/07/19, ", 0), 0u) << r.out;
        const std::string usage = "\nUsage: morvane in.par out.m2v\n";
        ASSERT_GE(r.out.size(), usage.size());
        EXPECT_EQ(r.out.substr(r.out.size() - usage.size()), usage);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
}

}  // namespace
}  // namespace morvane_test
