// Motion kernels at every SIMD level, on a textured frame and its moved
// successor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kernel_bench.h"
#include "motion/block_match.h"
#include "motion/motion_kernels.h"

namespace {

constexpr int width = 352, height = 288;

// Smooth value noise at three scales, so that the SAD surface has both a
// clear minimum and plausible local structure.
double texture(double x, double y) {
    auto lattice = [](int i, int j, unsigned salt) {
        unsigned h = static_cast<unsigned>(i) * 374761393u + static_cast<unsigned>(j) * 668265263u + salt;
        h = (h ^ (h >> 13)) * 1274126177u;
        return static_cast<double>((h ^ (h >> 16)) & 255u);
    };
    auto smooth = [&](double cell, unsigned salt) {
        double u = x / cell, v = y / cell, fu = std::floor(u), fv = std::floor(v), tx = u - fu, ty = v - fv;
        int i = static_cast<int>(fu), j = static_cast<int>(fv);
        double top = lattice(i, j, salt) + (lattice(i + 1, j, salt) - lattice(i, j, salt)) * tx;
        double bottom = lattice(i, j + 1, salt) + (lattice(i + 1, j + 1, salt) - lattice(i, j + 1, salt)) * tx;
        return top + (bottom - top) * ty;
    };
    return 0.5 * smooth(32, 1) + 0.3 * smooth(8, 2) + 0.2 * smooth(3, 3);
}

struct frames {
    std::vector<uint8_t> src, rec, cur;  // reference source, its reconstruction, the current picture
    frames() : src(width * height), rec(width * height), cur(width * height) {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> noise(-2, 2);
        auto sample = [&](double v) { return static_cast<uint8_t>(std::clamp(v + noise(rng), 0.0, 255.0)); };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int i = y * width + x;
                src[i] = sample(texture(x, y));
                rec[i] = sample(src[i]);
                cur[i] = sample(texture(x + 2.5, y - 1.25));
            }
    }
};

const frames& pictures() {
    static const frames f;
    return f;
}

constexpr int pair_count = 256;

// Block pairs spread over the frame, each a small distance apart.
struct pair_list {
    std::vector<const uint8_t*> ref, cur;
    explicit pair_list(int rows) {
        const frames& f = pictures();
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> px(0, width - 17), py(0, height - rows - 1), d(-6, 6);
        for (int k = 0; k < pair_count; ++k) {
            int x = px(rng), y = py(rng);
            int rx = std::clamp(x + d(rng), 0, width - 17), ry = std::clamp(y + d(rng), 0, height - rows - 1);
            ref.push_back(f.rec.data() + ry * width + rx);
            cur.push_back(f.cur.data() + y * width + x);
        }
    }
};

const pair_list& pairs() {
    static const pair_list p(16);
    return p;
}

