// Processor features: level names, the cap, and the levels this machine has.
#include <gtest/gtest.h>

#include <string>

#include "driver/cpu.h"

namespace {

TEST(simd_level, names_give_masks_that_hold_every_lower_rung) {
    struct name_case {
        const char* name;
        unsigned mask;
    } cases[] = {
        {"none", 0},
        {"sse2", cpu_sse2},
        {"avx2", cpu_sse2 | cpu_sse41 | cpu_avx2},
        {"avx512", cpu_sse2 | cpu_sse41 | cpu_avx2 | cpu_avx512},
    };
    for (const name_case& c : cases) {
        unsigned mask = 12345;
        EXPECT_TRUE(parse_simd_level(c.name, mask)) << c.name;
        EXPECT_EQ(mask, c.mask) << c.name;
    }
    ASSERT_EQ(simd_levels().size(), std::size(cases));
    for (std::size_t i = 1; i < simd_levels().size(); ++i) {
        const unsigned lower = simd_levels()[i - 1].mask, mask = simd_levels()[i].mask;
        EXPECT_EQ(mask & lower, lower) << simd_levels()[i].name;
        EXPECT_NE(mask, lower) << simd_levels()[i].name;
    }
}

TEST(simd_level, unknown_names_are_refused_and_leave_the_mask_alone) {
    for (const char* name : {"", "SSE2", "avx", "sse41", "avx2 ", "avx-512", "all"}) {
        unsigned mask = 12345;
        EXPECT_FALSE(parse_simd_level(name, mask)) << '"' << name << '"';
        EXPECT_EQ(mask, 12345u) << '"' << name << '"';
    }
}

TEST(simd_level, the_available_levels_start_at_none_and_are_all_detected) {
    set_cpu_cap(~0u);
    const std::vector<simd_level> available = simd_levels_available();
    ASSERT_FALSE(available.empty());
    EXPECT_EQ(available[0].name, "none");
    for (const simd_level& level : available) EXPECT_EQ(cpu_flags() & level.mask, level.mask) << level.name;
    for (const simd_level& level : simd_levels()) {
        bool listed = false;
        for (const simd_level& a : available) listed = listed || a.name == level.name;
        EXPECT_EQ(listed, (cpu_flags() & level.mask) == level.mask) << level.name;
    }
#if defined(__x86_64__)
    EXPECT_TRUE(cpu_flags() & cpu_sse2) << "every x86-64 processor has SSE2";
#endif
}

TEST(cpu_cap, lowers_the_flags_until_the_next_cap) {
    set_cpu_cap(~0u);
    const unsigned detected = cpu_flags();
    const std::size_t available = simd_levels_available().size();
    for (const simd_level& level : simd_levels()) {
        set_cpu_cap(level.mask);
        EXPECT_EQ(cpu_flags(), detected & level.mask) << level.name;
        // The machine's levels stay listed, so a benchmark under a cap still sees them all.
        EXPECT_EQ(simd_levels_available().size(), available) << level.name;
    }
    set_cpu_cap(~0u);
    EXPECT_EQ(cpu_flags(), detected);
}

}  // namespace
