// Frame-picture estimation: found vectors, frame/field/dual-prime choice, thresholds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "motion/motion_estimation.h"
#include "motion_fixture.h"
#include "test_support.h"

using namespace motion_test;

namespace {

// One P macroblock of a frame picture; past source and reconstruction equal.
macroblock_info estimate_p(luma& past, luma& cur, int i, int j, int hw, int vw, int fpfd) {
    enc.picture.pict_type = 2;
    enc.picture.picture_structure = 3;
    enc.picture.frame_pred_frame_dct = fpfd;
    macroblock_info mb{};
    frame_mb_estimate(past.data(), nullptr, past.data(), nullptr, cur.data(), i, j, hw, vw, 0, 0, &mb);
    return mb;
}

struct translation_case {
    int dx, dy;   // cur(x, y) = past(x + dx, y + dy)
    int half_x;   // 1: cur is the rounded mean of past at dx and dx + 1
    int M, fpfd;
};

class frame_translation : public ::testing::TestWithParam<translation_case> {};

TEST_P(frame_translation, is_found_as_a_frame_vector) {
    const auto c = GetParam();
    setup_encoder({64, 64, 1, 0, c.M, 1});
    luma past = random_luma(11);
    luma cur = shifted(past, c.dx, c.dy, 12);
    if (c.half_x) {
        luma next = shifted(past, c.dx + 1, c.dy, 12);
        for (std::size_t n = 0; n < cur.s.size(); ++n) cur.s[n] = static_cast<uint8_t>((cur.s[n] + next.s[n] + 1) >> 1);
    }
    macroblock_info mb = estimate_p(past, cur, 16, 16, 7, 7, c.fpfd);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_FRAME);
    EXPECT_EQ(mb.mv[0][0][0], 2 * c.dx + c.half_x);
    EXPECT_EQ(mb.mv[0][0][1], 2 * c.dy);
}

INSTANTIATE_TEST_SUITE_P(cases, frame_translation,
                         ::testing::Values(translation_case{3, 2, 0, 3, 0}, translation_case{-5, -1, 0, 3, 0},
                                           translation_case{0, 7, 0, 1, 0}, translation_case{-7, 3, 0, 1, 1},
                                           translation_case{2, -4, 1, 3, 0}, translation_case{-3, 0, 1, 1, 1}),
                         [](const ::testing::TestParamInfo<translation_case>& info) {
                             const auto& c = info.param;
                             return "dx" + morvane_test::signed_name(c.dx) + "_dy" + morvane_test::signed_name(c.dy) +
                                    (c.half_x ? "_half" : "") + "_m" + std::to_string(c.M) + (c.fpfd ? "_fpfd" : "");
                         });

TEST(frame_field_prediction, crossed_fields_are_predicted_from_the_opposite_parity) {
    setup_encoder({64, 64, 1, 0, 3, 1});
    luma past = random_luma(21);
    luma cur = random_luma(22);
    // current top field row k = past bottom field row k + 2, moved 3 right; bottom from top likewise
    for (int k = 0; k < 32; ++k)
        for (int x = 0; x < 64; ++x) {
            int sx = x + 3, sk = k + 2;
            if (sx < 64 && sk < 32) {
                cur.field(0, x, k) = past.field(1, sx, sk);
                cur.field(1, x, k) = past.field(0, sx, sk);
            }
        }
    macroblock_info mb = estimate_p(past, cur, 16, 16, 6, 8, 0);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][0], 6);
    EXPECT_EQ(mb.mv[0][0][1], 8);  // two field rows, held in frame units
    EXPECT_EQ(mb.mv[1][0][0], 6);
    EXPECT_EQ(mb.mv[1][0][1], 8);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 1);
    EXPECT_EQ(mb.motion_vertical_field_select[1][0], 0);
}