template <typename Kernel>
void block_pairs_bench(benchmark::State& state, Kernel kernel) {
    const pair_list& p = pairs();
    std::size_t n = 0;
    for (auto _ : state) {
        const std::size_t i = n++ % pair_count;
        benchmark::DoNotOptimize(kernel(p.ref[i], p.cur[i]));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The kernels block_search reads: the refinement and the whole-sample
// search.
struct search_kernels {
    half_refine_fn* refine;
    whole_search_fn* whole;
    bool operator==(const search_kernels&) const = default;
};

// Every macroblock of the frame searched as the estimators do; items are
// macroblocks (frame blocks of 16 rows, or the two 8-row field blocks).
void block_search_bench(benchmark::State& state, const search_kernels& k, int range, bool field) {
    const frames& f = pictures();
    const motion_kernels saved = motion_k;
    motion_k.half_refine = k.refine;
    motion_k.whole_search = k.whole;
    for (auto _ : state) {
        for (int j = 0; j < height; j += 16)
            for (int i = 0; i < width; i += 16) {
                int x, y;
                if (!field) {
                    benchmark::DoNotOptimize(block_search(f.src.data(), f.rec.data(), f.cur.data() + j * width + i,
                                                          width, i, j, range, range, 16, width, height, &x, &y));
                    continue;
                }
                for (int parity = 0; parity < 2; ++parity)
                    benchmark::DoNotOptimize(block_search(f.src.data() + parity * width, f.rec.data() + parity * width,
                                                          f.cur.data() + (j + parity) * width + i, 2 * width, i,
                                                          j >> 1, range, range >> 1, 8, width, height / 2, &x, &y));
            }
    }
    motion_k = saved;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * (width / 16) * (height / 16));
}

// The whole-sample pass alone over the windows of every macroblock, clipped
// at the picture's edges as block_search clips them; items are positions.
void whole_search_bench(benchmark::State& state, whole_search_fn* k, int range, bool field) {
    const frames& f = pictures();
    const int stride = field ? 2 * width : width, area_height = field ? height / 2 : height, rows = field ? 8 : 16;
    const int range_y = field ? range >> 1 : range;
    int64_t positions = 0;
    for (auto _ : state) {
        positions = 0;
        for (int j = 0; j < area_height - rows + 1; j += rows)
            for (int i = 0; i < width; i += 16) {
                const int xlow = std::max(i - range, 0), xhigh = std::min(i + range, width - 16);
                const int ylow = std::max(j - range_y, 0), yhigh = std::min(j + range_y, area_height - rows);
                const int w = xhigh - xlow + 1, h = yhigh - ylow + 1;
                positions += w * h;
                benchmark::DoNotOptimize(k(f.src.data() + ylow * stride + xlow, f.cur.data() + j * stride + i,
                                           stride, rows, w, h, i - xlow, j - ylow));
            }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * positions);
}

bool register_motion_benchmarks() {
    for (int half = 0; half < 4; ++half) {
        const auto sad = [half](const motion_kernels& t) { return t.block_sad[half]; };
        // The whole-sample search stops early at the best sum so far.
        for (int limit : half ? std::vector<int>{no_distortion} : std::vector<int>{no_distortion, 1000})
            register_entry("block_sad/" + std::string(half_names[half]) +
                               (limit == no_distortion ? "" : "_limit" + std::to_string(limit)),
                           init_motion_kernels, sad, [limit](benchmark::State& state, block_sad_fn* k) {
                               block_pairs_bench(state, [&](const uint8_t* ref, const uint8_t* cur) {
                                   return k(ref, cur, width, 16, limit);
                               });
                           });
        register_entry(
            "block_sse/" + std::string(half_names[half]), init_motion_kernels,
            [half](const motion_kernels& t) { return t.block_sse[half]; },
            [](benchmark::State& state, block_sse_fn* k) {
                block_pairs_bench(state,
                                  [&](const uint8_t* ref, const uint8_t* cur) { return k(ref, cur, width, 16); });
            });
    }
    for (int squared = 0; squared < 2; ++squared)
        for (int flags = 0; flags < 16; ++flags) {
            const std::string name = std::string(squared ? "bidir_sse/fwd_" : "bidir_sad/fwd_") +
                                     half_names[flags & 3] + "_bwd_" + half_names[flags >> 2];
            register_entry(
                name, init_motion_kernels,
                [=](const motion_kernels& t) { return squared ? t.bidir_sse[flags] : t.bidir_sad[flags]; },
                [](benchmark::State& state, bidir_fn* k) {
                    const pair_list& p = pairs();
                    std::size_t n = 0;
                    for (auto _ : state) {
                        const std::size_t i = n++ % pair_count;
                        benchmark::DoNotOptimize(k(p.ref[i], p.ref[(i + 1) % pair_count], p.cur[i], width, 16));
                    }
                    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
                });
        }
    // Every block of the frame away from its edges refined around a position
    // moved a little; items are blocks.
    register_entry(
        "half_refine", init_motion_kernels, [](const motion_kernels& t) { return t.half_refine; },
        [](benchmark::State& state, half_refine_fn* k) {
            const frames& f = pictures();
            int64_t blocks = 0;
            for (auto _ : state) {
                blocks = 0;
                for (int j = 16; j + 32 <= height; j += 16)
                    for (int i = 16; i + 32 <= width; i += 16, ++blocks)
                        benchmark::DoNotOptimize(k(f.rec.data() + (j - 1) * width + i + 2, f.cur.data() + j * width + i,
                                                   width, 16, all_sides));
            }
            state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * blocks);
        });
    register_entry(
        "block_variance", init_motion_kernels, [](const motion_kernels& t) { return t.block_variance; },
        [](benchmark::State& state, block_variance_fn* k) {
            block_pairs_bench(state, [&](const uint8_t*, const uint8_t* cur) { return k(cur, width); });
        });
    struct search_case {
        const char* name;
        int range;
        bool field;
    };
    const search_case cases[] = {{"frame_w7", 7, false},   {"frame_w11", 11, false}, {"frame_w15", 15, false},
                                 {"frame_w31", 31, false}, {"field_w15", 15, true}};
    for (const search_case& c : cases) {
        register_entry(
            std::string("block_search/") + c.name, init_motion_kernels,
            [](const motion_kernels& t) { return search_kernels{t.half_refine, t.whole_search}; },
            [c](benchmark::State& state, const search_kernels& k) { block_search_bench(state, k, c.range, c.field); });
        register_entry(
            std::string("whole_search/") + c.name, init_motion_kernels,
            [](const motion_kernels& t) { return t.whole_search; },
            [c](benchmark::State& state, whole_search_fn* k) { whole_search_bench(state, k, c.range, c.field); });
    }
    return true;
}

const bool registered = register_motion_benchmarks();

}  // namespace
