// Full search: spiral order, tie rules, window clipping, half-sample refinement.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "motion/block_match.h"
#include "motion/spiral.h"
#include "test_support.h"

namespace {

constexpr int W = 48, H = 40;

enum ramp { horizontal, vertical };

struct plane {
    std::vector<uint8_t> s = std::vector<uint8_t>(W * H);
    uint8_t& at(int x, int y) { return s[y * W + x]; }
};

// Whole-sample pass: the source is a ramp of 4 per sample along one axis, and
// the current block is the ramp as seen from (cx, cy) moved t samples along
// it, so the distortion is 1024 x |offset - t| along that axis and constant
// across it: among equal rows of the other axis the first visited wins. The
// reconstruction is flat, so the refinement keeps the first of its nine
// positions in raster order.
struct spiral_case {
    const char* name;
    ramp axis;
    int rows, cx, cy, range_x, range_y, t;
    int best_col, best_row;  // whole-sample winner
};

class spiral : public ::testing::TestWithParam<spiral_case> {};

TEST_P(spiral, visits_rings_in_order_and_keeps_the_first_of_equal_positions) {
    const auto c = GetParam();
    plane src, rec, cur;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            src.at(x, y) = static_cast<uint8_t>(20 + 4 * (c.axis == horizontal ? x : y));
            rec.at(x, y) = 128;
        }
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < 16; ++x)
            cur.at(x, y) = static_cast<uint8_t>(20 + 4 * (c.axis == horizontal ? c.cx + c.t + x : c.cy + c.t + y));
    int bx = -99, by = -99;
    block_search(src.s.data(), rec.s.data(), cur.s.data(), W, c.cx, c.cy, c.range_x, c.range_y, c.rows, W, H,
                 &bx, &by);
    EXPECT_EQ(bx, 2 * c.best_col - (c.best_col > 0 ? 1 : 0)) << c.name;
    EXPECT_EQ(by, 2 * c.best_row - (c.best_row > 0 ? 1 : 0)) << c.name;
}

// Ring 1 order around (c, c): TL, T, TR, R, BR, B, BL, L.
INSTANTIATE_TEST_SUITE_P(
    cases, spiral,
    ::testing::Values(
        spiral_case{"centre first among a column of equals", horizontal, 16, 10, 10, 3, 3, 0, 10, 10},
        spiral_case{"right column starts at top right", horizontal, 16, 10, 10, 3, 3, 1, 11, 9},
        spiral_case{"top row starts at top left", horizontal, 16, 10, 10, 3, 3, -1, 9, 9},
        spiral_case{"bottom row starts at bottom right", vertical, 16, 10, 10, 3, 3, 1, 11, 11},
        spiral_case{"upper row from top left", vertical, 16, 10, 10, 3, 3, -1, 9, 9},
        spiral_case{"ring 2 right column from its top", horizontal, 16, 10, 10, 3, 3, 2, 12, 8},
        spiral_case{"ring 2 top left corner", horizontal, 16, 10, 10, 3, 3, -2, 8, 8},
        spiral_case{"ring 2 bottom right corner", vertical, 16, 10, 10, 3, 3, 2, 12, 12},
        spiral_case{"inner ring before outer ring", horizontal, 8, 10, 10, 1, 3, 3, 11, 9},
        spiral_case{"rows beyond a zero vertical width are skipped", horizontal, 16, 10, 10, 3, 0, 2, 12, 10},
        spiral_case{"columns beyond a zero horizontal width are skipped", vertical, 16, 10, 10, 0, 3, -2, 10, 8},
        spiral_case{"no better row inside the window: centre", vertical, 16, 10, 10, 3, 0, 1, 10, 10},
        spiral_case{"both widths 0: centre only", horizontal, 16, 10, 10, 0, 0, 2, 10, 10},
        spiral_case{"clipped at the right edge", horizontal, 16, W - 17, 10, 3, 3, 3, W - 16, 9},
        spiral_case{"clipped at the left edge", horizontal, 16, 1, 10, 3, 3, -3, 0, 9},
        spiral_case{"clipped at the bottom edge", vertical, 16, 10, H - 17, 3, 3, 3, 11, H - 16},
        spiral_case{"clipped at the bottom edge, 8 rows", vertical, 8, 10, H - 9, 3, 3, 3, 11, H - 8},
        spiral_case{"clipped at the top edge", vertical, 16, 10, 1, 3, 3, -3, 9, 0},
        spiral_case{"top of ring clipped: right column from the first row inside", horizontal, 16, 10, 0, 3, 3, 2,
                    12, 0},
        spiral_case{"top row clipped: left column visited from the bottom", horizontal, 16, 10, 1, 3, 3, -2, 8, 3},
        spiral_case{"widths far beyond the area", horizontal, 16, 10, 10, 2047, 2047, 2, 12, 8}),
    morvane_test::name_field());

