// Field-picture estimation: reference fields, 16x16, 16x8, dual prime, B rules.
#include <gtest/gtest.h>

#include <string>

#include "motion/motion_estimation.h"
#include "motion_fixture.h"

using namespace motion_test;

namespace {

// Interlaced field pictures, one macroblock row per field (32 lines).
void setup_fields(int width, int M, int tff) { setup_encoder({width, 32, 0, 1, M, tff}); }

struct field_call {
    int pict_type, structure, second_field = 0, i_first_field = 0;
    int hw = 16, vw = 0;
};

macroblock_info estimate(const field_call& c, luma& past, luma& future, luma& cur_src, luma& cur_rec, int i = 0) {
    enc.picture.pict_type = c.pict_type;
    enc.picture.picture_structure = c.structure;
    macroblock_info mb{};
    mb.mv[0][0][0] = 99;
    field_mb_estimate(past.data(), future.data(), past.data(), future.data(), cur_src.data(), cur_rec.data(), i, 0,
                      c.hw, c.vw, c.hw, c.vw, &mb, c.second_field, c.i_first_field);
    return mb;
}

// The field of the current picture's parity.
int parity(int structure) { return structure == 2 ? 1 : 0; }

// Case name of a field picture's structure.
std::string field_name(int structure) { return structure == 2 ? "bottom_field" : "top_field"; }

struct i_first_case {
    int tff, structure, select;
};

class second_field_of_i_frame : public ::testing::TestWithParam<i_first_case> {};

TEST_P(second_field_of_i_frame, is_always_motion_compensated_from_the_first_field) {
    const auto c = GetParam();
    setup_fields(16, 1, c.tff);
    luma past = random_luma(1), cur = random_luma(2), rec = random_luma(3);
    const int p = parity(c.structure);
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x) cur.field(p, x, k) = rec.field(1 - p, x, k) = cur.field(1 - p, x, k);
    macroblock_info mb = estimate({2, c.structure, 1, 1}, past, past, cur, rec);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);  // even with a zero vector
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][0], 0);
    EXPECT_EQ(mb.mv[0][0][1], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], c.select);
}

INSTANTIATE_TEST_SUITE_P(cases, second_field_of_i_frame,
                         ::testing::Values(i_first_case{1, 2, 0}, i_first_case{0, 1, 1}),
                         [](const ::testing::TestParamInfo<i_first_case>& info) {
                             return "tff" + std::to_string(info.param.tff) + "_" + field_name(info.param.structure);
                         });

class equal_reference_fields : public ::testing::TestWithParam<int> {};

TEST_P(equal_reference_fields, choose_the_top_field_for_either_current_parity) {
    const int structure = GetParam();
    setup_fields(32, 3, 1);
    luma q = random_luma(11), past, cur = random_luma(12);
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 32; ++x) {
            past.field(0, x, k) = past.field(1, x, k) = q.at(x, k);
            if (x < 16) cur.field(parity(structure), x, k) = q.at(x + 16, k);
        }
    macroblock_info mb = estimate({2, structure}, past, past, cur, cur);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_FIELD);  // 16x8 only as good as 16x16
    EXPECT_EQ(mb.mv[0][0][0], 32);
    EXPECT_EQ(mb.mv[0][0][1], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 0);
}

INSTANTIATE_TEST_SUITE_P(cases, equal_reference_fields, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return field_name(info.param); });

class no_motion_compensation : public ::testing::TestWithParam<int> {};

TEST_P(no_motion_compensation, keeps_the_zero_vector_on_the_same_parity_field) {
    const int structure = GetParam(), p = parity(structure);
    setup_fields(16, 3, 1);
    luma past = random_luma(21), cur = random_luma(22);
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x) cur.field(p, x, k) = past.field(p, x, k);
    macroblock_info mb = estimate({2, structure}, past, past, cur, cur);
    EXPECT_EQ(mb.mb_type, 0);
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][0], 0);
    EXPECT_EQ(mb.mv[0][0][1], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], p);
}

INSTANTIATE_TEST_SUITE_P(cases, no_motion_compensation, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return field_name(info.param); });

TEST(field_16x8, lower_vector_is_measured_from_its_own_position) {
    setup_fields(32, 3, 1);
    luma past = random_luma(31), cur = random_luma(32);
    // upper eight rows moved 16 left, lower eight in place
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x) cur.field(0, x, k) = past.field(0, k < 8 ? x + 16 : x, k);
    macroblock_info mb = estimate({2, 1}, past, past, cur, cur);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_16X8);
    EXPECT_EQ(mb.mv[0][0][0], 32);
    EXPECT_EQ(mb.mv[0][0][1], 0);
    EXPECT_EQ(mb.mv[1][0][0], 0);
    EXPECT_EQ(mb.mv[1][0][1], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[1][0], 0);
}

TEST(field_translation, vertical_half_rows_are_not_doubled) {
    // 64 lines, 32 per field; the bottom field moved 3 half rows up.
    setup_encoder({32, 64, 0, 1, 3, 1});
    luma past = random_luma(35), cur = random_luma(36);
    for (int k = 0; k + 2 < 32; ++k)
        for (int x = 0; x < 32; ++x)
            cur.field(1, x, k) = static_cast<uint8_t>((past.field(1, x, k + 1) + past.field(1, x, k + 2) + 1) >> 1);
    enc.picture.pict_type = 2;
    enc.picture.picture_structure = 2;
    macroblock_info mb{};
    field_mb_estimate(past.data(), past.data(), past.data(), past.data(), cur.data(), cur.data(), 16, 0, 4, 8, 4,
                      8, &mb, 0, 0);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][0], 0);
    EXPECT_EQ(mb.mv[0][0][1], 3);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 1);
}

