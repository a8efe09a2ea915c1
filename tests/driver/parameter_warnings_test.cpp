// The real binary on otherwise valid parameter files whose values contradict
// each other: every adjustment's warning, in order, and the run goes on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_test_helpers.h"

namespace morvane_test {
namespace {

struct warning_case {
    const char* name;
    settings values;
    std::vector<std::string> motion;
    const char* warnings;
};

const warning_case cases[] = {
    {"Mpeg1ForcedValues",
     {{"mpeg1", "1"},
      {"constrained_parameters_flag", "1"},
      {"horizontal_size", "720"},
      {"vertical_size", "576"},
      {"profile", "99"},  // not tested for MPEG-1
      {"level", "99"},
      {"progressive_sequence", "0"},
      {"chroma_format", "2"},
      {"intra_dc_precision", "2"},
      {"q_scale_type_tab", "1 1 1"},
      {"intra_vlc_format_tab", "0 1 0"},
      {"alternate_scan_tab", "1 0 7"}},
     {"1 2 7 12", "2 1 3 3", "1 3 7 7", "1 1 9 3", "1 1 8 20"},
     "Warning: setting constrained_parameters_flag = 0\n"
     "Warning: setting progressive_sequence = 1\n"
     "Warning: setting chroma_format = 1 (4:2:0)\n"
     "Warning: setting intra_dc_precision = 0\n"
     "Warning: setting qscale_tab[0] = 0\n"
     "Warning: setting qscale_tab[1] = 0\n"
     "Warning: setting qscale_tab[2] = 0\n"
     "Warning: setting intravlc_tab[1] = 0\n"
     "Warning: setting altscan_tab[0] = 0\n"
     "Warning: setting altscan_tab[2] = 0\n"
     "Warning: setting forw_vert_f_code[0] = 1\n"
     "Warning: setting forw_vert_f_code[1] = 2\n"
     "Warning: setting back_vert_f_code[1] = 1\n"
     // The vertical width of entry 0 follows its new f_code of 1.
     "Warning: reducing forward vertical search width to 7\n"
     "Warning: reducing forward horizontal search width to 7\n"
     "Warning: reducing backward horizontal search width to 7\n"
     "Warning: reducing backward vertical search width to 7\n"},
    {"Mpeg1ConstrainedFCodesWarnOnce",
     {{"mpeg1", "1"}, {"constrained_parameters_flag", "1"}, {"horizontal_size", "352"}, {"vertical_size", "288"}},
     {"2 2 11 11", "1 1 3 3", "5 5 7 7", "6 6 3 3", "1 1 7 7"},
     "Warning: setting constrained_parameters_flag = 0\n"},
    {"Mpeg1ConstrainedKept",
     {{"mpeg1", "1"}, {"constrained_parameters_flag", "1"}, {"horizontal_size", "352"}, {"vertical_size", "288"}},
     {"4 4 11 11", "1 1 3 3", "4 4 7 7", "1 1 3 3", "1 1 7 7"},
     ""},
    {"Mpeg2ConsistencyRules",
     {{"constrained_parameters_flag", "1"},
      {"progressive_frame", "0"},
      {"field_pictures", "1"},
      {"frame_pred_frame_dct_tab", "0 1 0"},
      {"top_field_first", "1"}},
     {"2 2 20 16", "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"},
     "Warning: setting constrained_parameters_flag = 0\n"
     "Warning: setting progressive_frame = 1\n"
     "Warning: setting field_pictures = 0\n"
     "Warning: setting frame_pred_frame_dct[0] = 1\n"
     "Warning: setting frame_pred_frame_dct[2] = 1\n"
     "Warning: setting top_field_first = 0\n"
     "Warning: reducing forward horizontal search width to 15\n"
     "Warning: reducing forward vertical search width to 15\n"},
    {"FieldPicturesClearFramePredFrameDct",
     {{"progressive_sequence", "0"},
      {"progressive_frame", "0"},
      {"field_pictures", "1"},
      {"frame_pred_frame_dct_tab", "1 0 5"},
      {"repeat_first_field", "1"},
      {"top_field_first", "1"}},
     {},
     "Warning: setting frame_pred_frame_dct[0] = 0\n"
     "Warning: setting frame_pred_frame_dct[2] = 0\n"
     "Warning: setting repeat_first_field = 0\n"},
    {"InterlacedFramePicturesKeepFlags",
     {{"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"frame_pred_frame_dct_tab", "1 0 1"},
      {"top_field_first", "1"}},
     {},
     ""},
    {"ReservedProfileSkipsLevelChecks",
     {{"profile", "9"}, {"level", "3"}, {"horizontal_size", "4000"}, {"bit_rate", "400000000"}},
     {},
     "Warning: profile uses a reserved value, conformance checks skipped\n"},
    {"BackwardWidthsOfLaterEntries",
     {},
     {"2 2 11 11", "1 1 3 3", "1 2 7 40", "1 1 3 3", "3 1 99 7"},
     "Warning: reducing backward vertical search width to 15\n"
     "Warning: reducing backward horizontal search width to 31\n"},
};

class parameter_warnings_e2e : public testing::TestWithParam<warning_case> {};

TEST_P(parameter_warnings_e2e, are_printed_in_order_and_the_run_goes_on) {
    const warning_case& c = GetParam();
    temp_dir dir;
    param_file p = with(c.values, c.motion);
    p.set("frame_count", 0);
    p.write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(startup_part(r.err), c.warnings);
    EXPECT_EQ(r.status, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(adjustments, parameter_warnings_e2e, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<warning_case>& info) { return info.param.name; });

}  // namespace
}  // namespace morvane_test
