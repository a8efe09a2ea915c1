// Every optimised quantiser and prediction kernel, and the one start-up
// selects, gives its reference kernel's results bit for bit.
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

std::vector<variant<quantise_kernels>> quantise_variants() {
    init_quantise_kernels();
    std::vector<variant<quantise_kernels>> v = {{"selected", &quantise_k}};
    if (const quantise_kernels* k = quantise_kernels_avx2()) v.push_back({"avx2", k});
    return v;
}

std::vector<variant<predict_kernels>> predict_variants() {
    init_predict_kernels();
    std::vector<variant<predict_kernels>> v = {{"selected", &predict_k}};
    if (const predict_kernels* k = predict_kernels_sse2()) v.push_back({"sse2", k});
    return v;
}

using block = std::vector<int16_t>;

template <typename F>
block block_of(F value) {
    block b(64);
    for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(value(i));
    return b;
}

// Patterned blocks from the given extremes plus random blocks over lo..hi.
std::vector<block> test_blocks(int extreme, int lo, int hi, int random_count, unsigned seed) {
    std::vector<block> blocks;
    blocks.push_back(block_of([](int) { return 0; }));
    for (int sign : {1, -1}) {
        int e = sign * extreme;
        blocks.push_back(block_of([e](int) { return e; }));
        blocks.push_back(block_of([e](int i) { return (i / 8 + i % 8) % 2 ? e : -e; }));
        blocks.push_back(block_of([e](int i) { return i % 2 ? e : -e; }));
        blocks.push_back(block_of([e](int i) { return (i / 8) % 2 ? -e : e; }));
        blocks.push_back(block_of([e](int i) { return i == 0 ? e : 0; }));
        blocks.push_back(block_of([e](int i) { return i == 63 ? e : 0; }));
    }
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> full(lo, hi), small(-3, 3), sparse(0, 9);
    for (int n = 0; n < random_count; ++n) {
        blocks.push_back(block_of([&](int) { return full(rng); }));
        blocks.push_back(block_of([&](int) { return small(rng); }));
        blocks.push_back(block_of([&](int) { return sparse(rng) == 0 ? full(rng) : 0; }));
    }
    return blocks;
}

::testing::AssertionResult same_block(const block& expected, const int16_t* actual, const char* what) {
    for (int i = 0; i < 64; ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure()
                   << what << ": element " << i << " is " << actual[i] << ", reference " << expected[i];
    return ::testing::AssertionSuccess();
}

// ---- quantisers -----------------------------------------------------------

// Four matrices that between them hold every weight 1..255, each weight at
// several positions across the matrices.
std::vector<std::vector<uint8_t>> all_weight_matrices() {
    std::vector<std::vector<uint8_t>> matrices;
    for (int m = 0; m < 4; ++m) {
        std::vector<uint8_t> w(64);
        for (int i = 0; i < 64; ++i) w[i] = static_cast<uint8_t>(1 + (64 * m + i * 5) % 255);
        matrices.push_back(w);
    }
    for (int m = 0; m < 4; ++m) {
        std::vector<uint8_t> w(64);
        for (int i = 0; i < 64; ++i) w[i] = static_cast<uint8_t>(1 + std::min(254, 64 * m + i));
        matrices.push_back(w);
    }
    return matrices;
}

TEST(kernel_equivalence, quantisers_match_reference_for_every_weight_and_mquant) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    std::vector<block> blocks = test_blocks(2047, -2047, 2047, 2, 21);
    const std::vector<block> wide = test_blocks(32767, -32768, 32767, 1, 22);
    blocks.insert(blocks.end(), wide.begin(), wide.end());
    const int extremes[] = {0, 1, -1, 2, -2, 2047, -2047, 2048, -2048, 32767, -32767, -32768};
    blocks.push_back(block_of([&](int i) { return extremes[i % 12]; }));
    blocks.push_back(block_of([&](int i) { return extremes[(i + 5) % 12]; }));
    for (const variant<quantise_kernels>& v : quantise_variants()) {
        SCOPED_TRACE(v.name);
        for (const std::vector<uint8_t>& matrix : matrices) {
            for (int mquant = 1; mquant <= 112; ++mquant) {
                for (const block& input : blocks) {
                    for (int limit : {255, 2047}) {
                        block expected(64), actual = input;
                        int r = quantise_kernels_reference.quantise_non_intra(input.data(), expected.data(),
                                                                              matrix.data(), mquant, limit);
                        // In place, as the coding loop calls it.
                        int f = v.kernels->quantise_non_intra(actual.data(), actual.data(), matrix.data(), mquant,
                                                              limit);
                        ASSERT_EQ(r, f) << "mquant " << mquant;
                        ASSERT_TRUE(same_block(expected, actual.data(), "quantise_non_intra"));
                        for (int dc_precision = 0; dc_precision < 4; ++dc_precision) {
                            actual = input;
                            r = quantise_kernels_reference.quantise_intra(input.data(), expected.data(),
                                                                          dc_precision, matrix.data(), mquant, limit);
                            f = v.kernels->quantise_intra(actual.data(), actual.data(), dc_precision, matrix.data(),
                                                          mquant, limit);
                            ASSERT_EQ(r, f);
                            ASSERT_TRUE(same_block(expected, actual.data(), "quantise_intra"));
                        }
                    }
                }
            }
        }
    }
}

