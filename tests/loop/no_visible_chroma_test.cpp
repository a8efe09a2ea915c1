// Source pictures with no visible chroma row or column (MPEG-1 16x1 and
// 1x16, forced to 4:2:0): the chroma files are empty, nothing is read or
// extended, and the chroma planes stay zero as allocated.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/encoder_state.h"
#include "loop/source_frame.h"
#include "picture_setup.h"
#include "test_support.h"

using namespace morvane_test;

namespace {

struct tiny_source {
    const char* name;
    int width, height, input_format;
};

void PrintTo(const tiny_source& c, std::ostream* os) { *os << c.name; }

class no_visible_chroma_source : public testing::TestWithParam<tiny_source> {};

TEST_P(no_visible_chroma_source, reads_chroma_as_zeros) {
    const tiny_source& c = GetParam();
    start_encoder({c.width, c.height, CHROMA420}, [&](encoder_config& cfg) {
        cfg.mpeg1 = 1;
        cfg.progressive_frame = 1;
        cfg.input_format = c.input_format;
    });
    EXPECT_EQ(chroma_columns() * chroma_rows(), 0);
    temp_dir dir;
    std::string luma;
    for (int i = 0; i < c.width * c.height; ++i) luma.push_back(static_cast<char>(20 + 9 * i));
    if (c.input_format == 0) {
        write_file(dir / "src.Y", luma);
        write_file(dir / "src.U", "");
        write_file(dir / "src.V", "");
    } else {
        write_file(dir / "src.yuv", luma);
    }
    const frame_planes& frame = enc.buffers.new_org_frame;
    load_source_frame((dir / "src").c_str(), frame);

    const encoder_config& cfg = enc.config;
    for (int row = 0; row < cfg.height; ++row)
        for (int col = 0; col < cfg.width; ++col) {
            const int r = row < c.height ? row : c.height - 1, k = col < c.width ? col : c.width - 1;
            ASSERT_EQ(frame[0][row * cfg.width + col], static_cast<uint8_t>(luma[r * c.width + k]))
                << "luminance row " << row << " column " << col;
        }
    for (int k = 1; k < 3; ++k)
        for (int i = 0; i < cfg.chrom_width * cfg.chrom_height; ++i)
            ASSERT_EQ(frame[k][i], 0) << "plane " << k << " sample " << i;
}

INSTANTIATE_TEST_SUITE_P(cases, no_visible_chroma_source,
                         testing::Values(tiny_source{"mpeg1_16x1_planes", 16, 1, 0},
                                         tiny_source{"mpeg1_1x16_planes", 1, 16, 0},
                                         tiny_source{"mpeg1_16x1_planar_file", 16, 1, 1},
                                         tiny_source{"mpeg1_1x16_planar_file", 1, 16, 1}),
                         name_field());

}  // namespace
