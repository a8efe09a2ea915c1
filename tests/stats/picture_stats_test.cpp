#include "stats/picture_stats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "picture_setup.h"
#include "stats/stats_kernels.h"

namespace {

// A fresh state of the given size with the statistics file read back from a
// temporary file.
class PictureStats : public ::testing::Test {
protected:
    void TearDown() override {
        if (file_) {
            if (enc.files.statistics_file == file_) enc.files.statistics_file = nullptr;
            std::fclose(file_);
        }
    }

    void start(int hsize, int vsize, int chroma_format, int progressive_sequence, int field_pictures) {
        morvane_test::start_encoder({hsize, vsize, chroma_format, progressive_sequence, field_pictures});
        file_ = std::tmpfile();
        enc.files.statistics_file = file_;
        enc.picture.picture_structure = 3;
    }

    std::string report() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        int c;
        while ((c = std::fgetc(file_)) != EOF) text.push_back(static_cast<char>(c));
        return text;
    }

    // Fills every plane of a frame from sample(component, x, y).
    static void fill(const frame_planes& frame, int (*sample)(int c, int x, int y)) {
        for (int c = 0; c < 3; ++c) {
            const int w = c == 0 ? enc.config.width : enc.config.chrom_width;
            const int h = c == 0 ? enc.config.height : enc.config.chrom_height;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) frame[c][y * w + x] = static_cast<uint8_t>(sample(c, x, y));
        }
    }

    FILE* file_ = nullptr;
};

// Source columns alternate: Y 90/110 (variance 100), U 120/136 (64), V 50/70 (100).
int source_sample(int c, int x, int) {
    static const int low[3] = {90, 120, 50}, high[3] = {110, 136, 70};
    return x % 2 ? high[c] : low[c];
}

// --- error measures -----------------------------------------------------------

TEST(PlaneErrorStats, MeanSquaredErrorAndVariance) {
    const uint8_t org[2][4] = {{10, 20, 99, 99}, {30, 40, 99, 99}};
    const uint8_t rec[2][4] = {{10, 22, 0, 0}, {27, 40, 0, 0}};
    double variance = 0, mse = 0;
    plane_error_stats(&org[0][0], &rec[0][0], 4, 2, 2, &variance, &mse);
    EXPECT_DOUBLE_EQ(variance, 125.0);   // mean 25, mean square 750
    EXPECT_DOUBLE_EQ(mse, 13.0 / 4.0);   // (4 + 9) / 4
    plane_error_stats(&org[0][0], &org[0][0], 4, 2, 2, &variance, &mse);
    EXPECT_DOUBLE_EQ(mse, 0.00001);      // a perfect match keeps the decibels finite
}

// White against black: the mean squared error is the full 255^2 and the
// variance 0; a perfect match reports the floor value. 37 samples a row take
// the sixteen-at-a-time path and a tail, at every level this machine has.
TEST(PlaneErrorStats, ExtremePlanesGiveHandWorkedValues) {
    std::vector<uint8_t> white(40 * 3, 255), black(40 * 3, 0);
    for (const simd_level& level : simd_levels_available()) {
        init_stats_kernels(stats_k, level.mask);
        double variance, mse;
        plane_error_stats(white.data(), black.data(), 40, 37, 3, &variance, &mse);
        EXPECT_EQ(65025.0, mse) << level.name;
        EXPECT_EQ(0.0, variance) << level.name;
        plane_error_stats(white.data(), white.data(), 40, 37, 3, &variance, &mse);
        EXPECT_EQ(0.00001, mse) << level.name;
    }
    init_stats_kernels(stats_k, cpu_flags());
}

TEST_F(PictureStats, SnrOfAFramePicture) {
    start(16, 16, 1, 1, 0);
    fill(enc.buffers.new_org_frame, source_sample);
    fill(enc.buffers.new_ref_frame, [](int c, int x, int y) {
        int v = source_sample(c, x, y);
        if (c == 1) v += 2;                   // U off by 2 everywhere: MSE 4
        if (c == 2 && x == 3 && y == 5) v += 8;  // V off by 8 once in 64: MSE 1
        return v;
    });
    compute_snr(enc.buffers.new_org_frame, enc.buffers.new_ref_frame);
    EXPECT_EQ(report(),
              "Y: variance= 100, MSE=1e-05 (98.1 dB), SNR= 70 dB\n"
              "U: variance=  64, MSE=  4 (42.1 dB), SNR= 12 dB\n"
              "V: variance= 100, MSE=  1 (48.1 dB), SNR= 20 dB\n");
}