TEST(frame_field_prediction, three_half_rows_below_is_stored_as_six) {
    setup_encoder({64, 64, 1, 0, 3, 1});
    luma past = random_luma(31);
    luma cur = random_luma(32);
    for (int p = 0; p < 2; ++p)
        for (int k = 0; k + 2 < 32; ++k)
            for (int x = 0; x < 64; ++x)
                cur.field(p, x, k) = static_cast<uint8_t>((past.field(p, x, k + 1) + past.field(p, x, k + 2) + 1) >> 1);
    macroblock_info mb = estimate_p(past, cur, 16, 16, 4, 8, 0);
    EXPECT_EQ(mb.motion_type, MC_FIELD);
    EXPECT_EQ(mb.mv[0][0][1], 6);
    EXPECT_EQ(mb.mv[1][0][1], 6);
    EXPECT_EQ(mb.motion_vertical_field_select[0][0], 0);
    EXPECT_EQ(mb.motion_vertical_field_select[1][0], 1);
}

// Reference fields T = Q and B = Q + D; both current fields are Q one field
// row up, + D / 2. The mean of the same-parity field one row up and the
// opposite field at the derived position (dmvector 0) is exact; frame and
// field predictions miss by D / 2 on every sample (2048 each for D = 16).
struct dual_case {
    int D, M;
    int motion_type;
};

class frame_dual_prime : public ::testing::TestWithParam<dual_case> {};

TEST_P(frame_dual_prime, wins_only_when_strictly_below_frame_and_field) {
    const auto c = GetParam();
    setup_encoder({48, 64, 1, 0, c.M, 1});
    luma q = random_luma(41, 0, 200);
    luma past, cur;
    for (int k = 0; k < 32; ++k)
        for (int x = 0; x < 48; ++x) {
            past.field(0, x, k) = q.at(x, k);
            past.field(1, x, k) = static_cast<uint8_t>(q.at(x, k) + c.D);
            uint8_t v = static_cast<uint8_t>((k > 0 ? q.at(x, k - 1) : 0) + c.D / 2);
            cur.field(0, x, k) = cur.field(1, x, k) = v;
        }
    macroblock_info mb = estimate_p(past, cur, 16, 16, 3, 4, 0);
    EXPECT_EQ(mb.mb_type, MB_FORWARD);
    EXPECT_EQ(mb.motion_type, c.motion_type);
    EXPECT_EQ(mb.mv[0][0][0], 0);
    EXPECT_EQ(mb.mv[0][0][1], -4);
    if (c.motion_type == MC_DMV) {
        EXPECT_EQ(mb.dmvector[0], 0);
        EXPECT_EQ(mb.dmvector[1], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, frame_dual_prime,
                         ::testing::Values(dual_case{16, 1, MC_DMV},
                                           dual_case{0, 1, MC_FRAME},    // all three distortions 0
                                           dual_case{16, 3, MC_FRAME}),  // M > 1: never tried
                         [](const ::testing::TestParamInfo<dual_case>& info) {
                             return "d" + std::to_string(info.param.D) + "_m" + std::to_string(info.param.M);
                         });

TEST(frame_picture_search, equal_reference_fields_go_to_the_same_parity) {
    // fields Q and Q + 16 against Q + 8 one field row down: every field match ties
    setup_encoder({48, 64, 1, 0, 3, 1});
    luma q = random_luma(45, 0, 200), past, cur;
    for (int k = 0; k < 32; ++k)
        for (int x = 0; x < 48; ++x) {
            past.field(0, x, k) = q.at(x, k);
            past.field(1, x, k) = static_cast<uint8_t>(q.at(x, k) + 16);
            cur.field(0, x, k) = cur.field(1, x, k) = static_cast<uint8_t>((k > 0 ? q.at(x, k - 1) : 0) + 8);
        }
    const uint8_t* block = cur.data() + 16 * 48 + 16;
    frame_search_result r = frame_picture_search(past.data(), past.data(), block, 16, 16, 3, 4);
    EXPECT_EQ(r.dmc, 2048);
    EXPECT_EQ(r.dmcfield, 2048);
    EXPECT_EQ(r.tsel, 0);
    EXPECT_EQ(r.bsel, 1);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(r.imins[k], 32);
        EXPECT_EQ(r.jmins[k], 14);  // one field row up from field row 8
    }
}

TEST(frame_dual_prime, no_candidate_inside_the_picture_reports_not_available) {
    // 64 lines, top macroblock row: the opposite-parity candidate lands above
    // the field, and every vector derived from the same-parity matches 33 half
    // rows down leaves it at the bottom.
    setup_encoder({32, 64, 0, 0, 1, 1});
    luma rec = random_luma(51), cur = random_luma(52);
    const int imins[4] = {0, 0, 0, 0};
    const int jmins[4] = {33, 0, 0, 33};
    dual_prime_result r = dual_prime_frame_search(rec.data(), cur.data(), 0, 0, imins, jmins);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.dmc_dp, 65536);
    EXPECT_EQ(r.vmc_dp, 65536);
}

