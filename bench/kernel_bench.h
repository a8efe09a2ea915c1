// Registration of kernel benchmarks from the kernel tables: one benchmark
// per entry and per SIMD level this machine has, named "entry/level". A
// level is registered only where its entry differs from those of the levels
// below it, so that each distinct kernel runs once.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "driver/cpu.h"

// entry(table) picks what is measured (a kernel pointer, or an array of
// them); run(state, picked) measures it. Returns the benchmarks registered,
// for arguments to be added.
template <typename Table, typename Entry, typename Run>
std::vector<benchmark::internal::Benchmark*> register_entry(const std::string& name,
                                                            void (*init)(Table&, unsigned), Entry entry, Run run) {
    std::vector<benchmark::internal::Benchmark*> registered;
    std::vector<decltype(entry(std::declval<const Table&>()))> seen;
    for (const simd_level& level : simd_levels_available()) {
        Table t{};
        init(t, level.mask);
        const auto picked = entry(t);
        if (std::find(seen.begin(), seen.end(), picked) != seen.end()) continue;
        seen.push_back(picked);
        const std::string full_name = name + "/" + std::string(level.name);
        registered.push_back(benchmark::RegisterBenchmark(
            full_name.c_str(), [picked, run](benchmark::State& state) { run(state, picked); }));
    }
    return registered;
}

// The names of the half-sample indices.
inline const char* const half_names[4] = {"whole", "half_x", "half_y", "half_xy"};