TEST_F(PictureStats, SnrMeasuresOnlyTheVisibleArea) {
    start(10, 6, 1, 1, 0);  // padded to 16 x 16
    fill(enc.buffers.new_org_frame, source_sample);
    fill(enc.buffers.new_ref_frame, [](int c, int x, int y) {
        const bool visible = c == 0 ? (x < 10 && y < 6) : (x < 5 && y < 3);
        return visible ? source_sample(c, x, y) : 255;
    });
    compute_snr(enc.buffers.new_org_frame, enc.buffers.new_ref_frame);
    EXPECT_EQ(report(),
              "Y: variance= 100, MSE=1e-05 (98.1 dB), SNR= 70 dB\n"
              "U: variance=61.44, MSE=1e-05 (98.1 dB), SNR=67.9 dB\n"
              "V: variance=  96, MSE=1e-05 (98.1 dB), SNR=69.8 dB\n");
}

TEST_F(PictureStats, SnrOfEachFieldUsesItsOwnLines) {
    struct {
        int picture_structure;
        const char* lines;
    } const cases[] = {
        {1,
         "Y: variance= 100, MSE=1.01e+04 (8.09 dB), SNR=-20 dB\n"
         "U: variance=  64, MSE=1e-05 (98.1 dB), SNR=68.1 dB\n"
         "V: variance= 100, MSE=1e-05 (98.1 dB), SNR= 70 dB\n"},
        {2,
         "Y: variance= 100, MSE=1e-05 (98.1 dB), SNR= 70 dB\n"
         "U: variance=  64, MSE=  4 (42.1 dB), SNR= 12 dB\n"
         "V: variance= 100, MSE=1e-05 (98.1 dB), SNR= 70 dB\n"},
    };
    for (const auto& c : cases) {
        start(16, 32, 1, 0, 1);
        enc.picture.picture_structure = c.picture_structure;
        fill(enc.buffers.new_org_frame, source_sample);
        // Luminance lost on the even (top-field) lines, U off by 2 on the odd ones.
        fill(enc.buffers.new_ref_frame, [](int c, int x, int y) {
            if (c == 0) return y % 2 ? source_sample(c, x, y) : 0;
            if (c == 1) return source_sample(c, x, y) + (y % 2 ? 2 : 0);
            return source_sample(c, x, y);
        });
        compute_snr(enc.buffers.new_org_frame, enc.buffers.new_ref_frame);
        EXPECT_EQ(report(), c.lines) << "picture_structure " << c.picture_structure;
        TearDown();
        file_ = nullptr;
    }
}

// --- picture statistics -------------------------------------------------------

struct mb {
    int mb_type, motion_type, dct_type, mquant, cbp, skipped;
    int mv[2][2][2];
};

void set_records(const std::vector<mb>& records) {
    ASSERT_EQ(static_cast<std::size_t>(enc.config.mb_width * enc.config.mb_height2), records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        macroblock_info& m = enc.buffers.mb_info[k];
        const mb& r = records[k];
        m.mb_type = r.mb_type, m.motion_type = r.motion_type, m.dct_type = r.dct_type;
        m.mquant = r.mquant, m.cbp = r.cbp, m.skipped = r.skipped;
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b)
                for (int c = 0; c < 2; ++c) m.mv[a][b][c] = r.mv[a][b][c];
    }
}

constexpr int I = MB_INTRA, P = MB_PATTERN, F = MB_FORWARD, B = MB_BACKWARD, Q = MB_QUANT;

