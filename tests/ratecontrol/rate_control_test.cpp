#include "ratecontrol/rate_control.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "rc_test_support.h"
#include "test_support.h"

using rc_test::picture_size;
using rc_test::set_bitcount;
using rc_test::start_state;
using rc_test::statistics_capture;

namespace {

// --- sequence start -------------------------------------------------------

TEST(RateControlSequence, DefaultsAtFiveMegabitThirtyFramesAreReported) {
    statistics_capture stats;
    start_state({}, 5000000.0, 30.0, stats);
    rc_init_sequence();
    EXPECT_EQ(stats.take(),
              "\nrate control: sequence initialization\n"
              " initial global complexity measures (I,P,B): Xi=6956522, Xp=2608696, Xb=1826087\n"
              " reaction parameter: r=333333\n"
              " initial virtual buffer fullness (I,P,B): d0i=107527, d0p=107527, d0b=150537\n"
              " initial average activity: avg_act=400.0\n");
    EXPECT_EQ(enc.run.rc.R, 0);
}

TEST(RateControlSequence, GivenValuesAreKeptAndBufferDefaultsUseTheGivenReaction) {
    statistics_capture stats;
    start_state({}, 5000000.0, 30.0, stats);
    enc.config.r = 3100;
    enc.config.Xi = -5;
    enc.config.Xb = 77;
    enc.config.d0p = -9;
    enc.config.avg_act = 12.5;
    rc_init_sequence();
    EXPECT_EQ(stats.take(),
              "\nrate control: sequence initialization\n"
              " initial global complexity measures (I,P,B): Xi=-5, Xp=2608696, Xb=77\n"
              " reaction parameter: r=3100\n"
              " initial virtual buffer fullness (I,P,B): d0i=1000, d0p=-9, d0b=1400\n"
              " initial average activity: avg_act=12.5\n");
    // Defaults go to the running copies; the configuration keeps what was read.
    EXPECT_EQ(enc.config.Xp, 0);
    EXPECT_EQ(enc.config.d0i, 0);
}

TEST(RateControlSequence, DefaultsThatRoundToZeroAtTinyBitRatesBecomeOne) {
    statistics_capture stats;
    start_state({}, 1.0, 30.0, stats);
    rc_init_sequence();
    EXPECT_EQ(enc.run.rc.r, 1);   // floor(2/30 + 0.5) = 0
    EXPECT_EQ(enc.run.rc.Xi, 1);  // floor(160/115 + 0.5) = 1 already
    EXPECT_EQ(enc.run.rc.Xp, 1);
    EXPECT_EQ(enc.run.rc.Xb, 1);  // floor(42/115 + 0.5) = 0
    // A whole picture then runs without a division by zero.
    rc_init_gop(0, 0);
    enc.picture.pict_type = 1;
    rc_init_picture(enc.buffers.new_org_frame[0], enc.buffers.mb_info, bitcount());
    EXPECT_EQ(rc_first_mquant(), 2);
    EXPECT_EQ(rc_mquant(0, enc.buffers.mb_info[0].act, bitcount()), 2);
}

TEST(RateControlSequence, DefaultsBeyondTheIntRangeSaturate) {
    statistics_capture stats;
    start_state({}, 429496729200.0, 24000.0 / 1001.0, stats);
    rc_init_sequence();
    EXPECT_EQ(enc.run.rc.r, INT_MAX);
    EXPECT_EQ(enc.run.rc.Xi, INT_MAX);
    EXPECT_EQ(enc.run.rc.Xp, INT_MAX);
    EXPECT_EQ(enc.run.rc.Xb, INT_MAX);
    EXPECT_EQ(enc.run.rc.d0i, 692736660);  // floor(10 * (2^31 - 1) / 31 + 0.5)
}

// --- GOP budget -------------------------------------------------------------

struct gop_case {
    int field_pictures, np, nb;
    const char* report;
};

class RateControlGop : public ::testing::TestWithParam<gop_case> {};

TEST_P(RateControlGop, AddsTheNominalBitsOfTheGopFrames) {
    const gop_case& c = GetParam();
    statistics_capture stats;
    start_state({}, 5000000.0, 30.0, stats);
    enc.config.field_pictures = c.field_pictures;
    rc_init_gop(c.np, c.nb);
    EXPECT_EQ(stats.take(), c.report);
}

INSTANTIATE_TEST_SUITE_P(Cases, RateControlGop,
                         ::testing::Values(gop_case{0, 4, 10,
                                                    "\nrate control: new group of pictures (GOP)\n"
                                                    " target number of bits for GOP: R=2500000\n"
                                                    " number of P pictures in GOP: Np=4\n"
                                                    " number of B pictures in GOP: Nb=10\n"},
                                           gop_case{1, 4, 10,
                                                    "\nrate control: new group of pictures (GOP)\n"
                                                    " target number of bits for GOP: R=2500000\n"
                                                    " number of P pictures in GOP: Np=9\n"
                                                    " number of B pictures in GOP: Nb=20\n"},
                                           gop_case{0, 0, 0,
                                                    "\nrate control: new group of pictures (GOP)\n"
                                                    " target number of bits for GOP: R=166667\n"
                                                    " number of P pictures in GOP: Np=0\n"
                                                    " number of B pictures in GOP: Nb=0\n"}),
                         [](const ::testing::TestParamInfo<gop_case>& info) {
                             const auto& c = info.param;
                             return std::string(c.field_pictures ? "fields" : "frames") + "_Np" +
                                    std::to_string(c.np) + "_Nb" + std::to_string(c.nb);
                         });

TEST(RateControlGopBudget, RemainderCarriesIntoTheNextGop) {
    statistics_capture stats;
    start_state({}, 5000000.0, 30.0, stats);
    enc.run.rc.R = -1000;
    rc_init_gop(1, 0);  // 2 frames: 333333.33 bits
    EXPECT_EQ(enc.run.rc.R, 332333);
}

TEST(RateControlGopBudget, BudgetsBeyondTwoToThe31ArePrintedWhole) {
    statistics_capture stats;
    start_state({}, 100e9, 25.0, stats);
    rc_init_gop(0, 0);
    EXPECT_EQ(stats.take(),
              "\nrate control: new group of pictures (GOP)\n"
              " target number of bits for GOP: R=4000000000\n"
              " number of P pictures in GOP: Np=0\n"
              " number of B pictures in GOP: Nb=0\n");
}

// --- picture target ---------------------------------------------------------

struct target_case {
    int pict_type;
    int64_t R;
    int Np, Nb, Xi, Xp, Xb;
    double bit_rate, frame_rate;
    int64_t T;
};

class RateControlTarget : public ::testing::TestWithParam<target_case> {};

TEST_P(RateControlTarget, SharesTheGopBudgetByComplexity) {
    const target_case& c = GetParam();
    statistics_capture stats;
    start_state({}, c.bit_rate, c.frame_rate, stats);
    enc.run.rc.d0i = 11, enc.run.rc.d0p = 22, enc.run.rc.d0b = 33;
    enc.picture.pict_type = c.pict_type;
    enc.run.rc.R = c.R, enc.run.rc.Np = c.Np, enc.run.rc.Nb = c.Nb;
    enc.run.rc.Xi = c.Xi, enc.run.rc.Xp = c.Xp, enc.run.rc.Xb = c.Xb;
    set_bitcount(1234);
    rc_init_picture(enc.buffers.new_org_frame[0], enc.buffers.mb_info, bitcount());
    EXPECT_EQ(enc.run.rc.T, c.T);
    EXPECT_EQ(enc.run.rc.d, c.pict_type == 1 ? 11 : c.pict_type == 2 ? 22 : 33);
    EXPECT_EQ(enc.run.rc.S, 1234);
    EXPECT_EQ(stats.take(),
              "\nrate control: start of picture\n target number of bits: T=" + std::to_string(c.T) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateControlTarget,
    ::testing::Values(
        // 90000 / (1 + 2 + 7 / 1.4)
        target_case{1, 90000, 2, 7, 1000, 1000, 1000, 400.0, 25.0, 11250},
        // 90000 / (2 + 7 / 1.4)
        target_case{2, 90000, 2, 7, 1000, 1000, 1000, 400.0, 25.0, 12857},
        // 90000 / (7 + 2 x 1.4)
        target_case{3, 90000, 2, 7, 1000, 1000, 1000, 400.0, 25.0, 9184},
        // first I and P pictures of a 400 kbit/s, 25 Hz sequence with default complexities
        target_case{1, 64000, 1, 2, 556522, 208696, 146087, 400000.0, 25.0, 36571},
        target_case{2, 46423, 1, 2, 52731, 208696, 146087, 400000.0, 25.0, 23212},
        // lower bound: floor(5e6 / 240 + 0.5)
        target_case{1, 100, 0, 0, 1000, 1000, 1000, 5000000.0, 30.0, 20833},
        target_case{3, -50000, 0, 3, 1000, 1000, 1000, 5000000.0, 30.0, 20833},
        // 80 Mbit/s, N 60, M 1: Np x Xp = 59 x 41739130 passes 2^31
        target_case{1, 160000000, 59, 0, 111304348, 41739130, 29217391, 80000000.0, 30.0, 6918919},
        // a target beyond the int range keeps its value
        target_case{1, 4000000000LL, 0, 0, 1000, 1000, 1000, 100e9, 25.0, 4000000000LL},
        // no P or B picture left to share with: an unbounded share stops at 2^62,
        // an undefined one (0 / 0) falls to the lower bound
        target_case{2, 1000, 0, 0, 1000, 1000, 1000, 400000.0, 25.0, int64_t{1} << 62},
        target_case{2, 0, 0, 0, 1000, 1000, 1000, 400000.0, 25.0, 2000},
        target_case{3, -1000, 0, 0, 1000, 1000, 1000, 400000.0, 25.0, 2000}),
    [](const ::testing::TestParamInfo<target_case>& info) {
        const auto& c = info.param;
        return std::string(1, "IPB"[c.pict_type - 1]) + "_R" + morvane_test::signed_name(c.R) + "_Np" +
               std::to_string(c.Np) + "_Nb" + std::to_string(c.Nb);
    });

// --- activities -------------------------------------------------------------

struct variance_case {
    const char* name;
    std::vector<uint8_t> samples;  // 8 rows of `stride` samples
    int stride;
    double variance;
};

std::vector<uint8_t> rows_of(int stride, uint8_t (*sample)(int x, int y)) {
    std::vector<uint8_t> v(8 * stride);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < stride; ++x) v[y * stride + x] = sample(x, y);
    return v;
}

TEST(RateControlActivity, VarianceOfAnEightByEightBlock) {
    const variance_case cases[] = {
        {"flat", rows_of(8, [](int, int) -> uint8_t { return 77; }), 8, 0.0},
        {"upper half black, lower white", rows_of(8, [](int, int y) -> uint8_t { return y < 4 ? 0 : 255; }), 8,
         16256.25},
        {"one sample of 64", rows_of(8, [](int x, int y) -> uint8_t { return x == 3 && y == 5 ? 64 : 0; }), 8, 63.0},
        // samples beyond the 8 columns of a row are not part of the block
        {"stride 16, right half ignored", rows_of(16, [](int x, int) -> uint8_t { return x < 8 ? 10 : 250; }), 16,
         0.0},
    };
    for (const variance_case& c : cases)
        EXPECT_DOUBLE_EQ(variance_8x8(c.samples.data(), c.stride), c.variance) << c.name;
}

// One 16x32 frame (two macroblocks of a progressive frame, or one of an
// interlaced frame or field) and the activity of each macroblock.
struct activity_case {
    const char* name;
    int progressive_sequence, field_pictures, picture_structure;
    uint8_t (*sample)(int x, int y);
    std::vector<double> act;
};

TEST(RateControlActivity, SmallestBlockVariancePlusOne) {
    const activity_case cases[] = {
        {"flat macroblocks", 1, 0, 3, [](int, int) -> uint8_t { return 128; }, {1.0, 1.0}},
        // lines alternate 0 / 200: every frame block has variance 10000
        {"alternating lines, progressive",
         1,
         0,
         3,
         [](int, int y) -> uint8_t { return y % 2 ? 200 : 0; },
         {10001.0, 10001.0}},
        // the same lines in an interlaced frame picture: each field block is flat
        {"alternating lines, interlaced frame",
         0,
         0,
         3,
         [](int, int y) -> uint8_t { return y % 2 ? 200 : 0; },
         {1.0, 1.0}},
        // one flat quadrant is enough
        {"one flat quadrant",
         1,
         0,
         3,
         [](int x, int y) -> uint8_t {
             return (x >= 8 && y >= 8 && y < 16) ? 50 : static_cast<uint8_t>((x * 37 + y * 11) & 255);
         },
         {1.0, 0.0}},
        // even lines: columns 0 / 100 (variance 2500); odd lines flat
        {"top field", 0, 1, 1, [](int x, int y) -> uint8_t { return y % 2 ? 50 : (x % 2 ? 100 : 0); }, {2501.0}},
        {"bottom field", 0, 1, 2, [](int x, int y) -> uint8_t { return y % 2 ? 50 : (x % 2 ? 100 : 0); }, {1.0}},
    };
    for (const activity_case& c : cases) {
        statistics_capture stats;
        picture_size size{16, 32, CHROMA420, c.progressive_sequence, c.field_pictures};
        start_state(size, 5000000.0, 30.0, stats);
        enc.picture.picture_structure = c.picture_structure;
        uint8_t* frame = enc.buffers.new_org_frame[0];
        for (int y = 0; y < enc.config.height; ++y)
            for (int x = 0; x < enc.config.width; ++x) frame[y * enc.config.width + x] = c.sample(x, y);
        compute_activities(frame, enc.buffers.mb_info);
        ASSERT_EQ(static_cast<std::size_t>(enc.config.mb_width * enc.config.mb_height2), c.act.size()) << c.name;
        for (std::size_t k = 0; k < c.act.size(); ++k) {
            if (c.act[k] == 0.0)
                EXPECT_GT(enc.buffers.mb_info[k].act, 1.0) << c.name << " macroblock " << k;
            else
                EXPECT_DOUBLE_EQ(enc.buffers.mb_info[k].act, c.act[k]) << c.name << " macroblock " << k;
        }
    }
}

// --- quantisers ---------------------------------------------------------------

// A one-macroblock picture where Qj equals dj / 2 (r = 62) and, with the
// activity equal to avg_act, N_actj is 1: the non-linear q is dj and the
// linear q is 2 x floor(dj / 2 + 0.5).
void start_one_macroblock(statistics_capture& stats, int q_scale_type) {
    start_state({}, 5000000.0, 30.0, stats);
    enc.run.rc.r = 62;
    enc.run.rc.avg_act = 100.0;
    enc.picture.q_scale_type = q_scale_type;
    enc.buffers.mb_info[0].act = 100.0;
    enc.run.rc.T = 0;
    enc.run.rc.S = 0;
    set_bitcount(0);
}

struct mquant_case {
    int64_t dj;
    int prev_linear_mquant;
    int mquant;
};

TEST(RateControlQuantiser, LinearScaleWithHysteresisAndLimits) {
    const mquant_case cases[] = {
        {24, 20, 20},  {16, 20, 20},  {26, 20, 26}, {14, 20, 14}, {6, 4, 6},  {8, 6, 6},  {8, 2, 8},
        {13, 0, 14},   {-40, 20, 2},  {0, 0, 2},    {62, 0, 62},  {90, 0, 62}, {int64_t{1} << 40, 0, 62},
        {-(int64_t{1} << 40), 30, 2},
    };
    for (const mquant_case& c : cases) {
        statistics_capture stats;
        start_one_macroblock(stats, 0);
        enc.run.rc.d = c.dj;
        enc.run.rc.prev_linear_mquant = c.prev_linear_mquant;
        EXPECT_EQ(rc_mquant(0, enc.buffers.mb_info[0].act, bitcount()), c.mquant)
            << "dj " << c.dj << " prev " << c.prev_linear_mquant;
        EXPECT_EQ(enc.run.rc.prev_linear_mquant, c.mquant);
    }
}

TEST(RateControlQuantiser, NonLinearScaleThroughTheCodeMap) {
    const mquant_case cases[] = {
        {20, 0, 20}, {26, 0, 24}, {27, 0, 28}, {90, 0, 88}, {91, 0, 96}, {112, 0, 112},
        {113, 0, 112}, {int64_t{1} << 40, 0, 112}, {0, 0, 1}, {-7, 0, 1}, {5, 0, 5},
    };
    for (const mquant_case& c : cases) {
        statistics_capture stats;
        start_one_macroblock(stats, 1);
        enc.run.rc.d = c.dj;
        enc.run.rc.prev_linear_mquant = 44;
        EXPECT_EQ(rc_mquant(0, enc.buffers.mb_info[0].act, bitcount()), c.mquant) << "dj " << c.dj;
        EXPECT_EQ(enc.run.rc.prev_linear_mquant, 44) << "non-linear choices leave the hysteresis alone";
    }
}

TEST(RateControlQuantiser, BufferFullnessCountsBitsSpentAgainstTheTargetShare) {
    statistics_capture stats;
    // Four macroblocks: the share of T = 403 is 403 / 4 = 100 bits each.
    picture_size size{32, 32};
    start_state(size, 5000000.0, 30.0, stats);
    enc.run.rc.r = 62, enc.run.rc.avg_act = 100.0, enc.picture.q_scale_type = 1;
    for (int k = 0; k < 4; ++k) enc.buffers.mb_info[k].act = 100.0;
    enc.run.rc.T = 403, enc.run.rc.S = 1000, enc.run.rc.d = 40;
    set_bitcount(1000 + 290);
    // dj = 40 + 290 - 3 x 100 = 30
    EXPECT_EQ(rc_mquant(3, enc.buffers.mb_info[3].act, bitcount()), 32);
    EXPECT_EQ(enc.run.rc.mquant_sum, 32);
    EXPECT_DOUBLE_EQ(enc.run.rc.act_sum, 100.0);
}

TEST(RateControlQuantiser, FlatMacroblockHalvesTheQuantiser) {
    statistics_capture stats;
    start_one_macroblock(stats, 0);
    enc.run.rc.avg_act = 400.0;
    enc.buffers.mb_info[0].act = 1.0;  // N_actj = 402 / 801, about 0.50
    enc.run.rc.d = 40;                 // Qj = 20
    EXPECT_EQ(rc_mquant(0, enc.buffers.mb_info[0].act, bitcount()), 20);
}

TEST(RateControlQuantiser, FirstQuantiserOfTheDefaultIPicture) {
    for (int q_scale_type : {0, 1}) {
        statistics_capture stats;
        start_state({}, 5000000.0, 30.0, stats);
        enc.picture.q_scale_type = q_scale_type;
        rc_init_sequence();
        rc_init_gop(4, 10);
        enc.picture.pict_type = 1;
        rc_init_picture(enc.buffers.new_org_frame[0], enc.buffers.mb_info, bitcount());
        enc.run.rc.prev_linear_mquant = 0;
        EXPECT_EQ(rc_first_mquant(), 20) << "q_scale_type " << q_scale_type;
        EXPECT_EQ(enc.run.rc.prev_linear_mquant, q_scale_type ? 0 : 20);
    }
}

TEST(RateControlQuantiser, FirstQuantiserLimits) {
    struct {
        int q_scale_type;
        int64_t d;
        int mquant;
    } const cases[] = {
        {0, -100, 2}, {0, 0, 2}, {0, int64_t{1} << 45, 62}, {1, -100, 1}, {1, 0, 1}, {1, int64_t{1} << 45, 112},
        {0, 31, 62},  {1, 31, 64}, {0, 9, 18}, {1, 9, 18},
    };
    for (const auto& c : cases) {
        statistics_capture stats;
        start_state({}, 5000000.0, 30.0, stats);
        enc.run.rc.r = 31;
        enc.picture.q_scale_type = c.q_scale_type;
        enc.run.rc.d = c.d;
        EXPECT_EQ(rc_first_mquant(), c.mquant) << "q_scale_type " << c.q_scale_type << " d " << c.d;
    }
}

// --- end of picture ---------------------------------------------------------

TEST(RateControlPicture, WholeIPictureReports) {
    statistics_capture stats;
    start_state({32, 16}, 5000000.0, 30.0, stats);
    std::memset(enc.buffers.new_org_frame[0], 90, static_cast<std::size_t>(enc.config.width) * enc.config.height);
    rc_init_sequence();
    rc_init_gop(0, 0);
    stats.take();

    enc.picture.pict_type = 1;
    set_bitcount(0);
    rc_init_picture(enc.buffers.new_org_frame[0], enc.buffers.mb_info, bitcount());
    EXPECT_EQ(stats.take(), "\nrate control: start of picture\n target number of bits: T=166667\n");
    EXPECT_EQ(rc_first_mquant(), 20);
    // dj = 107527, Qj = 10.00002, N_actj = 0.50187: 2 x floor(5.52) = 10
    EXPECT_EQ(rc_mquant(0, enc.buffers.mb_info[0].act, bitcount()), 10);
    set_bitcount(8000);
    // dj = 107527 + 8000 - 83333 = 32194: 2 x floor(2.00) = 4
    EXPECT_EQ(rc_mquant(1, enc.buffers.mb_info[1].act, bitcount()), 4);
    set_bitcount(20000);
    rc_update_picture(bitcount());
    EXPECT_EQ(stats.take(),
              "\nrate control: end of picture\n"
              " actual number of bits: S=20000\n"
              " average quantization parameter Q=7.0\n"
              " remaining number of bits in GOP: R=146667\n"
              " global complexity measures (I,P,B): Xi=70000, Xp=2608696, Xb=1826087\n"
              " virtual buffer fullness (I,P,B): d0i=-39140, d0p=107527, d0b=150537\n"
              " remaining number of P pictures in GOP: Np=0\n"
              " remaining number of B pictures in GOP: Nb=0\n"
              " average activity: avg_act=1.0\n");
}

TEST(RateControlPicture, EachTypeUpdatesItsOwnComplexityAndCount) {
    for (int type : {1, 2, 3}) {
        statistics_capture stats;
        start_state({}, 5000000.0, 30.0, stats);
        enc.picture.pict_type = type;
        enc.run.rc.Xi = 1, enc.run.rc.Xp = 2, enc.run.rc.Xb = 3, enc.run.rc.d0i = 4, enc.run.rc.d0p = 5,
        enc.run.rc.d0b = 6;
        enc.run.rc.Np = 7, enc.run.rc.Nb = 8, enc.run.rc.R = 10000;
        enc.run.rc.S = 100, enc.run.rc.T = 500, enc.run.rc.d = 50, enc.run.rc.mquant_sum = 10,
        enc.run.rc.act_sum = 30.0;
        set_bitcount(400);
        rc_update_picture(bitcount());
        // S = 300; X = floor(300 x 5 + 0.5); d = 50 + 300 - 500
        EXPECT_EQ(enc.run.rc.S, 300);
        EXPECT_EQ(enc.run.rc.R, 9700);
        EXPECT_EQ(enc.run.rc.Xi, type == 1 ? 1500 : 1);
        EXPECT_EQ(enc.run.rc.Xp, type == 2 ? 1500 : 2);
        EXPECT_EQ(enc.run.rc.Xb, type == 3 ? 1500 : 3);
        EXPECT_EQ(enc.run.rc.d0i, type == 1 ? -150 : 4);
        EXPECT_EQ(enc.run.rc.d0p, type == 2 ? -150 : 5);
        EXPECT_EQ(enc.run.rc.d0b, type == 3 ? -150 : 6);
        EXPECT_EQ(enc.run.rc.Np, type == 2 ? 6 : 7);
        EXPECT_EQ(enc.run.rc.Nb, type == 3 ? 7 : 8);
        EXPECT_DOUBLE_EQ(enc.run.rc.avg_act, 30.0);
    }
}

TEST(RateControlPicture, HugePictureSaturatesTheComplexityAndKeepsItsBitCount) {
    statistics_capture stats;
    start_state({}, 5000000.0, 30.0, stats);
    enc.picture.pict_type = 1;
    enc.run.rc.S = 0, enc.run.rc.T = 1000, enc.run.rc.d = 0, enc.run.rc.R = 0, enc.run.rc.mquant_sum = 62;
    set_bitcount(int64_t{1} << 33);
    rc_update_picture(bitcount());
    EXPECT_EQ(enc.run.rc.S, int64_t{1} << 33);
    EXPECT_EQ(enc.run.rc.Xi, INT_MAX);
    EXPECT_EQ(enc.run.rc.d0i, INT_MAX);
    const std::string text = stats.take();
    EXPECT_NE(text.find(" actual number of bits: S=8589934592\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" remaining number of bits in GOP: R=-8589934592\n"), std::string::npos) << text;
}

}  // namespace
