// plane_error_stats gives, bit for bit, the values of adding every sample to
// double sums one at a time in raster order.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "stats/picture_stats.h"

namespace {

void sample_by_sample(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double* variance, double* mse) {
    double s1 = 0.0, s2 = 0.0, e2 = 0.0;
    for (int j = 0; j < h; ++j, p += stride, q += stride) {
        for (int i = 0; i < w; ++i) {
            s1 += p[i];
            s2 += p[i] * p[i];
            e2 += (p[i] - q[i]) * (p[i] - q[i]);
        }
    }
    const double count = static_cast<double>(w) * h;
    s1 /= count;
    s2 /= count;
    e2 /= count;
    if (e2 == 0.0) e2 = 0.00001;
    *variance = s2 - s1 * s1;
    *mse = e2;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(plane_error_stats_equivalence, matches_sample_by_sample_double_sums) {
    struct shape {
        int w, h, stride;
    };
    // Tails of 1 to 15 samples, field strides, picture sizes, and a row long
    // enough to need more than one run of 32-bit partial sums.
    const shape shapes[] = {{1, 1, 1},     {15, 3, 16},    {16, 1, 16},     {17, 5, 20},
                            {31, 2, 32},   {33, 7, 40},    {176, 144, 352}, {352, 288, 352},
                            {360, 288, 720}, {720, 576, 720}, {70001, 2, 70003}};
    enum fill { random_bytes, white_on_black, identical, gradient };
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const shape& s : shapes) {
        for (fill f : {random_bytes, white_on_black, identical, gradient}) {
            const std::size_t size = static_cast<std::size_t>(s.stride) * s.h;
            std::vector<uint8_t> p(size), q(size);
            for (std::size_t i = 0; i < size; ++i) {
                int a = byte(rng), b = byte(rng);
                if (f == white_on_black) a = 255, b = 0;
                if (f == identical) b = a;
                if (f == gradient) a = static_cast<int>(i * 7 % 256), b = (a + static_cast<int>(i % 5)) % 256;
                p[i] = static_cast<uint8_t>(a);
                q[i] = static_cast<uint8_t>(b);
            }
            double v0, m0, v1, m1;
            sample_by_sample(p.data(), q.data(), s.stride, s.w, s.h, &v0, &m0);
            plane_error_stats(p.data(), q.data(), s.stride, s.w, s.h, &v1, &m1);
            EXPECT_TRUE(same_bits(v0, v1)) << s.w << "x" << s.h << " fill " << f << ": " << v1 << " vs " << v0;
            EXPECT_TRUE(same_bits(m0, m1)) << s.w << "x" << s.h << " fill " << f << ": " << m1 << " vs " << m0;
        }
    }
}

// White against black: the mean squared error is the full 255^2 and the
// variance 0; a perfect match reports the floor value.
TEST(plane_error_stats_equivalence, extreme_planes_give_hand_worked_values) {
    std::vector<uint8_t> white(40 * 3, 255), black(40 * 3, 0);
    double variance, mse;
    plane_error_stats(white.data(), black.data(), 40, 37, 3, &variance, &mse);
    EXPECT_EQ(65025.0, mse);
    EXPECT_EQ(0.0, variance);
    plane_error_stats(white.data(), white.data(), 40, 37, 3, &variance, &mse);
    EXPECT_EQ(0.00001, mse);
}

}  // namespace