TEST_F(PictureStats, IPictureHasNoVectorMaps) {
    start(48, 32, 1, 1, 0);
    enc.picture.pict_type = 1;
    enc.picture.frame_pred_frame_dct = 1;
    set_records({
        {I, 2, 0, 20, 0x3f, 0, {}}, {I | Q, 2, 0, 10, 0x3f, 0, {}}, {I, 2, 0, 10, 0x3f, 0, {}},
        {I, 2, 0, 10, 0x3f, 0, {}}, {I | Q, 2, 0, 6, 0x3f, 0, {}},  {I | Q, 2, 0, 8, 0x3f, 0, {}},
    });
    print_picture_statistics();
    EXPECT_EQ(report(),
              "\npicture statistics:\n"
              " # of intra coded macroblocks:     6 (100.0%)\n"
              " # of coded blocks:               36 (100.0%)\n"
              " # of not coded macroblocks:       0 (0.0%)\n"
              " # of skipped macroblocks:         0 (0.0%)\n"
              " # of forw. pred. macroblocks:     0 (0.0%)\n"
              " # of backw. pred. macroblocks:    0 (0.0%)\n"
              " # of interpolated macroblocks:    0 (0.0%)\n"
              "\nmacroblock_type map:\n"
              "I  IQ I  \n"
              "I  IQ IQ \n"
              "\nmquant map:\n"
              " 20 10   \n"
              " 10  6  8\n"
              "\ncbp map:\n"
              "3f 3f 3f \n"
              "3f 3f 3f \n");
}

TEST_F(PictureStats, PFramePictureWithDctTypesAndForwardMaps) {
    start(64, 32, 1, 1, 0);
    enc.picture.pict_type = 2;
    enc.picture.frame_pred_frame_dct = 0;
    set_records({
        {F | P, 2, 1, 12, 0x21, 0, {{{3, -2}, {}}, {}}},
        {0, 2, 1, 12, 0x00, 1, {{{99, 99}, {}}, {}}},  // skipped
        {F | P | Q, 1, 0, 14, 0x3f, 0, {{{-4, 6}, {}}, {{5, -1}, {}}}},
        {F, 2, 1, 14, 0x00, 0, {}},
        {I, 2, 1, 14, 0x3f, 0, {{{7, 7}, {}}, {{7, 7}, {}}}},  // vectors of an earlier picture
        {P, 2, 0, 14, 0x01, 0, {{{9, 9}, {}}, {}}},
        {F | P | Q, 3, 1, 8, 0x10, 0, {{{1, -8}, {}}, {{50, 50}, {}}}},  // dual prime: one vector
        {F, 1, 0, 8, 0x00, 0, {{{2, 2}, {}}, {{-2, -2}, {}}}},
    });
    print_picture_statistics();
    EXPECT_EQ(report(),
              "\npicture statistics:\n"
              " # of intra coded macroblocks:     1 (12.5%)\n"
              " # of coded blocks:               16 (33.3%)\n"
              " # of not coded macroblocks:       2 (25.0%)\n"
              " # of skipped macroblocks:         1 (12.5%)\n"
              " # of forw. pred. macroblocks:     5 (62.5%)\n"
              " # of backw. pred. macroblocks:    0 (0.0%)\n"
              " # of interpolated macroblocks:    0 (0.0%)\n"
              "\nmacroblock_type map:\n"
              "F  SN fQ FN \n"
              "I  0  pQ fN \n"
              "\nmquant map:\n"
              " 12    14   \n"
              " 14     8   \n"
              "\ncbp map:\n"
              "21 00 3f 00 \n"
              "3f 01 10 00 \n"
              "\ndct_type map:\n"
              "1     0     \n"
              "1  0  1     \n"
              "\nforward motion vectors (first vector, horizontal):\n"
              "   3   .  -4   0\n"
              "   .   .   1   2\n"
              "\nforward motion vectors (first vector, vertical):\n"
              "  -2   .   6   0\n"
              "   .   .  -8   2\n"
              "\nforward motion vectors (second vector, horizontal):\n"
              "   .   .   5   .\n"
              "   .   .   .  -2\n"
              "\nforward motion vectors (second vector, vertical):\n"
              "   .   .  -1   .\n"
              "   .   .   .  -2\n");
}

