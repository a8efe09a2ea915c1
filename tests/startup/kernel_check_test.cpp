// The kernel checker: for every family, the table at each SIMD level this
// machine has against the reference table (flags 0). Every entry whose
// pointer differs from the reference's is run on random and edge inputs and
// must give the reference's results bit for bit, including the partial sums
// of early stops. Input buffers end at the last sample a kernel may read, so
// that a sanitizer build catches any read beyond it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver/cpu.h"
#include "motion/block_match.h"
#include "motion/motion_kernels.h"
#include "stats/stats_kernels.h"
#include "transform/dct_kernels.h"
#include "transform/predict_kernels.h"
#include "transform/quantise_kernels.h"
#include "transform/sample_kernels.h"

namespace {

// Runs check(reference entry, entry) once for every distinct entry that a
// level of this machine puts where the reference table has another.
template <typename Table, typename Entry, typename Check>
void for_each_changed(void (*init)(Table&, unsigned), Entry entry, Check check) {
    Table reference{};
    init(reference, 0);
    std::vector<decltype(entry(reference))> checked;
    for (const simd_level& level : simd_levels_available()) {
        Table t{};
        init(t, level.mask);
        const auto fn = entry(t);
        if (fn == entry(reference) || std::find(checked.begin(), checked.end(), fn) != checked.end()) continue;
        SCOPED_TRACE("level " + std::string(level.name));
        check(entry(reference), fn);
        checked.push_back(fn);
    }
}

// The table of the highest level this machine has.
template <typename Table>
Table top_table(void (*init)(Table&, unsigned)) {
    Table t{};
    init(t, simd_levels_available().back().mask);
    return t;
}

// ---- motion -----------------------------------------------------------------

enum class pattern { zeros, full, alternating, random, near };  // near: the other block plus small noise
const pattern all_patterns[] = {pattern::zeros, pattern::full, pattern::alternating, pattern::random, pattern::near};

// 16 samples wide; extra_col and extra_row for the neighbours a half-sample
// position reads.
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

std::string case_text(int stride, int rows, pattern a, pattern b) {
    return "stride " + std::to_string(stride) + " rows " + std::to_string(rows) + " patterns " +
           std::to_string(static_cast<int>(a)) + "/" + std::to_string(static_cast<int>(b));
}

// Calls run(ref, cur, stride, rows, case text) for every stride, height and
// pair of patterns, ref holding the neighbours of half-sample index half.
template <typename Run>
void for_each_block_pair(int half, unsigned seed, Run run) {
    std::mt19937 rng(seed);
    const int hx = half & 1, hy = half >> 1;
    for (int stride : strides)
        for (int rows : heights)
            for (pattern pr : all_patterns)
                for (pattern pc : all_patterns) {
                    block ref(stride, rows, hx, hy), cur(stride, rows, 0, 0);
                    fill(ref, pr, nullptr, rng);
                    fill(cur, pc, &ref, rng);
                    run(ref, cur, stride, rows, case_text(stride, rows, pr, pc));
                }
}

TEST(kernel_check, motion_block_sad_including_early_stop_sums) {
    for (int half = 0; half < 4; ++half) {
        SCOPED_TRACE("half " + std::to_string(half));
        for_each_changed(
            init_motion_kernels, [half](const motion_kernels& t) { return t.block_sad[half]; },
            [&](block_sad_fn* r, block_sad_fn* k) {
                for_each_block_pair(
                    half, 11 + half,
                    [&](const block& ref, const block& cur, int stride, int rows, const std::string& text) {
                        for (int limit : limits_for(ref.data(), cur.data(), stride, rows))
                            ASSERT_EQ(k(ref.data(), cur.data(), stride, rows, limit),
                                      r(ref.data(), cur.data(), stride, rows, limit))
                                << text << " limit " << limit;
                    });
            });
    }
}

TEST(kernel_check, motion_block_sse) {
    for (int half = 0; half < 4; ++half) {
        SCOPED_TRACE("half " + std::to_string(half));
        for_each_changed(
            init_motion_kernels, [half](const motion_kernels& t) { return t.block_sse[half]; },
            [&](block_sse_fn* r, block_sse_fn* k) {
                for_each_block_pair(
                    half, 21 + half,
                    [&](const block& ref, const block& cur, int stride, int rows, const std::string& text) {
                        ASSERT_EQ(k(ref.data(), cur.data(), stride, rows), r(ref.data(), cur.data(), stride, rows))
                            << text;
                    });
            });
    }
}

TEST(kernel_check, motion_bidirectional_measures_for_all_sixteen_flag_pairs) {
    for (bool squared : {false, true})
        for (int flags = 0; flags < 16; ++flags) {
            SCOPED_TRACE((squared ? "bidir_sse " : "bidir_sad ") + std::to_string(flags));
            const int fhx = flags & 1, fhy = (flags >> 1) & 1, bhx = (flags >> 2) & 1, bhy = flags >> 3;
            for_each_changed(
                init_motion_kernels,
                [&](const motion_kernels& t) { return squared ? t.bidir_sse[flags] : t.bidir_sad[flags]; },
                [&](bidir_fn* r, bidir_fn* k) {
                    std::mt19937 rng(12 + flags);
                    for (int stride : strides)
                        for (int rows : heights)
                            for (pattern pf : all_patterns)
                                for (pattern pc : all_patterns) {
                                    block fwd(stride, rows, fhx, fhy), bwd(stride, rows, bhx, bhy);
                                    block cur(stride, rows, 0, 0);
                                    fill(fwd, pf, nullptr, rng);
                                    fill(bwd, pattern::near, &fwd, rng);
                                    fill(cur, pc, &fwd, rng);
                                    ASSERT_EQ(k(fwd.data(), bwd.data(), cur.data(), stride, rows),
                                              r(fwd.data(), bwd.data(), cur.data(), stride, rows))
                                        << case_text(stride, rows, pf, pc);
                                }
                });
        }
}

// The refinement of a block with the samples of only the sides given around
// it, the buffer ending at the last of them.
TEST(kernel_check, motion_half_refine_for_every_set_of_sides) {
    for_each_changed(
        init_motion_kernels, [](const motion_kernels& t) { return t.half_refine; },
        [](half_refine_fn* r, half_refine_fn* k) {
            std::mt19937 rng(14);
            for (int sides = 0; sides < 16; ++sides)
                for (int stride : strides)
                    for (int rows : heights)
                        for (pattern pr : all_patterns)
                            for (pattern pc : all_patterns) {
                                const int left = sides & side_left ? 1 : 0, up = sides & side_up ? 1 : 0;
                                const int right = sides & side_right ? 1 : 0, down = sides & side_down ? 1 : 0;
                                block ref(stride, rows + up, left + right, down), cur(stride, rows, 0, 0);
                                fill(ref, pr, nullptr, rng);
                                fill(cur, pc, &ref, rng);
                                const uint8_t* origin = ref.data() + up * stride + left;
                                const half_match a = k(origin, cur.data(), stride, rows, sides);
                                const half_match e = r(origin, cur.data(), stride, rows, sides);
                                ASSERT_TRUE(a.dx == e.dx && a.dy == e.dy && a.sad == e.sad)
                                    << case_text(stride, rows, pr, pc) << " sides " << sides << ": (" << a.dx << ", "
                                    << a.dy << ") " << a.sad << ", reference (" << e.dx << ", " << e.dy << ") "
                                    << e.sad;
                            }
        });
}

TEST(kernel_check, motion_block_variance) {
    for_each_changed(
        init_motion_kernels, [](const motion_kernels& t) { return t.block_variance; },
        [](block_variance_fn* r, block_variance_fn* k) {
            std::mt19937 rng(13);
            for (int stride : strides) {
                for (pattern p : all_patterns) {
                    block b(stride, 16, 0, 0);
                    fill(b, p, nullptr, rng);
                    ASSERT_EQ(k(b.data(), stride), r(b.data(), stride))
                        << "stride " << stride << " pattern " << static_cast<int>(p);
                }
                // Half the samples 0 and half 255, in whole rows: the largest
                // variance, 128 * 255 * 255 / 2.
                block b(stride, 16, 0, 0);
                for (int y = 8; y < 16; ++y)
                    for (int x = 0; x < 16; ++x) b.s[y * stride + x] = 255;
                ASSERT_EQ(k(b.data(), stride), 4161600) << "stride " << stride;
            }
        });
}

// ---- whole-sample search ----------------------------------------------------

// lattice_first_row: the block differs from the lattice in its first row
// only, so the tied sums are complete after one row.
enum class field { random, near, flat, extremes, lattice, lattice_plus_one, lattice_first_row, stripes, two_levels };
const field all_fields[] = {field::random,
                            field::near,
                            field::flat,
                            field::extremes,
                            field::lattice,
                            field::lattice_plus_one,
                            field::lattice_first_row,
                            field::stripes,
                            field::two_levels};
const char* const field_names[] = {
    "random", "near", "flat", "extremes", "lattice", "lattice_plus_1", "lattice_first_row", "stripes", "two_levels"};

// A search window of width x height positions; the reference plane ends at
// the last sample of the bottom-right position's block, the current block
// at its own last sample.
struct window {
    int width, height, rows, stride;
    std::vector<uint8_t> ref, cur;
    window(int w, int h, int r, int s)
        : width(w),
          height(h),
          rows(r),
          stride(s),
          ref(static_cast<std::size_t>(h + r - 2) * s + w + 15),
          cur(static_cast<std::size_t>(r - 1) * s + 16) {}
};

// The window filled so that many positions share the least SAD where the
// kind asks for it: lattice ones repeat a small tile, so every position of a
// lattice matches the block equally.
void fill(window& w, field f, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(0, 255), noise(-2, 2), period(1, 4);
    std::uniform_int_distribution<int> px(0, w.width - 1), py(0, w.height - 1);
    const int tile_w = period(rng), tile_h = period(rng);
    std::vector<int> tile(tile_w * tile_h);
    for (int& v : tile) v = any(rng) % 255;
    auto ref_at = [&](int x, int y) -> int {
        switch (f) {
        case field::flat: return 77;
        case field::extremes: return 255;
        case field::lattice:
        case field::lattice_plus_one:
        case field::lattice_first_row: return tile[(y % tile_h) * tile_w + x % tile_w];
        case field::stripes: return x % 3 ? 10 : 200;
        case field::two_levels: return any(rng) & 1;
        default: return any(rng);
        }
    };
    for (std::size_t i = 0; i < w.ref.size(); ++i)
        w.ref[i] = static_cast<uint8_t>(ref_at(static_cast<int>(i % w.stride), static_cast<int>(i / w.stride)));
    // Where the block is taken from, for the kinds that take it from the window.
    const int sx = px(rng), sy = py(rng);
    for (std::size_t i = 0; i < w.cur.size(); ++i) {
        const int x = static_cast<int>(i % w.stride), y = static_cast<int>(i / w.stride);
        if (x >= 16) continue;
        const int own = w.ref[static_cast<std::size_t>(sy + y) * w.stride + sx + x];
        int v = 0;
        switch (f) {
        case field::random: v = any(rng); break;
        case field::near: v = own + noise(rng); break;
        case field::flat: v = 80; break;
        case field::extremes: v = 0; break;
        case field::lattice: v = own; break;
        case field::lattice_plus_one: v = own + 1; break;
        case field::lattice_first_row: v = own + (y == 0); break;
        case field::stripes: v = (x + 1) % 3 ? 10 : 200; break;
        case field::two_levels: v = any(rng) & 1; break;
        }
        w.cur[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
}

std::string text(const whole_match& m) {
    return "(" + std::to_string(m.x) + ", " + std::to_string(m.y) + ") sad " + std::to_string(m.sad);
}

TEST(kernel_check, motion_whole_search_takes_the_spiral_winner_among_equal_sads) {
    struct shape {
        int width, height, rows;
    };
    // Single positions and rows of them, widths around the vector widths,
    // and the windows of the widest search ranges.
    const shape shapes[] = {{1, 1, 16},   {1, 1, 8},   {2, 1, 16},   {1, 2, 8},     {3, 3, 16},     {15, 7, 8},
                            {16, 16, 16}, {17, 5, 16}, {31, 31, 16}, {31, 15, 8},   {32, 9, 16},    {33, 9, 16},
                            {47, 4, 8},   {48, 4, 16}, {49, 3, 16},  {63, 63, 16},  {64, 2, 8},     {65, 2, 16},
                            {23, 11, 5},  {40, 6, 1},  {19, 4, 3},   {300, 20, 16}, {255, 255, 16}, {255, 127, 8}};
    for_each_changed(
        init_motion_kernels, [](const motion_kernels& t) { return t.whole_search; },
        [&](whole_search_fn* r, whole_search_fn* k) {
            std::mt19937 rng(41);
            int n = 0;
            for (const shape& s : shapes) {
                const int w = s.width, h = s.height;
                // The centre on each corner and side, as clipping at a picture
                // edge leaves it, in the middle, and anywhere.
                std::vector<std::pair<int, int>> centres = {{0, 0}, {w - 1, h - 1}, {w / 2, h / 2}};
                if (w * h < 10000) {
                    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1);
                    centres.insert(centres.end(), {{w - 1, 0},
                                                   {0, h - 1},
                                                   {0, h / 2},
                                                   {w - 1, h / 2},
                                                   {w / 2, 0},
                                                   {w / 2, h - 1},
                                                   {px(rng), py(rng)}});
                }
                for (auto [cx, cy] : centres)
                    for (field f : all_fields) {
                        window win(w, h, s.rows, w + 15 + 7 * (n++ % 3));
                        fill(win, f, rng);
                        ASSERT_EQ(text(k(win.ref.data(), win.cur.data(), win.stride, s.rows, w, h, cx, cy)),
                                  text(r(win.ref.data(), win.cur.data(), win.stride, s.rows, w, h, cx, cy)))
                            << w << "x" << h << " rows " << s.rows << " stride " << win.stride << " centre (" << cx
                            << ", " << cy << ") " << field_names[static_cast<int>(f)];
                    }
            }
        });
}

// For the searches that read the global table: check(reference table,
// level's table) for every level of this machine, the check installing each
// in motion_k as it calls; the global table is restored after, even when a
// check has failed.
template <typename Check>
void for_each_motion_level(Check check) {
    motion_kernels reference{};
    init_motion_kernels(reference, 0);
    const motion_kernels saved = motion_k;
    for (const simd_level& level : simd_levels_available()) {
        SCOPED_TRACE("level " + std::string(level.name));
        motion_kernels t{};
        init_motion_kernels(t, level.mask);
        check(reference, t);
    }
    motion_k = saved;
}

// block_search with each level's table against the reference table, the
// window clipped at every picture edge.
TEST(kernel_check, motion_block_search_at_every_level_finds_the_reference_position) {
    struct area {
        int width, height, stride, rows;  // a frame, or a field of a frame twice as high
    };
    const area areas[] = {{64, 48, 64, 16}, {64, 24, 128, 8}, {64, 24, 128, 16}, {48, 32, 48, 8}};
    const int ranges[][2] = {{0, 0}, {1, 1}, {3, 0}, {0, 3}, {7, 3}, {15, 7}, {31, 31}, {127, 127}, {2047, 2047}};
    for_each_motion_level([&](const motion_kernels& reference, const motion_kernels& t) {
        std::mt19937 rng(43);
        std::uniform_int_distribution<int> any(0, 255), noise(-4, 4);
        for (const area& a : areas)
            for (bool flat_source : {false, true}) {
                std::vector<uint8_t> src(static_cast<std::size_t>(a.stride) * a.height), rec(src.size());
                for (std::size_t i = 0; i < src.size(); ++i) {
                    src[i] = static_cast<uint8_t>(flat_source ? 90 : any(rng));
                    rec[i] = static_cast<uint8_t>(std::clamp(src[i] + noise(rng), 0, 255));
                }
                for (int cy = 0; cy <= a.height - a.rows; cy += std::max(1, (a.height - a.rows) / 4))
                    for (int cx = 0; cx <= a.width - 16; cx += std::max(1, (a.width - 16) / 4))
                        for (const auto& range : ranges) {
                            // The block near a random position, so that the best lies anywhere.
                            const int bx = std::uniform_int_distribution<int>(0, a.width - 16)(rng);
                            const int by = std::uniform_int_distribution<int>(0, a.height - a.rows)(rng);
                            std::vector<uint8_t> cur(src.size());
                            for (int y = 0; y < a.rows; ++y)
                                for (int x = 0; x < 16; ++x)
                                    cur[y * a.stride + x] = static_cast<uint8_t>(
                                        std::clamp(src[(by + y) * a.stride + bx + x] + noise(rng), 0, 255));
                            int expected[3], actual[3];
                            motion_k = reference;
                            expected[2] = block_search(src.data(), rec.data(), cur.data(), a.stride, cx, cy, range[0],
                                                       range[1], a.rows, a.width, a.height, &expected[0], &expected[1]);
                            motion_k = t;
                            actual[2] = block_search(src.data(), rec.data(), cur.data(), a.stride, cx, cy, range[0],
                                                     range[1], a.rows, a.width, a.height, &actual[0], &actual[1]);
                            ASSERT_TRUE(std::equal(expected, expected + 3, actual))
                                << a.width << "x" << a.height << " rows " << a.rows << " centre (" << cx << ", " << cy
                                << ") range " << range[0] << "/" << range[1] << ": (" << actual[0] << ", " << actual[1]
                                << ") " << actual[2] << ", reference (" << expected[0] << ", " << expected[1] << ") "
                                << expected[2];
                        }
            }
    });
}

// The five searches of a frame picture's block at every level against the
// reference's, through interlaced_block_search: every macroblock of small
// frames, so the windows meet each picture edge, with even and odd vertical
// ranges (an odd one leaves frame rows no pair of field rows makes up).
// Flat and tiled pictures tie many positions.
TEST(kernel_check, motion_interlaced_search_at_every_level_finds_the_reference_positions) {
    struct frame {
        int width, height;
    };
    const frame frames[] = {{64, 64}, {48, 96}, {80, 32}, {16, 32}};
    const int ranges[][2] = {{0, 0}, {1, 1},   {2, 2},   {3, 3},   {7, 3},    {7, 7},
                             {8, 6}, {15, 15}, {16, 16}, {31, 31}, {127, 127}};
    enum class content { random, flat, tiled, near };
    for_each_motion_level([&](const motion_kernels& reference, const motion_kernels& t) {
        if (t.interlaced_search == reference.interlaced_search) return;
        std::mt19937 rng(47);
        std::uniform_int_distribution<int> any(0, 255), noise(-4, 4), period(1, 3);
        for (const frame& f : frames)
            for (content c : {content::random, content::flat, content::tiled, content::near}) {
                // The planes end at the frame's last sample.
                std::vector<uint8_t> src(static_cast<std::size_t>(f.width) * f.height), rec(src.size()),
                    cur(src.size());
                const int tw = period(rng), th = period(rng);
                for (std::size_t i = 0; i < src.size(); ++i) {
                    const int x = static_cast<int>(i % f.width), y = static_cast<int>(i / f.width);
                    const int v = c == content::flat    ? 90
                                  : c == content::tiled ? 40 * (x % tw) + 70 * (y % th)
                                                        : any(rng);
                    src[i] = static_cast<uint8_t>(v);
                    rec[i] = static_cast<uint8_t>(std::clamp(v + noise(rng), 0, 255));
                    cur[i] = static_cast<uint8_t>(c == content::random ? any(rng) : v);
                }
                if (c == content::near)  // the picture moved by a few samples, plus noise
                    for (int y = 0; y < f.height; ++y)
                        for (int x = 0; x < f.width; ++x)
                            cur[y * f.width + x] = static_cast<uint8_t>(std::clamp(
                                src[std::min(y + 3, f.height - 1) * f.width + std::max(x - 2, 0)] + noise(rng), 0,
                                255));
                for (int j = 0; j < f.height; j += 16)
                    for (int i = 0; i < f.width; i += 16)
                        for (const auto& range : ranges) {
                            const uint8_t* block = cur.data() + j * f.width + i;
                            int expected[15], actual[15];
                            motion_k = reference;
                            interlaced_block_search(src.data(), rec.data(), block, f.width, f.height, i, j, range[0],
                                                    range[1], expected, expected + 5, expected + 10);
                            motion_k = t;
                            interlaced_block_search(src.data(), rec.data(), block, f.width, f.height, i, j, range[0],
                                                    range[1], actual, actual + 5, actual + 10);
                            for (int k = 0; k < 5; ++k)
                                ASSERT_TRUE(expected[k] == actual[k] && expected[5 + k] == actual[5 + k] &&
                                            expected[10 + k] == actual[10 + k])
                                    << f.width << "x" << f.height << " content " << static_cast<int>(c) << " block ("
                                    << i << ", " << j << ") range " << range[0] << "/" << range[1] << " search " << k
                                    << ": (" << actual[5 + k] << ", " << actual[10 + k] << ") " << actual[k]
                                    << ", reference (" << expected[5 + k] << ", " << expected[10 + k] << ") "
                                    << expected[k];
                        }
            }
    });
}

// ---- 8x8 blocks ---------------------------------------------------------------

using coefficients = std::vector<int16_t>;

template <typename F>
coefficients block_of(F value) {
    coefficients b(64);
    for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(value(i));
    return b;
}

// Patterned blocks from the given extremes plus random blocks over lo..hi.
std::vector<coefficients> test_blocks(int extreme, int lo, int hi, int random_count, unsigned seed) {
    std::vector<coefficients> blocks;
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

::testing::AssertionResult same_block(const coefficients& expected, const int16_t* actual, const char* what) {
    for (int i = 0; i < 64; ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure()
                   << what << ": element " << i << " is " << actual[i] << ", reference " << expected[i];
    return ::testing::AssertionSuccess();
}

// ---- transforms ---------------------------------------------------------------

TEST(kernel_check, forward_dct) {
    struct range {
        int extreme, lo, hi;
    };
    // Differences of the coding loop, a DC of exactly 2.5 before rounding,
    // then any 16-bit input (outputs wrap).
    const range ranges[] = {{255, -255, 255}, {20, -20, 20}, {32767, -32768, 32767}};
    std::vector<coefficients> blocks;
    for (const range& r : ranges) {
        std::vector<coefficients> more = test_blocks(r.extreme, r.lo, r.hi, 1000, 7u + r.hi);
        blocks.insert(blocks.end(), more.begin(), more.end());
    }
    for (int p = 0; p < 64; ++p)
        for (int a : {-255, -20, 255}) blocks.push_back(block_of([p, a](int i) { return i == p ? a : 0; }));
    // Every 16-bit value alone in the first sample, and over the whole block
    // (whose only coefficient is the DC).
    for (int a = -32768; a <= 32767; ++a) {
        blocks.push_back(block_of([a](int i) { return i == 0 ? a : 0; }));
        blocks.push_back(block_of([a](int) { return a; }));
    }
    for_each_changed(
        init_dct_kernels, [](const dct_kernels& t) { return t.forward; },
        [&](forward_dct_fn* r, forward_dct_fn* k) {
            for (const coefficients& input : blocks) {
                coefficients expected = input, actual = input;
                r(expected.data());
                k(actual.data());
                ASSERT_TRUE(same_block(expected, actual.data(), "forward"));
            }
        });
}

TEST(kernel_check, inverse_dct) {
    std::vector<coefficients> blocks;
    for (int e : {2047, 2048, 32767}) {
        std::vector<coefficients> more = test_blocks(e, -e, e - 1, 1000, 11u + e);
        blocks.insert(blocks.end(), more.begin(), more.end());
    }
    // Every DC-only block, and one AC term next to a DC.
    for (int dc = -32768; dc <= 32767; ++dc) blocks.push_back(block_of([dc](int i) { return i == 0 ? dc : 0; }));
    for (int p = 1; p < 64; ++p)
        for (int a : {1, -1, 2047, -2048})
            blocks.push_back(block_of([p, a](int i) { return i == 0 ? 200 : (i == p ? a : 0); }));
    for_each_changed(
        init_dct_kernels, [](const dct_kernels& t) { return t.inverse; },
        [&](inverse_dct_fn* r, inverse_dct_fn* k) {
            for (const coefficients& input : blocks) {
                coefficients expected = input, actual = input;
                r(expected.data());
                k(actual.data());
                ASSERT_TRUE(same_block(expected, actual.data(), "inverse"));
            }
        });
}

// ---- quantisers --------------------------------------------------------------

// Eight matrices that between them hold every weight 1..255, each weight at
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

// Levels of the coding loop, any 16-bit input, and blocks of the extremes.
std::vector<coefficients> quantiser_inputs() {
    std::vector<coefficients> blocks = test_blocks(2047, -2047, 2047, 2, 21);
    const std::vector<coefficients> wide = test_blocks(32767, -32768, 32767, 1, 22);
    blocks.insert(blocks.end(), wide.begin(), wide.end());
    const int extremes[] = {0, 1, -1, 2, -2, 2047, -2047, 2048, -2048, 32767, -32767, -32768};
    blocks.push_back(block_of([&](int i) { return extremes[i % 12]; }));
    blocks.push_back(block_of([&](int i) { return extremes[(i + 5) % 12]; }));
    return blocks;
}

// Every magnitude 0..2047 in blocks of 64 alternating signs: with one weight
// throughout, each level change lies between two of them.
std::vector<coefficients> every_magnitude() {
    std::vector<coefficients> blocks;
    for (int start = 0; start < 2048; start += 64)
        blocks.push_back(block_of([start](int i) { return (i % 2 ? -1 : 1) * (start + i); }));
    return blocks;
}

const int spread_of_mquants[] = {1, 2, 3, 7, 31, 62, 64, 111, 112};

TEST(kernel_check, quantise_non_intra) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    const std::vector<coefficients> blocks = quantiser_inputs(), magnitudes = every_magnitude();
    for_each_changed(
        init_quantise_kernels, [](const quantise_kernels& t) { return t.quantise_non_intra; },
        [&](quantise_non_intra_fn* r, quantise_non_intra_fn* k) {
            for (const std::vector<uint8_t>& matrix : matrices)
                for (int mquant = 1; mquant <= 112; ++mquant)
                    for (const coefficients& input : blocks)
                        for (int limit : {255, 2047}) {
                            coefficients expected(64), actual = input;
                            const int nonzero = r(input.data(), expected.data(), matrix.data(), mquant, limit);
                            // In place, as the coding loop calls it.
                            ASSERT_EQ(k(actual.data(), actual.data(), matrix.data(), mquant, limit), nonzero)
                                << "mquant " << mquant;
                            ASSERT_TRUE(same_block(expected, actual.data(), "quantise_non_intra"));
                        }
            for (int w = 1; w <= 255; ++w) {
                const std::vector<uint8_t> matrix(64, static_cast<uint8_t>(w));
                for (int mquant : spread_of_mquants)
                    for (const coefficients& input : magnitudes) {
                        coefficients expected(64), actual(64);
                        r(input.data(), expected.data(), matrix.data(), mquant, 2047);
                        k(input.data(), actual.data(), matrix.data(), mquant, 2047);
                        ASSERT_TRUE(same_block(expected, actual.data(), "quantise_non_intra"))
                            << "weight " << w << " mquant " << mquant;
                    }
            }
        });
}

// Every single coefficient, every pair of far-apart ones, and random blocks
// with any share of zeros.
TEST(kernel_check, nonzero_mask) {
    std::vector<coefficients> blocks;
    blocks.push_back(coefficients(64, 0));
    for (int i = 0; i < 64; ++i)
        for (int16_t v : {int16_t{1}, int16_t{-1}, int16_t{-32768}, int16_t{256}}) {
            coefficients b(64, 0);
            b[i] = v;
            b[63 - i] = v;
            blocks.push_back(b);
        }
    std::mt19937 rng(53);
    std::uniform_int_distribution<int> value(-300, 300), share(0, 100), percent(0, 99);
    for (int n = 0; n < 2000; ++n) {
        coefficients b(64);
        const int zeros = share(rng);
        for (int16_t& v : b) v = static_cast<int16_t>(percent(rng) < zeros ? 0 : value(rng));
        blocks.push_back(b);
    }
    for_each_changed(
        init_quantise_kernels, [](const quantise_kernels& t) { return t.nonzero_mask; },
        [&](nonzero_mask_fn* r, nonzero_mask_fn* k) {
            for (const coefficients& b : blocks) ASSERT_EQ(k(b.data()), r(b.data()));
        });
}

TEST(kernel_check, quantise_intra) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    const std::vector<coefficients> blocks = quantiser_inputs(), magnitudes = every_magnitude();
    for_each_changed(
        init_quantise_kernels, [](const quantise_kernels& t) { return t.quantise_intra; },
        [&](quantise_intra_fn* r, quantise_intra_fn* k) {
            for (const std::vector<uint8_t>& matrix : matrices)
                for (int mquant = 1; mquant <= 112; ++mquant)
                    for (const coefficients& input : blocks)
                        for (int limit : {255, 2047})
                            for (int dc_precision = 0; dc_precision < 4; ++dc_precision) {
                                coefficients expected(64), actual = input;
                                const int result =
                                    r(input.data(), expected.data(), dc_precision, matrix.data(), mquant, limit);
                                ASSERT_EQ(k(actual.data(), actual.data(), dc_precision, matrix.data(), mquant, limit),
                                          result);
                                ASSERT_TRUE(same_block(expected, actual.data(), "quantise_intra"))
                                    << "mquant " << mquant << " dc_precision " << dc_precision;
                            }
            for (int w = 1; w <= 255; ++w) {
                const std::vector<uint8_t> matrix(64, static_cast<uint8_t>(w));
                for (int mquant : spread_of_mquants)
                    for (const coefficients& input : magnitudes) {
                        coefficients expected(64), actual(64);
                        r(input.data(), expected.data(), 3, matrix.data(), mquant, 2047);
                        k(input.data(), actual.data(), 3, matrix.data(), mquant, 2047);
                        ASSERT_TRUE(same_block(expected, actual.data(), "quantise_intra"))
                            << "weight " << w << " mquant " << mquant;
                    }
            }
        });
}

// Every level -2048..2047 in order, random and extreme blocks.
std::vector<coefficients> dequantiser_inputs() {
    std::vector<coefficients> blocks;
    for (int start = -2048; start < 2048; start += 64) blocks.push_back(block_of([start](int i) { return start + i; }));
    const std::vector<coefficients> more = test_blocks(2047, -2048, 2047, 3, 31);
    blocks.insert(blocks.end(), more.begin(), more.end());
    const std::vector<coefficients> wide = test_blocks(32767, -32768, 32767, 1, 32);
    blocks.insert(blocks.end(), wide.begin(), wide.end());
    return blocks;
}

TEST(kernel_check, dequantise_non_intra_both_kinds) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    const std::vector<coefficients> blocks = dequantiser_inputs();
    for (bool mpeg1 : {false, true}) {
        SCOPED_TRACE(mpeg1 ? "dequantise_non_intra_mpeg1" : "dequantise_non_intra");
        for_each_changed(
            init_quantise_kernels,
            [mpeg1](const quantise_kernels& t) {
                return mpeg1 ? t.dequantise_non_intra_mpeg1 : t.dequantise_non_intra;
            },
            [&](dequantise_non_intra_fn* r, dequantise_non_intra_fn* k) {
                for (const std::vector<uint8_t>& matrix : matrices)
                    for (int mquant = 1; mquant <= 112; ++mquant)
                        for (const coefficients& input : blocks) {
                            coefficients expected(64), actual = input;
                            r(input.data(), expected.data(), matrix.data(), mquant);
                            k(actual.data(), actual.data(), matrix.data(), mquant);
                            ASSERT_TRUE(same_block(expected, actual.data(), "dequantise")) << "mquant " << mquant;
                        }
            });
    }
}

TEST(kernel_check, dequantise_intra_both_kinds) {
    const std::vector<std::vector<uint8_t>> matrices = all_weight_matrices();
    const std::vector<coefficients> blocks = dequantiser_inputs();
    for (bool mpeg1 : {false, true}) {
        SCOPED_TRACE(mpeg1 ? "dequantise_intra_mpeg1" : "dequantise_intra");
        for_each_changed(
            init_quantise_kernels,
            [mpeg1](const quantise_kernels& t) { return mpeg1 ? t.dequantise_intra_mpeg1 : t.dequantise_intra; },
            [&](dequantise_intra_fn* r, dequantise_intra_fn* k) {
                for (const std::vector<uint8_t>& matrix : matrices)
                    for (int mquant = 1; mquant <= 112; ++mquant)
                        for (const coefficients& input : blocks)
                            for (int dc_precision = 0; dc_precision < 4; ++dc_precision) {
                                coefficients expected(64), actual = input;
                                r(input.data(), expected.data(), dc_precision, matrix.data(), mquant);
                                k(actual.data(), actual.data(), dc_precision, matrix.data(), mquant);
                                ASSERT_TRUE(same_block(expected, actual.data(), "dequantise"))
                                    << "mquant " << mquant << " dc_precision " << dc_precision;
                            }
            });
    }
}

// ---- prediction ---------------------------------------------------------------

TEST(kernel_check, prediction_rectangles) {
    struct shape {
        int stride, w, h;
    };
    // Frame and field strides of luminance and chrominance, odd sizes that
    // leave 8- and 1-sample tails.
    const shape shapes[] = {{64, 16, 16}, {128, 16, 8}, {32, 8, 8}, {64, 8, 4}, {48, 16, 16},
                            {40, 33, 5},  {40, 17, 3},  {40, 9, 2}, {40, 7, 1}, {40, 1, 1}};
    enum fill { random_bytes, white, stripes_on_white };
    for (int index = 0; index < 8; ++index) {
        SCOPED_TRACE("rectangle " + std::to_string(index));
        const int hx = index & 1, hy = (index >> 1) & 1;
        for_each_changed(
            init_predict_kernels, [index](const predict_kernels& t) { return t.rectangle[index]; },
            [&](rectangle_fn* r, rectangle_fn* k) {
                std::mt19937 rng(5 + index);
                std::uniform_int_distribution<int> byte(0, 255);
                for (const shape& s : shapes)
                    for (fill f : {random_bytes, random_bytes, random_bytes, white, stripes_on_white}) {
                        // Both end at the last sample the rectangle reads or writes.
                        std::vector<uint8_t> src(static_cast<std::size_t>((s.h - 1 + hy) * s.stride + s.w + hx));
                        std::vector<uint8_t> dst(static_cast<std::size_t>((s.h - 1) * s.stride + s.w));
                        for (std::size_t i = 0; i < src.size(); ++i) {
                            const int pattern = f == white || i % 3 ? 255 : 0;
                            src[i] = static_cast<uint8_t>(f == random_bytes ? byte(rng) : pattern);
                        }
                        for (uint8_t& v : dst) v = static_cast<uint8_t>(f == random_bytes ? byte(rng) : 255);
                        std::vector<uint8_t> expected = dst, actual = dst;
                        r(src.data(), expected.data(), s.stride, s.w, s.h);
                        k(src.data(), actual.data(), s.stride, s.w, s.h);
                        ASSERT_EQ(expected, actual)
                            << "stride " << s.stride << " w " << s.w << " h " << s.h << " fill " << f;
                    }
            });
    }
}

// ---- picture statistics -------------------------------------------------------

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(kernel_check, plane_error_sums) {
    struct shape {
        int w, h, stride;
    };
    // Tails of 1 to 15 samples, field strides, picture sizes, and a row long
    // enough to need more than one run of 32-bit partial sums.
    const shape shapes[] = {{1, 1, 1},       {15, 3, 16},     {16, 1, 16},      {17, 5, 20},
                            {31, 2, 32},     {33, 7, 40},     {176, 144, 352},  {352, 288, 352},
                            {360, 288, 720}, {720, 576, 720}, {70001, 2, 70003}};
    enum fill { random_bytes, white_on_black, identical, gradient };
    for_each_changed(
        init_stats_kernels, [](const stats_kernels& t) { return t.plane_error_sums; },
        [&](plane_error_sums_fn* r, plane_error_sums_fn* k) {
            std::mt19937 rng(17);
            std::uniform_int_distribution<int> byte(0, 255);
            for (const shape& s : shapes)
                for (fill f : {random_bytes, white_on_black, identical, gradient}) {
                    // Both planes end at the last sample read.
                    const std::size_t size = static_cast<std::size_t>(s.stride) * (s.h - 1) + s.w;
                    std::vector<uint8_t> p(size), q(size);
                    for (std::size_t i = 0; i < size; ++i) {
                        int a = byte(rng), b = byte(rng);
                        if (f == white_on_black) a = 255, b = 0;
                        if (f == identical) b = a;
                        if (f == gradient) a = static_cast<int>(i * 7 % 256), b = (a + static_cast<int>(i % 5)) % 256;
                        p[i] = static_cast<uint8_t>(a);
                        q[i] = static_cast<uint8_t>(b);
                    }
                    double expected[3], actual[3];
                    r(p.data(), q.data(), s.stride, s.w, s.h, expected);
                    k(p.data(), q.data(), s.stride, s.w, s.h, actual);
                    for (int n = 0; n < 3; ++n)
                        EXPECT_TRUE(same_bits(expected[n], actual[n]))
                            << s.w << "x" << s.h << " fill " << f << " sum " << n << ": " << actual[n] << " vs "
                            << expected[n];
                }
        });
}

// ---- samples around the transform ----------------------------------------------

// Frame and field strides of the blocks and macroblocks of small and 720-wide
// pictures, and odd ones.
const int sample_strides[] = {8, 16, 17, 24, 32, 33, 352, 720, 1440};

enum class samples { random, zeros, full, checker, cur_full_pred_zero, cur_zero_pred_full, near };
const samples all_samples[] = {samples::random,
                               samples::zeros,
                               samples::full,
                               samples::checker,
                               samples::near,
                               samples::cur_full_pred_zero,
                               samples::cur_zero_pred_full};

// A prediction and a current plane of `size` samples (lines of `stride`)
// filled by the pattern, ending at the last sample a kernel reads.
struct sample_pair {
    std::vector<uint8_t> pred, cur;
};

sample_pair sample_planes(std::size_t size, int stride, samples f, std::mt19937& rng) {
    std::uniform_int_distribution<int> any(0, 255), small(-3, 3);
    sample_pair s{std::vector<uint8_t>(size), std::vector<uint8_t>(size)};
    for (std::size_t i = 0; i < size; ++i) {
        const int x = static_cast<int>(i % stride), y = static_cast<int>(i / stride);
        int p = any(rng), c = any(rng);
        switch (f) {
        case samples::random: break;
        case samples::zeros: p = c = 0; break;
        case samples::full: p = c = 255; break;
        case samples::checker: p = (x + y) & 1 ? 255 : 0, c = 255 - p; break;
        case samples::cur_full_pred_zero: p = 0, c = 255; break;
        case samples::cur_zero_pred_full: p = 255, c = 0; break;
        case samples::near: c = std::clamp(p + small(rng), 0, 255); break;
        }
        s.pred[i] = static_cast<uint8_t>(p);
        s.cur[i] = static_cast<uint8_t>(c);
    }
    return s;
}

std::size_t plane_size(int stride, int rows, int width) { return static_cast<std::size_t>(rows - 1) * stride + width; }

TEST(kernel_check, subtract_block) {
    for_each_changed(
        init_sample_kernels, [](const sample_kernels& t) { return t.subtract_block; },
        [](subtract_block_fn* r, subtract_block_fn* k) {
            std::mt19937 rng(41);
            for (int stride : sample_strides)
                for (samples f : all_samples) {
                    const sample_pair s = sample_planes(plane_size(stride, 8, 8), stride, f, rng);
                    coefficients expected(64), actual(64);
                    r(s.pred.data(), s.cur.data(), stride, expected.data());
                    k(s.pred.data(), s.cur.data(), stride, actual.data());
                    ASSERT_TRUE(same_block(expected, actual.data(), "subtract_block"))
                        << "stride " << stride << " samples " << static_cast<int>(f);
                }
        });
}

TEST(kernel_check, add_block_over_the_inverse_transform_range) {
    // The inverse transform's extremes, every value -256..255 at each place
    // across the blocks, and random ones.
    std::vector<coefficients> blocks = test_blocks(255, -256, 255, 20, 42);
    for (int e : {-256, 255}) blocks.push_back(block_of([e](int) { return e; }));
    for (int start = -256; start < 256; start += 64)
        for (int shift : {0, 3, 29})
            blocks.push_back(block_of([start, shift](int i) { return start + (i + shift) % 64; }));
    for_each_changed(
        init_sample_kernels, [](const sample_kernels& t) { return t.add_block; },
        [&](add_block_fn* r, add_block_fn* k) {
            std::mt19937 rng(43);
            for (int stride : sample_strides)
                for (samples f : all_samples)
                    for (const coefficients& block : blocks) {
                        // rec starts as cur, so that samples between the
                        // block's lines must come through untouched.
                        const sample_pair s = sample_planes(plane_size(stride, 8, 8), stride, f, rng);
                        std::vector<uint8_t> expected = s.cur, actual = s.cur;
                        r(s.pred.data(), expected.data(), stride, block.data());
                        k(s.pred.data(), actual.data(), stride, block.data());
                        ASSERT_EQ(expected, actual) << "stride " << stride << " samples " << static_cast<int>(f);
                    }
        });
}

TEST(kernel_check, variance_8x8_bit_for_bit) {
    for_each_changed(
        init_sample_kernels, [](const sample_kernels& t) { return t.variance_8x8; },
        [](variance_8x8_fn* r, variance_8x8_fn* k) {
            std::mt19937 rng(44);
            for (int stride : sample_strides)
                for (samples f : all_samples)
                    for (int n = 0; n < 20; ++n) {
                        const sample_pair s = sample_planes(plane_size(stride, 8, 8), stride, f, rng);
                        for (const std::vector<uint8_t>* plane : {&s.pred, &s.cur}) {
                            const double expected = r(plane->data(), stride), actual = k(plane->data(), stride);
                            ASSERT_EQ(std::memcmp(&expected, &actual, sizeof expected), 0)
                                << "stride " << stride << " samples " << static_cast<int>(f) << ": " << actual << " vs "
                                << expected;
                        }
                    }
        });
}

TEST(kernel_check, field_sums) {
    for_each_changed(
        init_sample_kernels, [](const sample_kernels& t) { return t.field_sums; },
        [](field_sums_fn* r, field_sums_fn* k) {
            std::mt19937 rng(45);
            for (int stride : sample_strides) {
                if (stride < 16) continue;
                for (samples f : all_samples)
                    for (int n = 0; n < 20; ++n) {
                        const sample_pair s = sample_planes(plane_size(stride, 16, 16), stride, f, rng);
                        int expected[5], actual[5];
                        r(s.pred.data(), s.cur.data(), stride, expected);
                        k(s.pred.data(), s.cur.data(), stride, actual);
                        for (int i = 0; i < 5; ++i)
                            ASSERT_EQ(actual[i], expected[i])
                                << "stride " << stride << " samples " << static_cast<int>(f) << " sum " << i;
                    }
            }
        });
}

// ---- every family -----------------------------------------------------------

TEST(kernel_check, the_top_level_replaces_the_entries_that_have_faster_kernels) {
#if defined(__x86_64__)
    const unsigned top = simd_levels_available().back().mask;
    motion_kernels reference{};
    init_motion_kernels(reference, 0);
    const motion_kernels motion = top_table(init_motion_kernels);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(motion.block_sad[i], reference.block_sad[i]) << i;
        EXPECT_NE(motion.block_sse[i], reference.block_sse[i]) << i;
    }
    for (int i = 0; i < 16; ++i) {
        EXPECT_NE(motion.bidir_sad[i], reference.bidir_sad[i]) << i;
        EXPECT_NE(motion.bidir_sse[i], reference.bidir_sse[i]) << i;
    }
    EXPECT_NE(motion.block_variance, reference.block_variance);
    EXPECT_NE(motion.whole_search, reference.whole_search);
    EXPECT_NE(motion.interlaced_search, reference.interlaced_search);
    EXPECT_NE(motion.half_refine, reference.half_refine);

