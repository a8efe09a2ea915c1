// Every vector the estimators produce keeps its prediction, with the extra
// interpolation column and row and the derived dual-prime vectors, inside the
// reference planes, for luminance and 4:2:0 chrominance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "motion/motion_estimation.h"
#include "motion_fixture.h"

using namespace motion_test;

namespace {

int half(int v) { return (v + (v > 0 ? 1 : 0)) >> 1; }

// Checks the samples a w x h rectangle at (x, y) with half-sample vector
// (dx, dy) reads in an area of aw x ah, for luminance and chrominance.
void check_rectangle(int w, int h, int x, int y, int dx, int dy, int aw, int ah, const std::string& what) {
    for (int chroma = 0; chroma < 2; ++chroma) {
        int cw = w, ch = h, cx = x, cy = y, vx = dx, vy = dy, caw = aw, cah = ah;
        if (chroma) cw >>= 1, ch >>= 1, cx >>= 1, cy >>= 1, vx /= 2, vy /= 2, caw >>= 1, cah >>= 1;
        int x0 = cx + (vx >> 1), y0 = cy + (vy >> 1);
        int x1 = x0 + cw - 1 + (vx & 1), y1 = y0 + ch - 1 + (vy & 1);
        EXPECT_TRUE(x0 >= 0 && y0 >= 0 && x1 < caw && y1 < cah)
            << what << (chroma ? " chroma" : " luma") << " reads x " << x0 << ".." << x1 << " y " << y0 << ".."
            << y1 << " of " << caw << "x" << cah;
    }
}

void check_picture(const std::vector<macroblock_info>& records, const std::string& what) {
    const int W = enc.config.width, H = enc.config.height, FH = H / 2;
    const bool frame = enc.picture.picture_structure == 3;
    int k = 0;
    for (int by = 0; by < enc.config.height2; by += 16)
        for (int bx = 0; bx < W; bx += 16, ++k) {
            const macroblock_info& mb = records[k];
            if (mb.mb_type & MB_INTRA) continue;
            std::string at = what + " mb " + std::to_string(k) + " type " + std::to_string(mb.mb_type) +
                             " motion " + std::to_string(mb.motion_type);
            for (int s = 0; s < 2; ++s) {
                bool runs =
                    s == 0 ? (mb.mb_type & MB_FORWARD) || enc.picture.pict_type == 2 : (mb.mb_type & MB_BACKWARD);
                if (!runs) continue;
                int mt = (s == 0 && !(mb.mb_type & MB_FORWARD)) ? (frame ? MC_FRAME : MC_FIELD) : mb.motion_type;
                const int(*mv)[2][2] = mb.mv;
                if (frame) {
                    if (mt == MC_FRAME) {
                        check_rectangle(16, 16, bx, by, mv[0][s][0], mv[0][s][1], W, H, at);
                    } else if (mt == MC_FIELD) {
                        for (int r = 0; r < 2; ++r)
                            check_rectangle(16, 8, bx, by >> 1, mv[r][s][0], mv[r][s][1] >> 1, W, FH, at);
                    } else {
                        ASSERT_EQ(mt, MC_DMV) << at;
                        int mx = mv[0][s][0], my = mv[0][s][1] >> 1;
                        int d0 = mb.dmvector[0], d1 = mb.dmvector[1];
                        int early = enc.config.top_field_first ? 1 : 3, late = enc.config.top_field_first ? 3 : 1;
                        check_rectangle(16, 8, bx, by >> 1, mx, my, W, FH, at);
                        check_rectangle(16, 8, bx, by >> 1, half(early * mx) + d0, half(early * my) + d1 - 1, W, FH,
                                        at + " top from bottom");
                        check_rectangle(16, 8, bx, by >> 1, half(late * mx) + d0, half(late * my) + d1 + 1, W, FH,
                                        at + " bottom from top");
                    }
                } else {
                    if (mt == MC_FIELD) {
                        check_rectangle(16, 16, bx, by, mv[0][s][0], mv[0][s][1], W, FH, at);
                    } else if (mt == MC_16X8) {
                        check_rectangle(16, 8, bx, by, mv[0][s][0], mv[0][s][1], W, FH, at);
                        check_rectangle(16, 8, bx, by + 8, mv[1][s][0], mv[1][s][1], W, FH, at);
                    } else {
                        ASSERT_EQ(mt, MC_DMV) << at;
                        int mx = mv[0][s][0], my = mv[0][s][1];
                        int shift = enc.picture.picture_structure == 2 ? 1 : -1;
                        check_rectangle(16, 16, bx, by, mx, my, W, FH, at);
                        check_rectangle(16, 16, bx, by, half(mx) + mb.dmvector[0], half(my) + mb.dmvector[1] + shift,
                                        W, FH, at + " opposite");
                    }
                }
            }
        }
}

struct bounds_case {
    int width, height, M, tff;
    int hw, vw;
};

class prediction_bounds : public ::testing::TestWithParam<bounds_case> {};

// Pictures: random; a copy moved towards each edge; the dual-prime pattern of
// fields Q and Q + 16 moved down; a flat picture with a bright corner.
TEST_P(prediction_bounds, stay_inside_the_reference_for_every_picture_kind) {
    const auto c = GetParam();
    for (int field_pictures = 0; field_pictures < 2; ++field_pictures) {
        setup_encoder({c.width, c.height, 0, field_pictures, c.M, c.tff});
        luma past = random_luma(91), future = random_luma(92);
        std::vector<luma> currents;
        currents.push_back(random_luma(93));
        for (auto [dx, dy] : {std::pair{9, 7}, {-9, -7}, {9, -7}, {-9, 7}, {0, 13}, {0, -13}})
            currents.push_back(shifted(past, dx, dy, 94));
        luma dual;
        for (int y = 0; y < enc.config.height; ++y)
            for (int x = 0; x < enc.config.width; ++x)
                dual.at(x, y) = static_cast<uint8_t>((past.at(x, y >> 1) >> 1) + (y & 1 ? 16 : 0));
        // Exact dual-prime predictions from it: both fields one field row
        // down, and both fields in place, each between the two fields.
        luma dual_moved = random_luma(99), dual_still;
        for (int y = 0; y < enc.config.height; ++y)
            for (int x = 0; x < enc.config.width; ++x) {
                if (y >= 2) dual_moved.at(x, y) = static_cast<uint8_t>((past.at(x, (y >> 1) - 1) >> 1) + 8);
                dual_still.at(x, y) = static_cast<uint8_t>((past.at(x, y >> 1) >> 1) + 8);
            }
        currents.push_back(dual_moved);
        currents.push_back(dual_still);
        currents.push_back(shifted(dual, 0, -6, 95));
        currents.push_back(shifted(dual, 3, 6, 96));
        // Smooth scene with independent noise: averaging two predictions wins
        // often, dual prime included, also next to the edges.
        auto noisy_scene = [&](int dx, int dy, unsigned seed) {
            luma p = random_luma(seed, 0, 24);
            for (int y = 0; y < enc.config.height; ++y)
                for (int x = 0; x < enc.config.width; ++x) {
                    int sx = x + dx, sy = y + dy;
                    int v = 90 + ((sx * 37) % 50 + 50) % 50 + (sy + 16) / 2;
                    p.at(x, y) = static_cast<uint8_t>(p.at(x, y) + v);
                }
            return p;
        };
        luma scene = noisy_scene(0, 0, 97);
        for (auto [dx, dy] : {std::pair{0, 0}, {0, 3}, {0, -3}, {0, 9}, {0, -9}, {5, 0}, {-5, 2}})
            currents.push_back(noisy_scene(dx, dy, 98 + dx + 7 * dy));
        luma corner;
        corner.at(enc.config.width - 1, enc.config.height - 1) = 255;
        currents.push_back(corner);
        std::vector<luma> pasts = {past, dual, corner, scene};

        std::vector<macroblock_info> records(static_cast<std::size_t>(enc.config.mb_width) * enc.config.mb_height2);
        for (std::size_t n = 0; n < currents.size(); ++n)
            for (luma& ref : pasts)
                for (int pict_type = 2; pict_type <= 3; ++pict_type)
                    for (int fpfd = 0; fpfd < (field_pictures ? 1 : 2); ++fpfd)
                        for (int pass = 0; pass < (field_pictures ? 3 : 1); ++pass) {
                            // frame picture; or first field, second field, second field of an I frame
                            enc.picture.pict_type = pict_type;
                            enc.picture.frame_pred_frame_dct = fpfd;
                            int second = pass >= 1, i_first = pass == 2;
                            if (i_first && pict_type != 2) continue;
                            bool first_is_top = c.tff == 1;
                            enc.picture.picture_structure = !field_pictures ? 3 : (first_is_top != second ? 1 : 2);
                            luma& cur = currents[n];
                            luma rec = cur;
                            ::testing::internal::CaptureStderr();  // progress dots
                            motion_estimation(ref.data(), future.data(), ref.data(), future.data(), cur.data(),
                                              rec.data(), c.hw, c.vw, c.hw, c.vw, records.data(), second, i_first);
                            ::testing::internal::GetCapturedStderr();
                            check_picture(records, "fields " + std::to_string(field_pictures) + " picture " +
                                                       std::to_string(n) + " type " + std::to_string(pict_type) +
                                                       " fpfd " + std::to_string(fpfd) + " pass " +
                                                       std::to_string(pass));
                            std::fflush(enc.files.statistics_file);
                            std::rewind(enc.files.statistics_file);
                        }
    }
}

INSTANTIATE_TEST_SUITE_P(cases, prediction_bounds,
                         ::testing::Values(bounds_case{16, 32, 1, 1, 15, 15}, bounds_case{48, 64, 1, 1, 40, 40},
                                           bounds_case{48, 64, 1, 0, 40, 40}, bounds_case{32, 64, 1, 1, 7, 32},
                                           bounds_case{64, 32, 3, 0, 11, 11}, bounds_case{32, 96, 1, 0, 3, 63}),
                         [](const ::testing::TestParamInfo<bounds_case>& info) {
                             const auto& c = info.param;
                             return std::to_string(c.width) + "x" + std::to_string(c.height) + "_m" +
                                    std::to_string(c.M) + "_tff" + std::to_string(c.tff) + "_window" +
                                    std::to_string(c.hw) + "x" + std::to_string(c.vw);
                         });

}  // namespace