TEST_F(PictureStats, BFieldPictureWithBothDirections) {
    start(48, 64, 2, 0, 1);  // 4:2:2, 8 blocks per macroblock; fields of 3 x 2 macroblocks
    enc.picture.pict_type = 3;
    enc.picture.picture_structure = 2;
    enc.picture.frame_pred_frame_dct = 0;  // no dct_type map in field pictures all the same
    set_records({
        {F | B | P, 2, 0, 16, 0xff, 0, {{{1, 2}, {-1, -2}}, {{3, 4}, {-3, -4}}}},
        {B | P, 1, 0, 16, 0x80, 0, {{{0, 0}, {5, 6}}, {{0, 0}, {0, 0}}}},
        {F, 1, 0, 16, 0x00, 1, {{{7, 8}, {0, 0}}, {}}},  // skipped, keeps its direction
        {B | Q | P, 2, 0, 18, 0x03, 0, {{{0, 0}, {9, 10}}, {{0, 0}, {11, 12}}}},
        {F | B, 1, 0, 18, 0x00, 0, {{{-5, 0}, {0, -5}}, {}}},
        {I, 2, 0, 20, 0xff, 0, {}},
    });
    print_picture_statistics();
    EXPECT_EQ(report(),
              "\npicture statistics:\n"
              " # of intra coded macroblocks:     1 (16.7%)\n"
              " # of coded blocks:               19 (39.6%)\n"
              " # of not coded macroblocks:       1 (16.7%)\n"
              " # of skipped macroblocks:         1 (16.7%)\n"
              " # of forw. pred. macroblocks:     1 (16.7%)\n"
              " # of backw. pred. macroblocks:    2 (33.3%)\n"
              " # of interpolated macroblocks:    2 (33.3%)\n"
              "\nmacroblock_type map:\n"
              "D  b  SN \n"
              "BQ dN I  \n"
              "\nmquant map:\n"
              " 16      \n"
              " 18    20\n"
              "\ncbp map:\n"
              "ff 80 00 \n"
              "03 00 ff \n"
              "\nforward motion vectors (first vector, horizontal):\n"
              "   1   .   7\n"
              "   .  -5   .\n"
              "\nforward motion vectors (first vector, vertical):\n"
              "   2   .   8\n"
              "   .   0   .\n"
              "\nforward motion vectors (second vector, horizontal):\n"
              "   3   .   .\n"
              "   .   .   .\n"
              "\nforward motion vectors (second vector, vertical):\n"
              "   4   .   .\n"
              "   .   .   .\n"
              "\nbackward motion vectors (first vector, horizontal):\n"
              "  -1   5   .\n"
              "   9   0   .\n"
              "\nbackward motion vectors (first vector, vertical):\n"
              "  -2   6   .\n"
              "  10  -5   .\n"
              "\nbackward motion vectors (second vector, horizontal):\n"
              "  -3   .   .\n"
              "  11   .   .\n"
              "\nbackward motion vectors (second vector, vertical):\n"
              "  -4   .   .\n"
              "  12   .   .\n");
}

TEST_F(PictureStats, DctTypeMapOnlyForFramePicturesWithFieldDct) {
    struct {
        int field_pictures, picture_structure, frame_pred_frame_dct;
        bool map;
    } const cases[] = {{0, 3, 0, true}, {0, 3, 1, false}, {1, 1, 0, false}, {1, 2, 0, false}};
    for (const auto& c : cases) {
        start(16, 32, 1, 0, c.field_pictures);
        enc.picture.pict_type = 1;
        enc.picture.picture_structure = c.picture_structure;
        enc.picture.frame_pred_frame_dct = c.frame_pred_frame_dct;
        for (int k = 0; k < enc.config.mb_width * enc.config.mb_height2; ++k)
            enc.buffers.mb_info[k] = macroblock_info{I, 2, 1, 2, 0x3f, 0, {}, {}, {}, 1.0};
        print_picture_statistics();
        EXPECT_EQ(report().find("\ndct_type map:\n") != std::string::npos, c.map)
            << c.field_pictures << " " << c.picture_structure << " " << c.frame_pred_frame_dct;
        TearDown();
        file_ = nullptr;
    }
}

}  // namespace
