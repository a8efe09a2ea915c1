// Every optimised prediction kernel, and the one start-up selects, gives its
// reference kernel's results bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "transform/simd_kernels.h"

namespace {

template <typename Table>
struct variant {
    const char* name;
    const Table* kernels;
};

std::vector<variant<predict_kernels>> predict_variants() {
    init_predict_kernels();
    std::vector<variant<predict_kernels>> v = {{"selected", &predict_k}};
    if (const predict_kernels* k = predict_kernels_sse2()) v.push_back({"sse2", k});
    return v;
}

// ---- prediction -----------------------------------------------------------

TEST(kernel_equivalence, prediction_rectangles_match_reference) {
    struct shape {
        int stride, w, h;
    };
    // Frame and field strides of luminance and chrominance, odd sizes that
    // leave 8- and 1-sample tails; vectors from -1 to +1.5 samples.
    const shape shapes[] = {{64, 16, 16}, {128, 16, 8}, {32, 8, 8}, {64, 8, 4}, {48, 16, 16},
                            {40, 33, 5},  {40, 17, 3},  {40, 9, 2}, {40, 7, 1}, {40, 1, 1}};
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const variant<predict_kernels>& v : predict_variants()) {
        SCOPED_TRACE(v.name);
        for (const shape& s : shapes) {
            const int rows = 2 * s.h + 4;
            for (int fill = 0; fill < 3; ++fill) {
                std::vector<uint8_t> src(static_cast<std::size_t>(s.stride * rows));
                std::vector<uint8_t> dst0(src.size());
                for (std::size_t i = 0; i < src.size(); ++i) {
                    src[i] = static_cast<uint8_t>(fill == 0 ? byte(rng) : (fill == 1 ? 255 : (i % 3 ? 255 : 0)));
                    dst0[i] = static_cast<uint8_t>(fill == 2 ? 255 : byte(rng));
                }
                for (int dy = -2; dy < 4; ++dy) {
                    for (int dx = -2; dx < 4; ++dx) {
                        for (int average = 0; average < 2; ++average) {
                            std::vector<uint8_t> expected = dst0, actual = dst0;
                            const int x = (s.stride - s.w - 2) / 2, y = 1;
                            predict_kernels_reference.predict_rectangle(src.data(), expected.data(), s.stride, s.w,
                                                                        s.h, x, y, dx, dy, average);
                            v.kernels->predict_rectangle(src.data(), actual.data(), s.stride, s.w, s.h, x, y, dx,
                                                         dy, average);
                            ASSERT_EQ(expected, actual) << "stride " << s.stride << " w " << s.w << " h " << s.h
                                                        << " dx " << dx << " dy " << dy << " average " << average;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