// Every magnitude 0..2047 against every weight and a spread of quantisers,
// where a level changes: one short of a multiple of 2 x mquant x weight.
TEST(kernel_equivalence, quantisers_match_reference_on_every_magnitude) {
    const int mquants[] = {1, 2, 3, 7, 31, 62, 64, 111, 112};
    for (const variant<quantise_kernels>& v : quantise_variants()) {
        SCOPED_TRACE(v.name);
        for (int w = 1; w <= 255; ++w) {
            const std::vector<uint8_t> matrix(64, static_cast<uint8_t>(w));
            for (int mquant : mquants) {
                for (int start = 0; start < 2048; start += 64) {
                    block input = block_of([start](int i) { return (i % 2 ? -1 : 1) * (start + i); });
                    block expected(64), actual(64);
                    quantise_kernels_reference.quantise_non_intra(input.data(), expected.data(), matrix.data(),
                                                                  mquant, 2047);
                    v.kernels->quantise_non_intra(input.data(), actual.data(), matrix.data(), mquant, 2047);
                    ASSERT_TRUE(same_block(expected, actual.data(), "quantise_non_intra"));
                    quantise_kernels_reference.quantise_intra(input.data(), expected.data(), 3, matrix.data(),
                                                              mquant, 2047);
                    v.kernels->quantise_intra(input.data(), actual.data(), 3, matrix.data(), mquant, 2047);
                    ASSERT_TRUE(same_block(expected, actual.data(), "quantise_intra"));
                }
            }
        }
    }
}

TEST(kernel_equivalence, inverse_quantisers_match_reference_on_every_level) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    std::vector<block> blocks;
    for (int start = -2048; start < 2048; start += 64) blocks.push_back(block_of([start](int i) { return start + i; }));
    const std::vector<block> more = test_blocks(2047, -2048, 2047, 3, 31);
    blocks.insert(blocks.end(), more.begin(), more.end());
    const std::vector<block> wide = test_blocks(32767, -32768, 32767, 1, 32);
    blocks.insert(blocks.end(), wide.begin(), wide.end());
    for (const variant<quantise_kernels>& v : quantise_variants()) {
        SCOPED_TRACE(v.name);
        const quantise_kernels& ref = quantise_kernels_reference;
        const quantise_kernels& k = *v.kernels;
        for (const std::vector<uint8_t>& matrix : matrices) {
            for (int mquant = 1; mquant <= 112; ++mquant) {
                for (const block& input : blocks) {
                    block expected(64), actual = input;
                    ref.dequantise_non_intra(input.data(), expected.data(), matrix.data(), mquant);
                    k.dequantise_non_intra(actual.data(), actual.data(), matrix.data(), mquant);
                    ASSERT_TRUE(same_block(expected, actual.data(), "dequantise_non_intra"));
                    actual = input;
                    ref.dequantise_non_intra_mpeg1(input.data(), expected.data(), matrix.data(), mquant);
                    k.dequantise_non_intra_mpeg1(actual.data(), actual.data(), matrix.data(), mquant);
                    ASSERT_TRUE(same_block(expected, actual.data(), "dequantise_non_intra_mpeg1"));
                    for (int dc_precision = 0; dc_precision < 4; ++dc_precision) {
                        actual = input;
                        ref.dequantise_intra(input.data(), expected.data(), dc_precision, matrix.data(), mquant);
                        k.dequantise_intra(actual.data(), actual.data(), dc_precision, matrix.data(), mquant);
                        ASSERT_TRUE(same_block(expected, actual.data(), "dequantise_intra"));
                        actual = input;
                        ref.dequantise_intra_mpeg1(input.data(), expected.data(), dc_precision, matrix.data(),
                                                   mquant);
                        k.dequantise_intra_mpeg1(actual.data(), actual.data(), dc_precision, matrix.data(), mquant);
                        ASSERT_TRUE(same_block(expected, actual.data(), "dequantise_intra_mpeg1"));
                    }
                }
            }
        }
    }
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
