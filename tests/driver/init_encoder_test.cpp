// Start-up sizes, the clipping table, buffers and the statistics file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "motion/motion_kernels.h"
#include "startup/init_encoder.h"
#include "stats/stats_kernels.h"
#include "test_support.h"
#include "transform/dct_kernels.h"
#include "transform/predict_kernels.h"
#include "transform/quantise_kernels.h"

namespace morvane_test {
namespace {

void configure(int horizontal, int vertical, int progressive, int fields, int chroma) {
    reset_encoder_state();
    enc.config.horizontal_size = horizontal;
    enc.config.vertical_size = vertical;
    enc.config.progressive_sequence = progressive;
    enc.config.field_pictures = fields;
    enc.config.chroma_format = chroma;
    enc.config.statistics_file_name = "-";
}

struct size_case {
    int horizontal, vertical, progressive, fields, chroma;
    int mb_width, mb_height, mb_height2, width, height, chrom_width, chrom_height, height2, width2, chrom_width2,
        block_count;
};

TEST(init_encoder, derived_sizes) {
    const size_case cases[] = {
        {64, 48, 1, 0, 1, 4, 3, 3, 64, 48, 32, 24, 48, 64, 32, 6},
        // Interlaced frames round up to an even number of macroblock rows.
        {720, 488, 0, 0, 1, 45, 32, 32, 720, 512, 360, 256, 512, 720, 360, 6},
        {720, 488, 1, 0, 1, 45, 31, 31, 720, 496, 360, 248, 496, 720, 360, 6},
        {720, 576, 0, 1, 1, 45, 36, 18, 720, 576, 360, 288, 288, 1440, 720, 6},
        {100, 50, 0, 1, 2, 7, 4, 2, 112, 64, 56, 64, 32, 224, 112, 8},
        {65, 49, 1, 0, 3, 5, 4, 4, 80, 64, 80, 64, 64, 80, 80, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.horizontal << "x" << c.vertical << " progressive " << c.progressive
                                        << " fields " << c.fields << " chroma " << c.chroma);
        configure(c.horizontal, c.vertical, c.progressive, c.fields, c.chroma);
        init_encoder();
        EXPECT_EQ(enc.config.mb_width, c.mb_width);
        EXPECT_EQ(enc.config.mb_height, c.mb_height);
        EXPECT_EQ(enc.config.mb_height2, c.mb_height2);
        EXPECT_EQ(enc.config.width, c.width);
        EXPECT_EQ(enc.config.height, c.height);
        EXPECT_EQ(enc.config.chrom_width, c.chrom_width);
        EXPECT_EQ(enc.config.chrom_height, c.chrom_height);
        EXPECT_EQ(enc.config.height2, c.height2);
        EXPECT_EQ(enc.config.width2, c.width2);
        EXPECT_EQ(enc.config.chrom_width2, c.chrom_width2);
        EXPECT_EQ(enc.config.block_count, c.block_count);
        EXPECT_EQ(enc.files.statistics_file, stdout);
    }
}

TEST(init_encoder, buffers_are_separate_and_cover_the_padded_picture) {
    configure(100, 50, 0, 1, 2);
    init_encoder();
    const frame_planes* frames[7] = {&enc.buffers.new_ref_frame, &enc.buffers.old_ref_frame, &enc.buffers.aux_ref_frame,
                                     &enc.buffers.new_org_frame, &enc.buffers.old_org_frame, &enc.buffers.aux_org_frame,
                                     &enc.buffers.pred_frame};
    std::set<uint8_t*> planes;
    for (const frame_planes* f : frames)
        for (int k = 0; k < 3; ++k) {
            uint8_t* plane = (*f)[k];
            ASSERT_NE(plane, nullptr);
            planes.insert(plane);
            std::size_t size = k == 0 ? 112 * 64 : 56 * 64;
            plane[0] = 1;
            plane[size - 1] = 2;  // the last padded sample is addressable
        }
    EXPECT_EQ(planes.size(), 21u);
    ASSERT_NE(enc.buffers.mb_info, nullptr);
    enc.buffers.mb_info[7 * 2 - 1].cbp = 255;  // mb_width x mb_height2 records
    ASSERT_NE(enc.buffers.blocks, nullptr);
    enc.buffers.blocks[7 * 2 * 8 * 64 - 1] = -1;  // block_count blocks per record
}

TEST(init_encoder, clip_table_clamps_to_sample_range) {
    configure(16, 16, 1, 0, 1);
    init_encoder();
    const int inputs[] = {-384, -1, 0, 1, 128, 254, 255, 256, 639};
    const int outputs[] = {0, 0, 0, 1, 128, 254, 255, 255, 255};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(enc.buffers.clip_table[inputs[i]], outputs[i]) << inputs[i];
}

TEST(init_encoder, statistics_file_is_created_or_named_in_the_error) {
    temp_dir dir;
    configure(16, 16, 1, 0, 1);
    enc.config.statistics_file_name = dir / "stats.txt";
    init_encoder();
    ASSERT_NE(enc.files.statistics_file, nullptr);
    EXPECT_NE(enc.files.statistics_file, stdout);
    std::fclose(enc.files.statistics_file);
    enc.files.statistics_file = nullptr;
    EXPECT_TRUE(file_exists(dir / "stats.txt"));

    configure(16, 16, 1, 0, 1);
    enc.config.statistics_file_name = dir / "missing/stats.txt";
    try {
        init_encoder();
        ADD_FAILURE() << "no fatal error";
    } catch (const fatal_exit& f) {
        EXPECT_EQ(f.message, "Couldn't create statistics output file " + (dir / "missing/stats.txt"));
    }
}

// A kernel table in use is the one its init gives for these flags.
template <typename Table>
bool in_use(const Table& table, void (*init)(Table&, unsigned), unsigned flags) {
    Table expected{};
    init(expected, flags);
    return std::memcmp(&table, &expected, sizeof expected) == 0;
}

void expect_tables_for(unsigned flags, const char* what) {
    EXPECT_TRUE(in_use(motion_k, init_motion_kernels, flags)) << what;
    EXPECT_TRUE(in_use(dct_k, init_dct_kernels, flags)) << what;
    EXPECT_TRUE(in_use(quantise_k, init_quantise_kernels, flags)) << what;
    EXPECT_TRUE(in_use(predict_k, init_predict_kernels, flags)) << what;
    EXPECT_TRUE(in_use(stats_k, init_stats_kernels, flags)) << what;
}

// The cap of "none" gives the reference kernels everywhere.
TEST(init_encoder, a_cpu_cap_set_before_start_up_picks_the_kernels) {
    for (const simd_level& level : simd_levels()) {
        set_cpu_cap(level.mask);
        configure(16, 16, 1, 0, 1);
        init_encoder();
        expect_tables_for(cpu_flags(), std::string(level.name).c_str());
    }
    set_cpu_cap(~0u);
    configure(16, 16, 1, 0, 1);
    init_encoder();
    expect_tables_for(cpu_flags(), "no cap");
}

}  // namespace
}  // namespace morvane_test
