// Every optimised motion kernel against its reference, bit for bit, over
// sample patterns, strides, block heights, half flags and stopping limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "motion/block_match.h"

namespace {

// The tables under test: the one init_motion_kernels selects, and each
// optimised table on its own (its entries may be empty).
std::vector<std::pair<std::string, const motion_kernels*>> tables() {
    static const motion_kernels selected = [] {
        init_motion_kernels();
        return motion_k;
    }();
    std::vector<std::pair<std::string, const motion_kernels*>> t{{"selected", &selected}};
    if (const motion_kernels* k = motion_kernels_sse2()) t.emplace_back("sse2", k);
    return t;
}

enum class pattern { zeros, full, alternating, random, near };  // near: the other block plus small noise
const pattern all_patterns[] = {pattern::zeros, pattern::full, pattern::alternating, pattern::random,
                                pattern::near};

// A block whose buffer ends at the last sample a kernel may read, so that a
// sanitizer build catches any read beyond it.
struct block {
    std::vector<uint8_t> s;
    int stride;
    block(int stride_, int rows, int extra_col, int extra_row)
        : s(static_cast<std::size_t>(rows - 1 + extra_row) * stride_ + 16 + extra_col), stride(stride_) {}
    const uint8_t* data() const { return s.data(); }
};

void fill(block& b, pattern p, const block* other, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(0, 255), small(-3, 3);
    for (std::size_t i = 0; i < b.s.size(); ++i) {
        const int x = static_cast<int>(i % b.stride), y = static_cast<int>(i / b.stride);
        int v = 0;
        switch (p) {
            case pattern::zeros: v = 0; break;
            case pattern::full: v = 255; break;
            case pattern::alternating: v = (x + y) & 1 ? 255 : 0; break;
            case pattern::random: v = any(rng); break;
            case pattern::near: v = (other && i < other->s.size() ? other->s[i] : 128) + small(rng); break;
        }
        b.s[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
}

const int strides[] = {16, 17, 24, 31, 32, 48, 352, 704};
// The estimators use 8 and 16; 3 and 6 reach the rows left over after
// whole groups of four.
const int heights[] = {3, 6, 8, 16};

// The reference running sums after each whole-sample row, and limits on,
// just below and just above each of them.
std::vector<int> limits_for(const uint8_t* ref, const uint8_t* cur, int stride, int rows) {
    std::vector<int> limits{-1, 0, 1, 7, 100, 65535, no_distortion};
    int partial = 0;
    for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < 16; ++x) partial += std::abs(ref[j * stride + x] - cur[j * stride + x]);
        limits.insert(limits.end(), {partial - 1, partial, partial + 1});
    }
    return limits;
}

struct case_name {
    std::string table;
    int stride, rows, hx, hy;
    pattern ref, cur;
    std::string text() const {
        return table + " stride " + std::to_string(stride) + " rows " + std::to_string(rows) + " half " +
               std::to_string(hx) + std::to_string(hy) + " patterns " + std::to_string(static_cast<int>(ref)) +
               "/" + std::to_string(static_cast<int>(cur));
    }
};

TEST(motion_kernel_equivalence, the_selected_table_is_optimised_where_vectors_exist) {
#if defined(__x86_64__) && !defined(MORVANE_REFERENCE_KERNELS)
    const motion_kernels& k = *tables()[0].second;
    EXPECT_NE(k.block_sad, motion_kernels_reference.block_sad);
    EXPECT_NE(k.block_sse, motion_kernels_reference.block_sse);
    EXPECT_NE(k.bidir_sad, motion_kernels_reference.bidir_sad);
    EXPECT_NE(k.bidir_sse, motion_kernels_reference.bidir_sse);
    EXPECT_NE(k.block_variance, motion_kernels_reference.block_variance);
#else
    GTEST_SKIP() << "only the reference kernels on this build";
#endif
}

TEST(motion_kernel_equivalence, block_sad_and_block_sse_match_the_reference_including_partial_sums) {
    const motion_kernels& r = motion_kernels_reference;
    std::mt19937 rng(11);
    for (const auto& [name, k] : tables())
        for (int stride : strides)
            for (int rows : heights)
                for (int hx = 0; hx < 2; ++hx)
                    for (int hy = 0; hy < 2; ++hy)
                        for (pattern pr : all_patterns)
                            for (pattern pc : all_patterns) {
                                block ref(stride, rows, hx, hy), cur(stride, rows, 0, 0);
                                fill(ref, pr, nullptr, rng);
                                fill(cur, pc, &ref, rng);
                                const case_name c{name, stride, rows, hx, hy, pr, pc};
                                if (k->block_sad) {
                                    for (int limit : limits_for(ref.data(), cur.data(), stride, rows)) {
                                        ASSERT_EQ(k->block_sad(ref.data(), cur.data(), stride, hx, hy, rows, limit),
                                                  r.block_sad(ref.data(), cur.data(), stride, hx, hy, rows, limit))
                                            << c.text() << " limit " << limit;
                                    }
                                }
                                if (k->block_sse) {
                                    ASSERT_EQ(k->block_sse(ref.data(), cur.data(), stride, hx, hy, rows),
                                              r.block_sse(ref.data(), cur.data(), stride, hx, hy, rows))
                                        << c.text();
                                }
                            }
}

TEST(motion_kernel_equivalence, bidirectional_measures_match_the_reference_for_all_sixteen_flag_pairs) {
    const motion_kernels& r = motion_kernels_reference;
    std::mt19937 rng(12);
    for (const auto& [name, k] : tables())
        for (int stride : strides)
            for (int rows : heights)
                for (int flags = 0; flags < 16; ++flags)
                    for (pattern pf : all_patterns)
                        for (pattern pc : all_patterns) {
                            const int fhx = flags & 1, fhy = (flags >> 1) & 1, bhx = (flags >> 2) & 1,
                                      bhy = flags >> 3;
                            block fwd(stride, rows, fhx, fhy), bwd(stride, rows, bhx, bhy), cur(stride, rows, 0, 0);
                            fill(fwd, pf, nullptr, rng);
                            fill(bwd, pattern::near, &fwd, rng);
                            fill(cur, pc, &fwd, rng);
                            const case_name c{name, stride, rows, fhx, fhy, pf, pc};
                            const auto args = [&](auto kernel) {
                                return kernel(fwd.data(), bwd.data(), cur.data(), stride, fhx, fhy, bhx, bhy, rows);
                            };
                            if (k->bidir_sad) {
                                ASSERT_EQ(args(k->bidir_sad), args(r.bidir_sad)) << c.text() << " flags " << flags;
                            }
                            if (k->bidir_sse) {
                                ASSERT_EQ(args(k->bidir_sse), args(r.bidir_sse)) << c.text() << " flags " << flags;
                            }
                        }
}

TEST(motion_kernel_equivalence, block_variance_matches_the_reference) {
    const motion_kernels& r = motion_kernels_reference;
    std::mt19937 rng(13);
    for (const auto& [name, k] : tables()) {
        if (!k->block_variance) continue;
        for (int stride : strides) {
            for (pattern p : all_patterns) {
                block b(stride, 16, 0, 0);
                fill(b, p, nullptr, rng);
                ASSERT_EQ(k->block_variance(b.data(), stride), r.block_variance(b.data(), stride))
                    << name << " stride " << stride << " pattern " << static_cast<int>(p);
            }
            // Half the samples 0 and half 255, in whole rows: the largest
            // variance, 128 * 255 * 255 / 2.
            block b(stride, 16, 0, 0);
            for (int y = 8; y < 16; ++y)
                for (int x = 0; x < 16; ++x) b.s[y * stride + x] = 255;
            ASSERT_EQ(k->block_variance(b.data(), stride), 4161600) << name << " stride " << stride;
        }
    }
}

}  // namespace