struct threshold_case {
    const char* name;
    int width;                     // 16: a single search position, so vzero = vmc
    bool two_level;                // 16 x 16 picture: cur 100 / 106 (mb_var 2304) instead of flat 100
    std::vector<int> e_best;       // per-sample errors at the found position (x 16 in a 32-wide picture)
    std::vector<int> e_zero;       // per-sample errors at the zero vector (32-wide picture)
    int mb_type;
};

std::vector<int> errors(std::initializer_list<std::pair<int, int>> counts) {
    std::vector<int> e;
    for (auto [n, v] : counts) e.insert(e.end(), n, v);
    return e;
}

class p_thresholds : public ::testing::TestWithParam<threshold_case> {};

TEST_P(p_thresholds, decide_intra_motion_compensation_or_none) {
    const auto& c = GetParam();
    setup_encoder({c.width, 16, 1, 0, 3, 1});
    luma past, cur;
    if (c.width == 16) {
        for (int n = 0; n < 256; ++n) {
            cur.s[n] = static_cast<uint8_t>(c.two_level && n >= 128 ? 106 : 100);
            past.s[n] = static_cast<uint8_t>(cur.s[n] + (n < static_cast<int>(c.e_best.size()) ? c.e_best[n] : 0));
        }
    } else {
        cur = random_luma(61, 20, 200);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                int n = 16 * y + x;
                past.at(x, y) = static_cast<uint8_t>(cur.at(x, y) + (n < (int)c.e_zero.size() ? c.e_zero[n] : 0));
                past.at(x + 16, y) =
                    static_cast<uint8_t>(cur.at(x, y) + (n < (int)c.e_best.size() ? c.e_best[n] : 0));
            }
    }
    macroblock_info mb{};
    mb.mv[0][0][0] = 99;
    mb = [&] {
        enc.picture.pict_type = 2;
        enc.picture.picture_structure = 3;
        enc.picture.frame_pred_frame_dct = 1;
        macroblock_info m = mb;
        frame_mb_estimate(past.data(), nullptr, past.data(), nullptr, cur.data(), 0, 0, 16, 0, 0, 0, &m);
        return m;
    }();
    EXPECT_EQ(mb.mb_type, c.mb_type) << c.name;
    EXPECT_EQ(mb.motion_type, MC_FRAME) << c.name;
    const int expected_mv = c.mb_type == MB_INTRA ? 99 : c.mb_type == 0 ? 0 : 32;  // intra keeps the old one
    EXPECT_EQ(mb.mv[0][0][0], expected_mv) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    cases, p_thresholds,
    ::testing::Values(
        threshold_case{"vmc 2303, flat", 16, false, errors({{254, 3}, {1, 4}, {1, 1}}), {}, 0},
        threshold_case{"vmc 2304, flat", 16, false, errors({{256, 3}}), {}, MB_INTRA},
        threshold_case{"vmc equal to mb_var 2304", 16, true, errors({{256, 3}}), {}, 0},
        threshold_case{"vmc 2305 above mb_var 2304", 16, true, errors({{252, 3}, {1, 6}, {1, 1}}), {}, MB_INTRA},
        // vmc 4096, vzero 5120: 4 vzero equal to 5 vmc
        threshold_case{"4 vzero equal to 5 vmc", 32, false, errors({{16, 16}}), errors({{128, 5}, {120, 4}}), 0},
        threshold_case{"4 vzero above 5 vmc", 32, false, errors({{16, 16}}),
                       errors({{128, 5}, {120, 4}, {1, 1}}), MB_FORWARD},
        threshold_case{"vzero 2303", 32, false, {}, errors({{254, 3}, {1, 4}, {1, 1}}), 0},
        threshold_case{"vzero 2304", 32, false, {}, errors({{256, 3}}), MB_FORWARD}),
    morvane_test::name_field());

