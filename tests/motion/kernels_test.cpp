// Distortion measures: interpolation, early stop, variance, bidirectional
// averaging; worked values, met by the table of every level this machine has.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "driver/cpu.h"
#include "motion/motion_kernels.h"
#include "test_support.h"

namespace {

constexpr int stride = 24;

struct level_table {
    std::string name;
    motion_kernels k;
};

std::vector<level_table> tables() {
    std::vector<level_table> t;
    for (const simd_level& level : simd_levels_available()) {
        t.push_back({std::string(level.name), {}});
        init_motion_kernels(t.back().k, level.mask);
    }
    return t;
}

// The bidirectional entry for the same half-sample flags in both directions.
constexpr int both(int hx, int hy) { return half_index(hx, hy) | half_index(hx, hy) << 2; }

// A plane of 24 x 20 samples, all v.
std::vector<uint8_t> flat(int v) { return std::vector<uint8_t>(stride * 20, static_cast<uint8_t>(v)); }

struct early_stop_case {
    int rows;
    int row_sad;  // every row of the block differs by this sum
    int limit;
    int expected;
};

class block_sad_early_stop : public ::testing::TestWithParam<early_stop_case> {};

// Each row of cur differs from ref in its first sample only.
TEST_P(block_sad_early_stop, returns_the_partial_sum_of_the_first_row_reaching_the_limit) {
    const auto c = GetParam();
    auto ref = flat(100);
    auto cur = flat(100);
    for (int y = 0; y < c.rows; ++y) cur[y * stride] = static_cast<uint8_t>(100 + c.row_sad);
    for (const auto& [name, k] : tables())
        EXPECT_EQ(k.block_sad[0](ref.data(), cur.data(), stride, c.rows, c.limit), c.expected) << name;
}

INSTANTIATE_TEST_SUITE_P(cases, block_sad_early_stop,
                         ::testing::Values(early_stop_case{16, 10, 65536, 160},  // never reached: full sum
                                           early_stop_case{16, 10, 161, 160},
                                           early_stop_case{16, 10, 160, 160},  // reached on the last row
                                           early_stop_case{16, 10, 30, 30},    // equal after row 3
                                           early_stop_case{16, 10, 31, 40},    // first row at or above
                                           early_stop_case{16, 10, 0, 10},     // stops after row 1 at the latest
                                           early_stop_case{8, 7, 15, 21}, early_stop_case{8, 7, 1000, 56}),
                         [](const ::testing::TestParamInfo<early_stop_case>& info) {
                             const auto& c = info.param;
                             return "rows" + std::to_string(c.rows) + "_sad" + std::to_string(c.row_sad) + "_limit" +
                                    std::to_string(c.limit);
                         });

TEST(block_sad, half_sample_cases_never_stop_early) {
    auto ref = flat(100);
    auto cur = flat(110);  // every interpolation of a flat plane is 100
    for (const auto& [name, k] : tables())
        for (int half = 0; half < 4; ++half) {
            int expected = half ? 16 * 16 * 10 : 160;  // whole-sample case stops after row 1
            EXPECT_EQ(k.block_sad[half](ref.data(), cur.data(), stride, 16, 1), expected) << name << " " << half;
            EXPECT_EQ(k.block_sad[half](ref.data(), cur.data(), stride, 8, 1), half ? 1280 : 160) << name;
        }
}

struct interpolation_case {
    int hx, hy;
    int predicted;  // of the samples a=10 (x), b=11 (x+1), c=12 (below), d=13 (below right)
};

class interpolation : public ::testing::TestWithParam<interpolation_case> {};

// ref holds columns alternating 10, 11 on even rows and 12, 13 on odd rows,
// so every block position sees the same four neighbours at its sample 0.
TEST_P(interpolation, rounds_each_half_sample_case_upwards) {
    const auto c = GetParam();
    std::vector<uint8_t> ref(stride * 20), cur(stride * 20, 0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < stride; ++x) ref[y * stride + x] = static_cast<uint8_t>(10 + (x & 1) + 2 * (y & 1));
    // Only sample 0 of row 0 measured: the rest of cur equals its prediction.
    std::vector<uint8_t> pred(stride * 20);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint8_t* p = &ref[y * stride + x];
            int v = c.hx && c.hy ? (p[0] + p[1] + p[stride] + p[stride + 1] + 2) >> 2
                    : c.hx       ? (p[0] + p[1] + 1) >> 1
                    : c.hy       ? (p[0] + p[stride] + 1) >> 1
                                 : p[0];
            pred[y * stride + x] = static_cast<uint8_t>(v);
        }
    ASSERT_EQ(pred[0], c.predicted);
    cur = pred;
    cur[0] = 0;
    const int half = half_index(c.hx, c.hy);
    for (const auto& [name, k] : tables()) {
        EXPECT_EQ(k.block_sad[half](ref.data(), cur.data(), stride, 16, 65536), c.predicted) << name;
        EXPECT_EQ(k.block_sse[half](ref.data(), cur.data(), stride, 16), c.predicted * c.predicted) << name;
        // Averaging a prediction with itself changes nothing.
        EXPECT_EQ(k.bidir_sad[both(c.hx, c.hy)](ref.data(), ref.data(), cur.data(), stride, 16), c.predicted)
            << name;
        EXPECT_EQ(k.bidir_sse[both(c.hx, c.hy)](ref.data(), ref.data(), cur.data(), stride, 16),
                  c.predicted * c.predicted)
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(cases, interpolation,
                         ::testing::Values(interpolation_case{0, 0, 10}, interpolation_case{1, 0, 11},
                                           interpolation_case{0, 1, 11}, interpolation_case{1, 1, 12}),
                         [](const ::testing::TestParamInfo<interpolation_case>& info) {
                             return "hx" + std::to_string(info.param.hx) + "_hy" + std::to_string(info.param.hy);
                         });

TEST(bidir, averages_the_two_predictions_rounding_up) {
    auto fwd = flat(10), bwd = flat(13), cur = flat(0);
    for (const auto& [name, k] : tables()) {
        // (10 + 13 + 1) >> 1 = 12 on every sample
        EXPECT_EQ(k.bidir_sad[0](fwd.data(), bwd.data(), cur.data(), stride, 16), 256 * 12) << name;
        EXPECT_EQ(k.bidir_sse[0](fwd.data(), bwd.data(), cur.data(), stride, 8), 128 * 144) << name;
        // half-sample flags on a flat block change nothing
        for (int flags = 1; flags < 16; ++flags)
            EXPECT_EQ(k.bidir_sad[flags](fwd.data(), bwd.data(), cur.data(), stride, 16), 256 * 12)
                << name << " " << flags;
    }
}

TEST(bidir, equals_block_sad_with_the_same_whole_sample_reference) {
    std::mt19937 rng(7);
    std::vector<uint8_t> ref(stride * 20), cur(stride * 20);
    for (auto& v : ref) v = static_cast<uint8_t>(rng());
    for (auto& v : cur) v = static_cast<uint8_t>(rng());
    for (const auto& [name, k] : tables())
        EXPECT_EQ(k.bidir_sad[0](ref.data(), ref.data(), cur.data(), stride, 16),
                  k.block_sad[0](ref.data(), cur.data(), stride, 16, 65536))
            << name;
}

TEST(block_sse, sums_squares_without_stopping) {
    auto ref = flat(200), cur = flat(0);
    for (const auto& [name, k] : tables()) {
        EXPECT_EQ(k.block_sse[0](ref.data(), cur.data(), stride, 16), 256 * 40000) << name;
        EXPECT_EQ(k.block_sse[1](ref.data(), cur.data(), stride, 8), 128 * 40000) << name;
    }
}

struct variance_case {
    const char* name;
    int low, high, high_count;  // high_count samples of value high, the rest low
    int expected;
};

class block_variance : public ::testing::TestWithParam<variance_case> {};

TEST_P(block_variance, is_sum_of_squares_less_square_of_sum_over_256) {
    const auto c = GetParam();
    auto block = flat(c.low);
    for (int n = 0; n < c.high_count; ++n) block[(n / 16) * stride + n % 16] = static_cast<uint8_t>(c.high);
    for (const auto& [name, k] : tables())
        EXPECT_EQ(k.block_variance(block.data(), stride), c.expected) << c.name << " " << name;
}

INSTANTIATE_TEST_SUITE_P(
    cases, block_variance,
    ::testing::Values(variance_case{"flat", 77, 77, 0, 0}, variance_case{"flat white", 255, 255, 0, 0},
                      // 128 x 255 x 255 / 2; the square of the sum needs unsigned 32 bits
                      variance_case{"half black half white", 0, 255, 128, 4161600},
                      variance_case{"two levels 3 apart", 100, 106, 128, 2304},
                      // 255^2 - floor(255^2 / 256) = 65025 - 254
                      variance_case{"one bright sample", 0, 255, 1, 64771}),
    morvane_test::name_field());

}  // namespace
