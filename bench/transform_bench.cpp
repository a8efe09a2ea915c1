// Transform-family and statistics kernels at every SIMD level, on pools of
// blocks like those of the coding loop.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel_bench.h"
#include "stats/stats_kernels.h"
#include "transform/dct_kernels.h"
#include "transform/predict_kernels.h"
#include "transform/quantise_kernels.h"
#include "transform/sample_kernels.h"

namespace {

constexpr int pool_blocks = 256;

// Values in -range..range, one in `sparse` of them non-zero (sparse >= 1).
std::vector<int16_t> block_pool(int range, int sparse, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-range, range), pick(0, sparse - 1);
    std::vector<int16_t> pool(64 * pool_blocks);
    for (int16_t& v : pool) v = static_cast<int16_t>(pick(rng) == 0 ? value(rng) : 0);
    return pool;
}

const uint8_t* default_non_intra_matrix() {
    static const std::vector<uint8_t> m(64, 16);
    return m.data();
}

const uint8_t* default_intra_matrix() {
    static const uint8_t m[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                  19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                  22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                  26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};
    return m;
}

template <typename F>
void run_pool(benchmark::State& state, const std::vector<int16_t>& pool, F kernel) {
    std::vector<int16_t> work(pool.size());
    for (auto _ : state) {
        std::memcpy(work.data(), pool.data(), pool.size() * sizeof(int16_t));
        for (int b = 0; b < pool_blocks; ++b) kernel(work.data() + 64 * b);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pool_blocks);
}

bool register_dct_benchmarks() {
    register_entry(
        "forward_dct", init_dct_kernels, [](const dct_kernels& t) { return t.forward; },
        [](benchmark::State& state, forward_dct_fn* k) { run_pool(state, block_pool(255, 1, 1), k); });
    // Coded blocks hold a few levels; uncoded ones only the DC of 200.
    struct inverse_case {
        const char* name;
        int sparse;
    };
    for (const inverse_case& c : {inverse_case{"dc_only", 0}, inverse_case{"sparse", 8}, inverse_case{"dense", 1}})
        register_entry(
            std::string("inverse_dct/") + c.name, init_dct_kernels, [](const dct_kernels& t) { return t.inverse; },
            [c](benchmark::State& state, inverse_dct_fn* k) {
                std::vector<int16_t> pool(64 * pool_blocks, 0);
                if (c.sparse == 0)
                    for (int b = 0; b < pool_blocks; ++b) pool[64 * b] = 200;
                else
                    pool = block_pool(300, c.sparse, 2);
                run_pool(state, pool, k);
            });
    return true;
}
const bool dct_registered = register_dct_benchmarks();

bool register_quantise_benchmarks() {
    register_entry(
        "quantise_non_intra", init_quantise_kernels, [](const quantise_kernels& t) { return t.quantise_non_intra; },
        [](benchmark::State& state, quantise_non_intra_fn* k) {
            run_pool(state, block_pool(400, 2, 3), [&](int16_t* b) {
                benchmark::DoNotOptimize(k(b, b, default_non_intra_matrix(), 12, 2047));
            });
        });
    register_entry(
        "quantise_intra", init_quantise_kernels, [](const quantise_kernels& t) { return t.quantise_intra; },
        [](benchmark::State& state, quantise_intra_fn* k) {
            run_pool(state, block_pool(1000, 1, 4), [&](int16_t* b) { k(b, b, 0, default_intra_matrix(), 12, 2047); });
        });
    for (bool mpeg1 : {false, true}) {
        register_entry(
            mpeg1 ? "dequantise_non_intra_mpeg1" : "dequantise_non_intra", init_quantise_kernels,
            [mpeg1](const quantise_kernels& t) {
                return mpeg1 ? t.dequantise_non_intra_mpeg1 : t.dequantise_non_intra;
            },
            [](benchmark::State& state, dequantise_non_intra_fn* k) {
                run_pool(state, block_pool(20, 8, 5), [&](int16_t* b) { k(b, b, default_non_intra_matrix(), 12); });
            });
        register_entry(
            mpeg1 ? "dequantise_intra_mpeg1" : "dequantise_intra", init_quantise_kernels,
            [mpeg1](const quantise_kernels& t) { return mpeg1 ? t.dequantise_intra_mpeg1 : t.dequantise_intra; },
            [](benchmark::State& state, dequantise_intra_fn* k) {
                run_pool(state, block_pool(20, 4, 6), [&](int16_t* b) { k(b, b, 0, default_intra_matrix(), 12); });
            });
    }
    return true;
}
const bool quantise_registered = register_quantise_benchmarks();