TEST(second_field_of_p_frame, predicts_the_opposite_parity_from_its_own_first_field) {
    setup_fields(32, 3, 1);
    luma past = random_luma(41), cur = random_luma(42), rec = random_luma(43);
    // bottom (second) field = the reconstructed top field moved 16 left; the
    // source of the first field matches its reconstruction
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 32; ++x) {
            cur.field(0, x, k) = rec.field(0, x, k);
            if (x < 16) cur.field(1, x, k) = rec.field(0, x + 16, k);
        }
    macroblock_info mb = estimate({2, 2, 1, 0}, past, past, cur, rec);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][0], 32);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 0);
}

// Reference fields T = Q and B = Q + 16, current field Q + 8: the mean of the
// same-parity field and the opposite one at the derived position (one half
// row off, brought back by dmvector) is exact; each field alone misses by 8.
struct dual_case {
    int structure, M;
    int mb_type, motion_type, dmv_y;
};

class field_dual_prime : public ::testing::TestWithParam<dual_case> {};

TEST_P(field_dual_prime, is_chosen_when_strictly_best) {
    const auto c = GetParam();
    setup_fields(16, c.M, 1);
    luma q = random_luma(51, 0, 200), past, cur = random_luma(52);
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x) {
            past.field(0, x, k) = q.at(x, k);
            past.field(1, x, k) = static_cast<uint8_t>(q.at(x, k) + 16);
            cur.field(parity(c.structure), x, k) = static_cast<uint8_t>(q.at(x, k) + 8);
        }
    macroblock_info mb = estimate({2, c.structure}, past, past, cur, cur);
    EXPECT_EQ(mb.mb_type, c.mb_type);
    if (c.mb_type == MB_FORWARD) {
        EXPECT_EQ(mb.motion_type, c.motion_type);
        EXPECT_EQ(mb.mv[0][0][0], 0);
        EXPECT_EQ(mb.mv[0][0][1], 0);
        EXPECT_EQ(mb.dmvector[0], 0);
        EXPECT_EQ(mb.dmvector[1], c.dmv_y);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, field_dual_prime,
                         ::testing::Values(dual_case{1, 1, MB_FORWARD, MC_DMV, 1},
                                           dual_case{2, 1, MB_FORWARD, MC_DMV, -1},
                                           // without dual prime vmc equals vzero: no motion compensation
                                           dual_case{1, 3, 0, MC_FIELD, 0}),
                         [](const ::testing::TestParamInfo<dual_case>& info) {
                             return field_name(info.param.structure) + "_m" + std::to_string(info.param.M);
                         });

TEST(field_b_picture, six_equal_distortions_choose_backward_16x8) {
    setup_fields(16, 3, 1);
    luma frame = random_luma(61);
    macroblock_info mb = estimate({3, 1}, frame, frame, frame, frame);
    EXPECT_EQ(mb.mb_type, MB_BACKWARD);
    EXPECT_EQ(mb.motion_type, MC_16X8);
    for (int r = 0; r < 2; ++r)
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(mb.mv[r][s][0], 0);
            EXPECT_EQ(mb.mv[r][s][1], 0);
            EXPECT_EQ(mb.motion_vertical_field_select[r][s], 0);
        }
}

TEST(field_b_picture, interpolated_16x8_when_both_means_are_exact) {
    setup_fields(16, 3, 1);
    luma cur = random_luma(71, 20, 200), past, future;
    for (std::size_t n = 0; n < cur.s.size(); ++n) {
        past.s[n] = static_cast<uint8_t>(cur.s[n] + 2);
        future.s[n] = static_cast<uint8_t>(cur.s[n] - 2);
    }
    macroblock_info mb = estimate({3, 2}, past, future, cur, cur);
    // dmcfieldi = dmc8i = 0: the 16x16 rule needs strictly less, so 16x8
    EXPECT_EQ(mb.mb_type, MB_FORWARD | MB_BACKWARD);
    EXPECT_EQ(mb.motion_type, MC_16X8);
    for (int r = 0; r < 2; ++r)
        for (int s = 0; s < 2; ++s) EXPECT_EQ(mb.motion_vertical_field_select[r][s], 1);
}

TEST(field_motion_estimation, reports_every_macroblock_of_an_i_field) {
    setup_encoder({32, 64, 0, 1, 3, 1});
    luma cur = random_luma(81);
    enc.picture.pict_type = 1;
    enc.picture.picture_structure = 2;
    macroblock_info records[4];
    ::testing::internal::CaptureStderr();
    motion_estimation(cur.data(), cur.data(), cur.data(), cur.data(), cur.data(), cur.data(), 3, 3, 3, 3, records,
                      1, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "..\n");
    std::string line = " field_ME=P_TYPE\n";
    EXPECT_EQ(statistics_text(), " motion_estimation=test1\n" + line + line + line + line);
    for (const auto& r : records) EXPECT_EQ(r.mb_type, MB_INTRA);
}

}  // namespace