struct b_case {
    int fpfd, e_fwd, e_bwd;  // past = cur + e_fwd, future = cur + e_bwd
    int mb_type, motion_type;
};

class b_frame_choice : public ::testing::TestWithParam<b_case> {};

// 16 x 16 picture: one position per search, so the distortions follow from the offsets.
TEST_P(b_frame_choice, takes_the_first_rule_that_holds) {
    const auto c = GetParam();
    setup_encoder({16, 16, 1, 0, 3, 1});
    luma cur = random_luma(71, 20, 200), past, future;
    for (int n = 0; n < 256; ++n) {
        past.s[n] = static_cast<uint8_t>(cur.s[n] + c.e_fwd);
        future.s[n] = static_cast<uint8_t>(cur.s[n] + c.e_bwd);
    }
    enc.picture.pict_type = 3;
    enc.picture.picture_structure = 3;
    enc.picture.frame_pred_frame_dct = c.fpfd;
    macroblock_info mb{};
    frame_mb_estimate(past.data(), future.data(), past.data(), future.data(), cur.data(), 0, 0, 3, 3, 3, 3, &mb);
    EXPECT_EQ(mb.mb_type, c.mb_type);
    EXPECT_EQ(mb.motion_type, c.motion_type);
    EXPECT_EQ(mb.mv[0][0][0], 0);
    EXPECT_EQ(mb.mv[0][1][1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    cases, b_frame_choice,
    ::testing::Values(b_case{1, 0, 0, MB_FORWARD, MC_FRAME},                     // all equal: forward
                      b_case{1, -3, -2, MB_BACKWARD, MC_FRAME},                  // backward = interpolated
                      b_case{1, 2, -2, MB_FORWARD | MB_BACKWARD, MC_FRAME},      // interpolated exact
                      b_case{0, 0, 0, MB_BACKWARD, MC_FIELD},                    // six equal: rule 6
                      b_case{0, 2, -2, MB_FORWARD | MB_BACKWARD, MC_FIELD},      // dmci = dmcfieldi: rule 2
                      b_case{0, 1, 3, MB_FORWARD, MC_FIELD},                     // dmcf = dmcfieldf: rule 4
                      b_case{0, 3, 1, MB_BACKWARD, MC_FIELD}),                   // dmcr = dmcfieldr: rule 6
    [](const ::testing::TestParamInfo<b_case>& info) {
        const auto& c = info.param;
        return "fpfd" + std::to_string(c.fpfd) + "_fwd" + morvane_test::signed_name(c.e_fwd) + "_bwd" +
               morvane_test::signed_name(c.e_bwd);
    });

TEST(motion_estimation, i_picture_marks_every_macroblock_intra_and_reports_progress) {
    setup_encoder({32, 48, 1, 0, 3, 1});
    luma cur = random_luma(81);
    enc.picture.pict_type = 1;
    enc.picture.picture_structure = 3;
    std::vector<macroblock_info> records(6);
    for (auto& r : records) r.motion_type = 7;
    ::testing::internal::CaptureStderr();
    motion_estimation(cur.data(), cur.data(), cur.data(), cur.data(), cur.data(), cur.data(), 3, 3, 3, 3,
                      records.data(), 0, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "...\n");
    EXPECT_EQ(statistics_text(), " motion_estimation=test1\n");
    for (const auto& r : records) {
        EXPECT_EQ(r.mb_type, MB_INTRA);
        EXPECT_EQ(r.motion_type, 7);
    }
}

}  // namespace