    dct_kernels dct_reference{};
    init_dct_kernels(dct_reference, 0);
    const dct_kernels dct = top_table(init_dct_kernels);
    EXPECT_NE(dct.forward, dct_reference.forward);
    if (top & cpu_avx512) {
        dct_kernels dct_avx2{};
        init_dct_kernels(dct_avx2, top & ~cpu_avx512);
        EXPECT_NE(dct.forward, dct_avx2.forward);
    }
    if (top & cpu_avx2) {
        EXPECT_NE(dct.inverse, dct_reference.inverse);
    }

    quantise_kernels quantise_reference{};
    init_quantise_kernels(quantise_reference, 0);
    const quantise_kernels quantise = top_table(init_quantise_kernels);
    if (top & cpu_avx2) {
        EXPECT_NE(quantise.quantise_intra, quantise_reference.quantise_intra);
        EXPECT_NE(quantise.quantise_non_intra, quantise_reference.quantise_non_intra);
        EXPECT_NE(quantise.dequantise_intra, quantise_reference.dequantise_intra);
        EXPECT_NE(quantise.nonzero_mask, quantise_reference.nonzero_mask);
        EXPECT_NE(quantise.dequantise_non_intra, quantise_reference.dequantise_non_intra);
        EXPECT_NE(quantise.dequantise_intra_mpeg1, quantise_reference.dequantise_intra_mpeg1);
        EXPECT_NE(quantise.dequantise_non_intra_mpeg1, quantise_reference.dequantise_non_intra_mpeg1);
    }

    predict_kernels predict_reference{};
    init_predict_kernels(predict_reference, 0);
    const predict_kernels predict = top_table(init_predict_kernels);
    for (int i = 0; i < 8; ++i) EXPECT_NE(predict.rectangle[i], predict_reference.rectangle[i]) << i;

    sample_kernels sample_reference{};
    init_sample_kernels(sample_reference, 0);
    const sample_kernels sample = top_table(init_sample_kernels);
    EXPECT_NE(sample.subtract_block, sample_reference.subtract_block);
    EXPECT_NE(sample.add_block, sample_reference.add_block);
    EXPECT_NE(sample.variance_8x8, sample_reference.variance_8x8);
    EXPECT_NE(sample.field_sums, sample_reference.field_sums);

    stats_kernels stats_reference{};
    init_stats_kernels(stats_reference, 0);
    EXPECT_NE(top_table(init_stats_kernels).plane_error_sums, stats_reference.plane_error_sums);
#else
    GTEST_SKIP() << "only the reference kernels on this processor";
#endif
}

}  // namespace
