// Pictures with no visible chroma: MPEG-1 forces 4:2:0 after the size
// checks, so a 16x1 picture keeps no chroma row and a 1x16 one no chroma
// column. Such pictures encode: the chroma files of the source and the
// reconstruction are empty, and the chroma planes stay as allocated (zeros;
// tests/loop/no_visible_chroma_test.cpp reads them).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "test_support.h"

using namespace morvane_test;

namespace {

struct tiny_case {
    const char* name;
    int width, height;
    int chroma_format;  // as the parameter file says it; MPEG-1 makes it 4:2:0
    int input_format;
};

void PrintTo(const tiny_case& c, std::ostream* os) { *os << c.name; }

class no_visible_chroma : public testing::TestWithParam<tiny_case> {};

TEST_P(no_visible_chroma, encodes_with_empty_chroma_files) {
    const tiny_case& c = GetParam();
    temp_dir dir;
    run_result gen =
        run_program({make_sequence_bin(), "--width", std::to_string(c.width), "--height", std::to_string(c.height),
                     "--frames", "1", "--format", std::to_string(c.input_format), "--pattern", dir / "src%d"},
                    dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    param_file p;
    p.set("mpeg1", 1).set("frame_count", 1).set("N", 1).set("M", 1).motion({"1 1 7 7"});
    p.set("horizontal_size", c.width).set("vertical_size", c.height).set("chroma_format", c.chroma_format);
    p.set("input_format", c.input_format).set("display_horizontal_size", c.width);
    p.set("display_vertical_size", c.height).write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: setting chroma_format = 1 (4:2:0)\n"), std::string::npos) << r.err;
    const std::size_t luma = static_cast<std::size_t>(c.width) * c.height;
    EXPECT_EQ(read_file(dir / "rec0.Y").size(), luma);
    EXPECT_EQ(read_file(dir / "rec0.U").size(), 0u);
    EXPECT_EQ(read_file(dir / "rec0.V").size(), 0u);
    EXPECT_EQ(read_file(dir / "rec0.YUV"), read_file(dir / "rec0.Y"));
    const std::string stream = read_file(dir / "out.m2v");
    ASSERT_GE(stream.size(), 8u);
    EXPECT_EQ(stream.substr(0, 4), std::string("\0\0\1\xb3", 4));
    EXPECT_EQ(stream.substr(stream.size() - 4), std::string("\0\0\1\xb7", 4));
}

INSTANTIATE_TEST_SUITE_P(cases, no_visible_chroma,
                         testing::Values(tiny_case{"mpeg1_16x1_planes", 16, 1, 2, 0},
                                         tiny_case{"mpeg1_1x16_planes", 1, 16, 3, 0},
                                         tiny_case{"mpeg1_16x1_planar_file", 16, 1, 2, 1},
                                         tiny_case{"mpeg1_1x16_ppm", 1, 16, 3, 2}),
                         name_field());

}  // namespace