// Refinement: the source is flat (the whole-sample pass keeps the centre);
// the reconstruction is 5 + 2x + 6y, on which the prediction at half-sample
// offset (a, b) around a whole position is that position's value + a + 3b, so
// a constant offset c on the current block has exactly one best neighbour.
struct refine_case {
    const char* name;
    int rows, cx, cy, c;
    int dx, dy;  // expected offset from (2 cx, 2 cy)
    int sad;
};

class refinement : public ::testing::TestWithParam<refine_case> {};

TEST_P(refinement, picks_the_best_of_up_to_nine_positions_on_the_reconstruction) {
    const auto c = GetParam();
    constexpr int w = 32, h = 28;
    std::vector<uint8_t> src(w * h, 90), rec(w * h), cur(w * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) rec[y * w + x] = static_cast<uint8_t>(5 + 2 * x + 6 * y);
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < 16; ++x) cur[y * w + x] = static_cast<uint8_t>(5 + 2 * (c.cx + x) + 6 * (c.cy + y) + c.c);
    int bx, by;
    int d = block_search(src.data(), rec.data(), cur.data(), w, c.cx, c.cy, 4, 4, c.rows, w, h, &bx, &by);
    EXPECT_EQ(bx - 2 * c.cx, c.dx) << c.name;
    EXPECT_EQ(by - 2 * c.cy, c.dy) << c.name;
    EXPECT_EQ(d, c.sad) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    cases, refinement,
    ::testing::Values(refine_case{"centre", 16, 8, 6, 0, 0, 0, 0}, refine_case{"right", 16, 8, 6, 1, 1, 0, 0},
                      refine_case{"left", 16, 8, 6, -1, -1, 0, 0}, refine_case{"below", 16, 8, 6, 3, 0, 1, 0},
                      refine_case{"above left", 16, 8, 6, -4, -1, -1, 0},
                      refine_case{"below right", 16, 8, 6, 4, 1, 1, 0},
                      refine_case{"above right, 8 rows", 8, 8, 6, -2, 1, -1, 0},
                      // nothing to the left of column 0: above (-3) is nearest to -4
                      refine_case{"left edge", 16, 0, 6, -4, 0, -1, 256},
                      // nothing above row 0: left (-1) is the nearest to -3
                      refine_case{"top edge", 16, 8, 0, -3, -1, 0, 512},
                      // nothing right of the right limit: below (+3), one short of +4
                      refine_case{"right edge", 16, 16, 6, 4, 0, 1, 256},
                      // nothing below the bottom limit: right (+1) is the nearest to +3
                      refine_case{"bottom edge", 16, 8, 12, 3, 1, 0, 512},
                      refine_case{"bottom edge, 8 rows", 8, 8, 20, 3, 1, 0, 256}),
    morvane_test::name_field());

TEST(refinement, ties_go_to_the_first_position_in_raster_order) {
    // Reconstruction flat: nine equal distortions.
    constexpr int w = 32, h = 32;
    std::vector<uint8_t> src(w * h, 50), rec(w * h, 60), cur(w * h, 63);
    int bx, by;
    int d = block_search(src.data(), rec.data(), cur.data(), w, 8, 8, 2, 2, 16, w, h, &bx, &by);
    EXPECT_EQ(bx, 15);
    EXPECT_EQ(by, 15);
    EXPECT_EQ(d, 256 * 3);
}

// The rank that searches in other orders compare, against the spiral
// itself: from every centre of every window up to 9 x 9 the spiral visits
// each position once, in rising rank; unclipped, the ranks are 0, 1, 2, ...
TEST(spiral_rank, rises_along_the_spiral_of_every_clipped_window) {
    for (int w = 1; w <= 9; ++w)
        for (int h = 1; h <= 9; ++h)
            for (int cy = 0; cy < h; ++cy)
                for (int cx = 0; cx < w; ++cx) {
                    const bool unclipped = w == h && cx == w / 2 && cy == h / 2 && w % 2;
                    std::vector<int> visits(w * h, 0);
                    long long previous = -1;
                    bool in_order = true;
                    // Never below the centre's SAD: the spiral visits everything.
                    auto sad = [&](int x, int y, int) {
                        ++visits[y * w + x];
                        const long long rank = spiral_rank(x - cx, y - cy);
                        in_order = in_order && (unclipped ? rank == previous + 1 : rank > previous);
                        previous = rank;
                        return 1;
                    };
                    spiral_search(sad, w, h, cx, cy);
                    EXPECT_TRUE(in_order) << w << "x" << h << " centre (" << cx << ", " << cy << ")";
                    EXPECT_EQ(visits, std::vector<int>(w * h, 1)) << w << "x" << h << " centre (" << cx << ", " << cy
                                                                  << ")";
                }
}

}  // namespace