// One 16x16 luminance rectangle per macroblock of a 352x288 picture.
bool register_predict_benchmarks() {
    for (int index = 0; index < 8; ++index)
        register_entry(
            std::string("predict_rectangle/") + half_names[index & 3] + (index & 4 ? "_average" : ""),
            init_predict_kernels, [index](const predict_kernels& t) { return t.rectangle[index]; },
            [](benchmark::State& state, rectangle_fn* k) {
                constexpr int width = 352, height = 288;
                std::vector<uint8_t> src(width * (height + 1) + 1), dst(width * height);
                std::mt19937 rng(8);
                for (uint8_t& v : src) v = static_cast<uint8_t>(rng());
                for (auto _ : state) {
                    for (int y = 0; y < height; y += 16)
                        for (int x = 0; x < width; x += 16)
                            k(src.data() + y * width + x, dst.data() + y * width + x, width, 16, 16);
                    benchmark::DoNotOptimize(dst.data());
                    benchmark::ClobberMemory();
                }
                state.SetItemsProcessed(state.iterations() * (width / 16) * (height / 16));
            });
    return true;
}
const bool predict_registered = register_predict_benchmarks();

// Every 8x8 block (16x16 for the field sums) of a 720x576 luminance plane.
struct sample_picture {
    static constexpr int width = 720, height = 576;
    std::vector<uint8_t> pred, cur;
    std::vector<int16_t> blocks;
    sample_picture() : pred(width * height), cur(width * height), blocks(width * height) {
        std::mt19937 rng(10);
        for (std::size_t i = 0; i < pred.size(); ++i) {
            pred[i] = static_cast<uint8_t>(rng());
            cur[i] = static_cast<uint8_t>(pred[i] + rng() % 9 - 4);
        }
        // Inverse-transform outputs, -256..255.
        for (int16_t& v : blocks) v = static_cast<int16_t>(static_cast<int>(rng() % 512) - 256);
    }
    template <typename F>
    void each_block(int size, F f) {
        int n = 0;
        for (int y = 0; y < height; y += size)
            for (int x = 0; x < width; x += size, ++n) f(y * width + x, blocks.data() + 64 * n);
    }
    static int count(int size) { return (width / size) * (height / size); }
};

bool register_sample_benchmarks() {
    register_entry(
        "subtract_block", init_sample_kernels, [](const sample_kernels& t) { return t.subtract_block; },
        [](benchmark::State& state, subtract_block_fn* k) {
            sample_picture pic;
            for (auto _ : state) {
                pic.each_block(8, [&](int o, int16_t* b) { k(pic.pred.data() + o, pic.cur.data() + o, pic.width, b); });
                benchmark::DoNotOptimize(pic.blocks.data());
                benchmark::ClobberMemory();
            }
            state.SetItemsProcessed(state.iterations() * sample_picture::count(8));
        });
    register_entry(
        "add_block", init_sample_kernels, [](const sample_kernels& t) { return t.add_block; },
        [](benchmark::State& state, add_block_fn* k) {
            sample_picture pic;
            for (auto _ : state) {
                pic.each_block(8, [&](int o, int16_t* b) { k(pic.pred.data() + o, pic.cur.data() + o, pic.width, b); });
                benchmark::DoNotOptimize(pic.cur.data());
                benchmark::ClobberMemory();
            }
            state.SetItemsProcessed(state.iterations() * sample_picture::count(8));
        });
    register_entry(
        "variance_8x8", init_sample_kernels, [](const sample_kernels& t) { return t.variance_8x8; },
        [](benchmark::State& state, variance_8x8_fn* k) {
            sample_picture pic;
            for (auto _ : state) {
                double total = 0.0;
                pic.each_block(8, [&](int o, int16_t*) { total += k(pic.cur.data() + o, pic.width); });
                benchmark::DoNotOptimize(total);
            }
            state.SetItemsProcessed(state.iterations() * sample_picture::count(8));
        });
    register_entry(
        "field_sums", init_sample_kernels, [](const sample_kernels& t) { return t.field_sums; },
        [](benchmark::State& state, field_sums_fn* k) {
            sample_picture pic;
            int sums[5];
            for (auto _ : state) {
                pic.each_block(16, [&](int o, int16_t*) {
                    k(pic.pred.data() + o, pic.cur.data() + o, pic.width, sums);
                    benchmark::DoNotOptimize(sums);
                });
            }
            state.SetItemsProcessed(state.iterations() * sample_picture::count(16));
        });
    return true;
}
const bool sample_registered = register_sample_benchmarks();

bool register_stats_benchmarks() {
    register_entry(
        "plane_error_sums", init_stats_kernels, [](const stats_kernels& t) { return t.plane_error_sums; },
        [](benchmark::State& state, plane_error_sums_fn* k) {
            constexpr int width = 720, height = 576;
            std::vector<uint8_t> p(width * height), q(width * height);
            std::mt19937 rng(9);
            for (std::size_t i = 0; i < p.size(); ++i) {
                p[i] = static_cast<uint8_t>(rng());
                q[i] = static_cast<uint8_t>(p[i] + rng() % 5);
            }
            double sums[3];
            for (auto _ : state) {
                k(p.data(), q.data(), width, width, height, sums);
                benchmark::DoNotOptimize(sums);
            }
            state.SetBytesProcessed(state.iterations() * width * height);
        });
    return true;
}
const bool stats_registered = register_stats_benchmarks();

}  // namespace
