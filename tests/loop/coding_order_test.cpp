// The coding order as a table: picture type, display number and temporal
// reference of every frame, the GOPs and the motion entries.
#include <gtest/gtest.h>

#include <string>

#include "driver/coding_types.h"
#include "loop/coding_order.h"

namespace {

struct order_case {
    const char* name;
    int N, M, frame_count;
    const char* frames;   // type, display number / temporal reference, in coding order
    const char* gops;     // at each I frame: "np,nb" and c for a closed GOP
    const char* entries;  // motion entry per frame, - for I
};

const order_case order_cases[] = {
    {"n12_m3_twelve_frames_truncated_last_gop", 12, 3, 12,
     "I0/0 P3/3 B1/1 B2/2 P6/6 B4/4 B5/5 P9/9 B7/7 B8/8 I11/1 B10/0", "3,6c 0,1", "- 0 1 2 0 1 2 0 1 2 - 1"},
    {"n6_m3_second_gop_open", 6, 3, 7, "I0/0 P3/3 B1/1 B2/2 I6/2 B4/0 B5/1", "1,2c 0,2", "- 0 1 2 - 1 2"},
    {"last_reference_lowered_to_the_last_frame", 12, 3, 8, "I0/0 P3/3 B1/1 B2/2 P6/6 B4/4 B5/5 P7/7", "3,4c",
     "- 0 1 2 0 1 2 0"},
    {"m1_display_order", 4, 1, 6, "I0/0 P1/1 P2/2 P3/3 I4/0 P5/1", "3,0c 1,0", "- 0 0 0 - 0"},
    {"m2_frame_count_odd", 4, 2, 5, "I0/0 P2/2 B1/1 I4/1 B3/0", "1,1c 0,1", "- 0 1 - 1"},
    {"single_frame", 12, 3, 1, "I0/0", "0,0c", "-"},
};

class coding_order : public testing::TestWithParam<order_case> {};

TEST_P(coding_order, frames_gops_and_motion_entries) {
    const order_case& c = GetParam();
    std::string frames, gops, entries;
    for (int i = 0; i < c.frame_count; ++i) {
        const frame_plan p = plan_frame(i, c.N, c.M, c.frame_count);
        if (i) frames += ' ', entries += ' ';
        frames += picture_type_letters[p.pict_type] + std::to_string(p.display_number) + "/" +
                  std::to_string(p.temporal_reference);
        EXPECT_EQ(p.temporal_reference, p.display_number - p.gop_start);
        EXPECT_EQ(p.reference, p.pict_type != B_TYPE);
        EXPECT_EQ(p.new_gop, p.pict_type == I_TYPE);
        entries += p.motion_entry < 0 ? std::string("-") : std::to_string(p.motion_entry);
        if (p.new_gop) {
            if (!gops.empty()) gops += ' ';
            gops += std::to_string(p.np) + "," + std::to_string(p.nb) + (p.closed_gop ? "c" : "");
        }
    }
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(gops, c.gops);
    EXPECT_EQ(entries, c.entries);
}

INSTANTIATE_TEST_SUITE_P(cases, coding_order, testing::ValuesIn(order_cases),
                         [](const testing::TestParamInfo<order_case>& info) { return info.param.name; });

}  // namespace
