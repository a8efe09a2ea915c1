// Every faster kernel gives the reference kernel's results bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "transform/dct.h"

namespace {

std::vector<std::vector<int16_t>> difference_blocks() {
    std::vector<std::vector<int16_t>> blocks;
    auto block_of = [&](auto value) {
        std::vector<int16_t> b(64);
        for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(value(i));
        blocks.push_back(b);
    };
    block_of([](int) { return 0; });
    block_of([](int) { return 255; });
    block_of([](int) { return -255; });
    block_of([](int i) { return (i / 8 + i % 8) % 2 ? 255 : -255; });
    block_of([](int i) { return i % 2 ? 255 : -255; });
    block_of([](int i) { return (i / 8) % 2 ? -255 : 255; });
    block_of([](int) { return 20; });  // DC of exactly 2.5 before rounding
    block_of([](int) { return -20; });
    for (int p = 0; p < 64; ++p) {
        block_of([p](int i) { return i == p ? 255 : 0; });
        block_of([p](int i) { return i == p ? -20 : 0; });
    }
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> full(-255, 255), small(-3, 3);
    for (int n = 0; n < 3000; ++n) block_of([&](int) { return full(rng); });
    for (int n = 0; n < 3000; ++n) block_of([&](int) { return small(rng); });
    return blocks;
}

TEST(kernels, fast_forward_dct_matches_reference) {
    prepare_forward_dct();
    for (const std::vector<int16_t>& input : difference_blocks()) {
        int16_t expected[64], actual[64];
        std::memcpy(expected, input.data(), sizeof expected);
        std::memcpy(actual, input.data(), sizeof actual);
        dct_kernels_reference.forward(expected);
        dct_kernels_fast.forward(actual);
        ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected));
    }
}

TEST(kernels, fast_inverse_dct_matches_reference) {
    prepare_inverse_dct();
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> level(-2048, 2047), sparse(0, 9);
    for (int n = 0; n < 5000; ++n) {
        int16_t expected[64], actual[64];
        for (int i = 0; i < 64; ++i)
            expected[i] = actual[i] = static_cast<int16_t>(sparse(rng) == 0 || n % 4 == 0 ? level(rng) : 0);
        dct_kernels_reference.inverse(expected);
        dct_kernels_fast.inverse(actual);
        ASSERT_EQ(0, std::memcmp(expected, actual, sizeof expected));
    }
}

}  // namespace
