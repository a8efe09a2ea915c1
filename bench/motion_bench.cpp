// Motion kernels: the reference table against the one init_motion_kernels
// selects, on a textured frame and its moved successor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "motion/block_match.h"

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

const motion_kernels& table(bool optimised) {
    static const motion_kernels selected = [] {
        init_motion_kernels();
        return motion_k;
    }();
    return optimised ? selected : motion_kernels_reference;
}

// Block pairs spread over the frame, each a small distance apart.
struct pair_list {
    std::vector<const uint8_t*> ref, cur;
    explicit pair_list(int rows) {
        const frames& f = pictures();
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> px(0, width - 17), py(0, height - rows - 1), d(-6, 6);
        for (int k = 0; k < 256; ++k) {
            int x = px(rng), y = py(rng);
            int rx = std::clamp(x + d(rng), 0, width - 17), ry = std::clamp(y + d(rng), 0, height - rows - 1);
            ref.push_back(f.rec.data() + ry * width + rx);
            cur.push_back(f.cur.data() + y * width + x);
        }
    }
};

void block_sad_bench(benchmark::State& state, bool optimised, int hx, int hy, int limit) {
    const motion_kernels& k = table(optimised);
    static const pair_list pairs(16);
    std::size_t n = 0;
    for (auto _ : state) {
        const std::size_t i = n++ & 255;
        benchmark::DoNotOptimize(k.block_sad(pairs.ref[i], pairs.cur[i], width, hx, hy, 16, limit));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void block_sse_bench(benchmark::State& state, bool optimised, int hx, int hy) {
    const motion_kernels& k = table(optimised);
    static const pair_list pairs(16);
    std::size_t n = 0;
    for (auto _ : state) {
        const std::size_t i = n++ & 255;
        benchmark::DoNotOptimize(k.block_sse(pairs.ref[i], pairs.cur[i], width, hx, hy, 16));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void bidir_bench(benchmark::State& state, bool optimised, bool squared) {
    const motion_kernels& k = table(optimised);
    auto kernel = squared ? k.bidir_sse : k.bidir_sad;
    static const pair_list pairs(16);
    std::size_t n = 0;
    for (auto _ : state) {
        const std::size_t i = n++ & 255;
        benchmark::DoNotOptimize(
            kernel(pairs.ref[i], pairs.ref[(i + 1) & 255], pairs.cur[i], width, 1, 1, 1, 0, 16));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void block_variance_bench(benchmark::State& state, bool optimised) {
    const motion_kernels& k = table(optimised);
    static const pair_list pairs(16);
    std::size_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(k.block_variance(pairs.cur[n++ & 255], width));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Every macroblock of the frame searched as the estimators do; items are
// macroblocks (frame blocks of 16 rows, or the two 8-row field blocks).
void block_search_bench(benchmark::State& state, bool optimised, int range, bool field) {
    const frames& f = pictures();
    const motion_kernels saved = motion_k;
    motion_k = table(optimised);
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

}  // namespace

BENCHMARK_CAPTURE(block_sad_bench, whole_full_reference, false, 0, 0, no_distortion);
BENCHMARK_CAPTURE(block_sad_bench, whole_full_selected, true, 0, 0, no_distortion);
BENCHMARK_CAPTURE(block_sad_bench, whole_limit1000_reference, false, 0, 0, 1000);
BENCHMARK_CAPTURE(block_sad_bench, whole_limit1000_selected, true, 0, 0, 1000);
BENCHMARK_CAPTURE(block_sad_bench, half_x_reference, false, 1, 0, 0);
BENCHMARK_CAPTURE(block_sad_bench, half_x_selected, true, 1, 0, 0);
BENCHMARK_CAPTURE(block_sad_bench, half_y_reference, false, 0, 1, 0);
BENCHMARK_CAPTURE(block_sad_bench, half_y_selected, true, 0, 1, 0);
BENCHMARK_CAPTURE(block_sad_bench, half_xy_reference, false, 1, 1, 0);
BENCHMARK_CAPTURE(block_sad_bench, half_xy_selected, true, 1, 1, 0);
BENCHMARK_CAPTURE(block_sse_bench, whole_reference, false, 0, 0);
BENCHMARK_CAPTURE(block_sse_bench, whole_selected, true, 0, 0);
BENCHMARK_CAPTURE(block_sse_bench, half_xy_reference, false, 1, 1);
BENCHMARK_CAPTURE(block_sse_bench, half_xy_selected, true, 1, 1);
BENCHMARK_CAPTURE(bidir_bench, sad_reference, false, false);
BENCHMARK_CAPTURE(bidir_bench, sad_selected, true, false);
BENCHMARK_CAPTURE(bidir_bench, sse_reference, false, true);
BENCHMARK_CAPTURE(bidir_bench, sse_selected, true, true);
BENCHMARK_CAPTURE(block_variance_bench, reference, false);
BENCHMARK_CAPTURE(block_variance_bench, selected, true);
BENCHMARK_CAPTURE(block_search_bench, frame_w11_reference, false, 11, false);
BENCHMARK_CAPTURE(block_search_bench, frame_w11_selected, true, 11, false);
BENCHMARK_CAPTURE(block_search_bench, frame_w31_reference, false, 31, false);
BENCHMARK_CAPTURE(block_search_bench, frame_w31_selected, true, 31, false);
BENCHMARK_CAPTURE(block_search_bench, field_w15_reference, false, 15, true);
BENCHMARK_CAPTURE(block_search_bench, field_w15_selected, true, 15, true);
