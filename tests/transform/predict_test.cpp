// Motion-compensated prediction on small pictures with hand-made references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "picture_setup.h"
#include "transform/predict.h"
#include "transform/predict_kernels.h"

namespace {

void setup_picture(int w, int h, int chroma_format, int field_pictures) {
    morvane_test::start_encoder({w, h, chroma_format, field_pictures ? 0 : 1, field_pictures});
    enc.picture.picture_structure = field_pictures ? 1 : 3;
    enc.picture.pict_type = 2;
}

int plane_width(int c) { return c == 0 ? enc.config.width : enc.config.chrom_width; }
int plane_height(int c) { return c == 0 ? enc.config.height : enc.config.chrom_height; }

void fill(frame_planes f, const std::function<int(int c, int row, int col)>& value) {
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < plane_height(c); ++r)
            for (int x = 0; x < plane_width(c); ++x)
                f[c][r * plane_width(c) + x] = static_cast<uint8_t>(value(c, r, x));
}

int at(frame_planes f, int c, int row, int col) { return f[c][row * plane_width(c) + col]; }

struct motion {
    int mv[2][2][2] = {};
    int select[2][2] = {};
    int dmv[2] = {};
};

void predict_at(int bx, int by, int mb_type, int motion_type, int second_field, const motion& m) {
    predict_macroblock(enc.buffers.old_ref_frame, enc.buffers.new_ref_frame, enc.buffers.pred_frame, enc.config.width,
                       bx, by, enc.picture.pict_type, enc.picture.picture_structure, mb_type, motion_type, second_field,
                       m.mv, m.select, m.dmv);
}

class predict : public testing::Test {
protected:
    void TearDown() override {
        init_predict_kernels(predict_k, cpu_flags());
        reset_encoder_state();
    }
};

TEST_F(predict, rectangle_interpolation_cases) {
    // Plane sample at row r, column c is 10 + c + 2r, so (0,0) (0,1) (1,0) (1,1) are 10 11 12 13.
    uint8_t plane[4 * 8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) plane[8 * r + c] = static_cast<uint8_t>(10 + c + 2 * r);
    struct rect_case {
        int x, y, dx, dy, average, expected;
    } cases[] = {
        {2, 1, 0, 0, 0, 14},   // full sample
        {2, 1, -3, 0, 0, 13},  // two left and one left: (12 + 13 + 1) >> 1
        {0, 0, 1, 0, 0, 11},   // (10 + 11 + 1) >> 1
        {0, 0, 0, 1, 0, 11},   // (10 + 12 + 1) >> 1
        {0, 1, 0, -1, 0, 11},  // row above and own row
        {0, 0, 1, 1, 0, 12},   // (10 + 11 + 12 + 13 + 2) >> 2
        {1, 1, 0, 0, 1, 12},   // averaged with the old 10: (10 + 13 + 1) >> 1
        {0, 0, 1, 1, 1, 11},   // (10 + 12 + 1) >> 1
    };
    for (const rect_case& c : cases) {
        uint8_t dst[4 * 8];
        std::memset(dst, 10, sizeof dst);
        predict_rectangle(plane, dst, 8, 1, 1, c.x, c.y, c.dx, c.dy, c.average);
        for (int i = 0; i < 32; ++i)
            EXPECT_EQ(dst[i], i == 8 * c.y + c.x ? c.expected : 10)
                << "case dx=" << c.dx << " dy=" << c.dy << " avg=" << c.average << " at " << i;
    }
}

// Chrominance vectors are halved toward zero where the chrominance is subsampled.
TEST_F(predict, vector_minus_three_on_each_component) {
    struct vector_case {
        int chroma_format, dx, dy, luma, chroma;
    } cases[] = {
        {1, -3, 0, 58, 30}, {2, -3, 0, 58, 30}, {3, -3, 0, 58, 58},
        {1, 0, -3, 58, 30}, {2, 0, -3, 58, 58}, {3, 0, -3, 58, 58},
    };
    for (const vector_case& c : cases) {
        setup_picture(32, 32, c.chroma_format, 0);
        bool horizontal = c.dx != 0;
        fill(enc.buffers.old_ref_frame, [&](int, int r, int x) { return 4 * (horizontal ? x : r); });
        motion m;
        m.mv[0][0][0] = c.dx;
        m.mv[0][0][1] = c.dy;
        predict_at(16, 16, MB_FORWARD, MC_FRAME, 0, m);
        int cx = c.chroma_format == 3 ? 16 : 8, cy = c.chroma_format == 1 ? 8 : 16;
        EXPECT_EQ(at(enc.buffers.pred_frame, 0, 16, 16), c.luma) << c.chroma_format;
        EXPECT_EQ(at(enc.buffers.pred_frame, 1, cy, cx), c.chroma) << c.chroma_format;
        EXPECT_EQ(at(enc.buffers.pred_frame, 2, cy, cx), c.chroma) << c.chroma_format;
    }
}

TEST_F(predict, bidirectional_macroblock_averages_forward_and_backward) {
    setup_picture(32, 32, 1, 0);
    enc.picture.pict_type = 3;
    fill(enc.buffers.old_ref_frame, [](int, int, int) { return 10; });
    fill(enc.buffers.new_ref_frame, [](int, int, int) { return 13; });
    struct bidir_case {
        int mb_type, motion_type, expected;
    } cases[] = {
        {MB_FORWARD | MB_BACKWARD, MC_FRAME, 12},
        {MB_FORWARD | MB_BACKWARD, MC_FIELD, 12},
        {MB_BACKWARD, MC_FRAME, 13},
        {MB_BACKWARD, MC_FIELD, 13},
        {MB_FORWARD, MC_FRAME, 10},
    };
    for (const bidir_case& c : cases) {
        fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
        predict_at(0, 16, c.mb_type, c.motion_type, 0, motion{});
        for (int comp = 0; comp < 3; ++comp) {
            int size = comp == 0 ? 16 : 8, y0 = comp == 0 ? 16 : 8;
            for (int r = 0; r < size; ++r)
                for (int x = 0; x < size; ++x)
                    ASSERT_EQ(at(enc.buffers.pred_frame, comp, y0 + r, x), c.expected)
                        << c.mb_type << " " << c.motion_type;
        }
    }
}

TEST_F(predict, frame_picture_field_vector_is_halved_by_arithmetic_shift) {
    setup_picture(32, 32, 1, 0);
    fill(enc.buffers.old_ref_frame, [](int, int r, int) { return 4 * r; });
    motion m;
    m.select[0][0] = 0;
    m.select[1][0] = 1;
    m.mv[0][0][1] = m.mv[1][0][1] = -3;  // field vector -2: one field row up, no half sample
    predict_at(0, 16, MB_FORWARD, MC_FIELD, 0, m);
    for (int j = 0; j < 16; ++j) EXPECT_EQ(at(enc.buffers.pred_frame, 0, 16 + j, 5), 56 + 4 * j) << j;
    // Chrominance field vector -1: half-way between the field row above and its own.
    for (int j = 0; j < 8; ++j) EXPECT_EQ(at(enc.buffers.pred_frame, 1, 8 + j, 3), 28 + 4 * j) << j;
}

TEST_F(predict, dual_prime_vectors_are_derived_per_structure) {
    struct dual_prime_case {
        int picture_structure, top_field_first, dmv_x, dmv_y, mvx, mvy;
        int dmv0[2], dmv1[2];
    } cases[] = {
        {3, 1, 0, 0, 0, 3, {0, 1}, {0, 6}},
        {3, 1, 1, -1, -3, -3, {-1, -4}, {-4, -5}},
        {3, 0, 0, 0, 3, 3, {5, 4}, {2, 3}},
        {1, 1, 0, 1, 5, 2, {3, 1}, {99, 99}},
        {2, 0, -1, 0, 4, -1, {1, 0}, {99, 99}},
    };
    for (const dual_prime_case& c : cases) {
        reset_encoder_state();
        enc.picture.picture_structure = c.picture_structure;
        enc.config.top_field_first = c.top_field_first;
        int DMV[2][2] = {{99, 99}, {99, 99}};
        const int dmvector[2] = {c.dmv_x, c.dmv_y};
        derive_dual_prime_vectors(DMV, dmvector, c.mvx, c.mvy);
        EXPECT_EQ(DMV[0][0], c.dmv0[0]);
        EXPECT_EQ(DMV[0][1], c.dmv0[1]);
        EXPECT_EQ(DMV[1][0], c.dmv1[0]);
        EXPECT_EQ(DMV[1][1], c.dmv1[1]);
    }
}

TEST_F(predict, frame_picture_dual_prime_averages_same_and_opposite_parity) {
    setup_picture(32, 64, 1, 0);
    enc.config.top_field_first = 1;
    fill(enc.buffers.old_ref_frame, [](int, int r, int) { return 4 * r; });
    motion m;
    m.mv[0][0][1] = 4;  // field vector 2; derived vertical vectors 0 (top) and 4 (bottom)
    predict_at(0, 16, MB_FORWARD, MC_DMV, 0, m);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(at(enc.buffers.pred_frame, 0, 16 + 2 * i, 0), 70 + 8 * i) << i;  // (72 + 68 + 1) >> 1
        EXPECT_EQ(at(enc.buffers.pred_frame, 0, 17 + 2 * i, 0), 78 + 8 * i) << i;  // (76 + 80 + 1) >> 1
    }
}

// Reference fields: previous frame top 50, bottom 60; current frame's first
// field top 200, bottom 210.
class field_references : public predict {
protected:
    void SetUp() override {
        setup_picture(32, 64, 1, 1);
        enc.config.top_field_first = 1;
        fill(enc.buffers.old_ref_frame, [](int, int r, int) { return r % 2 ? 60 : 50; });
        fill(enc.buffers.new_ref_frame, [](int, int r, int) { return r % 2 ? 210 : 200; });
        fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
    }
    // Luminance of the macroblock at (0, by) field rows, field row j.
    int luma(int j, int by = 16) const {
        int field = enc.picture.picture_structure == 2 ? 1 : 0;
        return at(enc.buffers.pred_frame, 0, 2 * (by + j) + field, 3);
    }
};

TEST_F(field_references, second_field_of_p_frame_reads_opposite_parity_from_own_frame) {
    struct select_case {
        int pict_type, picture_structure, second_field, select, expected;
    } cases[] = {
        {2, 2, 1, 0, 200},  // bottom second field, top reference field: first field of this frame
        {2, 2, 1, 1, 60},   // same parity: previous frame
        {2, 1, 1, 1, 210},  // top second field (bottom first)
        {2, 1, 1, 0, 50},
        {2, 2, 0, 0, 50},   // first field: always the previous frame
        {3, 2, 1, 0, 50},   // B fields predict forward from the past frame
    };
    for (const select_case& c : cases) {
        enc.picture.pict_type = c.pict_type;
        enc.picture.picture_structure = c.picture_structure;
        motion m;
        m.select[0][0] = c.select;
        predict_at(0, 16, MB_FORWARD, MC_FIELD, c.second_field, m);
        for (int j = 0; j < 16; ++j) ASSERT_EQ(luma(j), c.expected) << c.picture_structure << " " << c.select;
    }
}

TEST_F(field_references, sixteen_by_eight_halves_choose_their_own_reference) {
    enc.picture.picture_structure = 2;
    motion m;
    m.select[0][0] = 0;  // upper half: first field of this frame
    m.select[1][0] = 1;  // lower half: previous frame
    predict_at(0, 16, MB_FORWARD, MC_16X8, 1, m);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(luma(j), 200) << j;
    for (int j = 8; j < 16; ++j) EXPECT_EQ(luma(j), 60) << j;
}

TEST_F(field_references, field_dual_prime_takes_opposite_parity_from_first_field_in_second_field) {
    // The derived vector points half a field row up for a top field and down
    // for a bottom field, so the macroblock sits where that stays inside.
    struct dual_case {
        int picture_structure, second_field, by, expected;
    } cases[] = {
        {2, 1, 0, 130},   // (60 + 200 + 1) >> 1
        {1, 1, 16, 130},  // (50 + 210 + 1) >> 1
        {1, 0, 16, 55},   // (50 + 60 + 1) >> 1
        {2, 0, 0, 55},    // (60 + 50 + 1) >> 1
    };
    for (const dual_case& c : cases) {
        enc.picture.picture_structure = c.picture_structure;
        predict_at(0, c.by, MB_FORWARD, MC_DMV, c.second_field, motion{});
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(luma(j, c.by), c.expected) << c.picture_structure << " " << c.second_field;
    }
}

TEST_F(predict, p_macroblock_without_forward_flag_is_still_predicted) {
    // Frame picture: a frame prediction with the stored vector, whatever motion_type says.
    setup_picture(32, 32, 1, 0);
    fill(enc.buffers.old_ref_frame, [](int, int, int x) { return 3 * x; });
    fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
    motion m;
    m.mv[0][0][0] = 4;
    predict_at(0, 0, 0, MC_FIELD, 0, m);
    for (int j = 0; j < 16; ++j) EXPECT_EQ(at(enc.buffers.pred_frame, 0, j, 0), 6) << j;

    // Field picture: a 16x16 field prediction from the stored field select.
    setup_picture(32, 64, 1, 1);
    enc.picture.picture_structure = 1;
    fill(enc.buffers.old_ref_frame, [](int, int r, int) { return r % 2 ? 60 : 50; });
    fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
    m = motion{};
    m.select[0][0] = 1;
    m.select[1][0] = 0;
    predict_at(0, 0, 0, MC_16X8, 0, m);
    for (int j = 0; j < 16; ++j) EXPECT_EQ(at(enc.buffers.pred_frame, 0, 2 * j, 0), 60) << j;
}

TEST_F(predict, invalid_motion_type_is_reported_and_leaves_that_part_unwritten) {
    struct invalid_case {
        int field_pictures, pict_type, mb_type, motion_type, expected;
        const char* message;
    } cases[] = {
        // The forward part fails; the backward part (field prediction) still averages: (20 + 13 + 1) >> 1.
        {0, 3, MB_FORWARD | MB_BACKWARD, 0, 17, "invalid motion_type\n"},
        {0, 2, MB_FORWARD, 7, 20, "invalid motion_type\n"},
        {1, 3, MB_BACKWARD, MC_DMV, 20, "invalid motion_type\n"},
        {1, 3, MB_FORWARD | MB_BACKWARD, 0, 20, "invalid motion_type\ninvalid motion_type\n"},
    };
    for (const invalid_case& c : cases) {
        setup_picture(32, 64, 1, c.field_pictures);
        enc.picture.pict_type = c.pict_type;
        fill(enc.buffers.old_ref_frame, [](int, int, int) { return 10; });
        fill(enc.buffers.new_ref_frame, [](int, int, int) { return 13; });
        fill(enc.buffers.pred_frame, [](int, int, int) { return 20; });
        testing::internal::CaptureStderr();
        predict_at(16, 16, c.mb_type, c.motion_type, 0, motion{});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        int row = c.field_pictures ? 32 : 16;
        EXPECT_EQ(at(enc.buffers.pred_frame, 0, row, 16), c.expected);
        EXPECT_EQ(at(enc.buffers.pred_frame, 1, row / 2, 8), c.expected);
    }
}

TEST_F(predict, intra_macroblock_gets_flat_128_in_its_own_area) {
    struct intra_case {
        int chroma_format, field_pictures, picture_structure;
        int luma_row0, luma_step;             // first frame row and row step of the luminance area
        int chroma_col0, chroma_w, chroma_row0, chroma_h, chroma_step;
    } cases[] = {
        {1, 0, 3, 16, 1, 8, 8, 8, 8, 1},
        {2, 0, 3, 16, 1, 8, 8, 16, 16, 1},
        {3, 0, 3, 16, 1, 16, 16, 16, 16, 1},
        {1, 1, 1, 32, 2, 8, 8, 16, 8, 2},   // top field: even frame rows
        {1, 1, 2, 33, 2, 8, 8, 17, 8, 2},   // bottom field: odd frame rows
        {2, 1, 2, 33, 2, 8, 8, 33, 16, 2},
    };
    for (const intra_case& c : cases) {
        setup_picture(32, c.field_pictures ? 64 : 32, c.chroma_format, c.field_pictures);
        enc.picture.picture_structure = c.picture_structure;
        fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
        predict_at(16, 16, MB_INTRA, 0, 0, motion{});
        for (int comp = 0; comp < 3; ++comp) {
            int col0 = comp ? c.chroma_col0 : 16, w = comp ? c.chroma_w : 16;
            int row0 = comp ? c.chroma_row0 : c.luma_row0, h = comp ? c.chroma_h : 16;
            int step = comp ? c.chroma_step : c.luma_step;
            for (int r = 0; r < plane_height(comp); ++r)
                for (int x = 0; x < plane_width(comp); ++x) {
                    bool inside = x >= col0 && x < col0 + w && r >= row0 && r < row0 + step * h &&
                                  (r - row0) % step == 0;
                    ASSERT_EQ(at(enc.buffers.pred_frame, comp, r, x), inside ? 128 : 0)
                        << "format " << c.chroma_format << " structure " << c.picture_structure << " comp "
                        << comp << " row " << r << " col " << x;
                }
        }
    }
}

// Records every rectangle read instead of predicting, so that reads can be
// checked against the plane bounds without touching memory. The planes of
// the two references and the prediction lie far apart in one arena, so the
// plane a read comes from is the one whose start is nearest.
constexpr std::ptrdiff_t plane_gap = 1 << 16;

struct plane_arena {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(11 * plane_gap);
    uint8_t* plane(int k) { return bytes.data() + (k + 1) * plane_gap; }  // k: frame * 3 + component
    frame_planes frame(int f) { return {plane(3 * f), plane(3 * f + 1), plane(3 * f + 2)}; }
};

struct read_record {
    const uint8_t* src;
    const uint8_t* dst;
    int stride, w, h, hx, hy;
};
std::vector<read_record> recorded_reads;

template <int index>
void record_rectangle(const uint8_t* s, uint8_t* d, int stride, int w, int h) {
    recorded_reads.push_back({s, d, stride, w, h, index & 1, (index >> 1) & 1});
}

// Plane and bounds of one recorded read: true when every sample lies inside.
bool read_inside(plane_arena& a, const read_record& r, bool* is_luma) {
    const std::ptrdiff_t k = (r.src - a.plane(0) + plane_gap / 2) / plane_gap;
    if (r.src < a.plane(0) - plane_gap / 2 || k >= 6) {
        ADD_FAILURE() << "read from outside every reference frame";
        return false;
    }
    const int c = static_cast<int>(k % 3);
    *is_luma = c == 0;
    const int pw = plane_width(c), ph = plane_height(c);
    // The prediction lies inside its plane, so its column is the rectangle's;
    // the read starts a few samples to either side of it.
    const int x = static_cast<int>((r.dst - a.plane(6 + c)) % pw);
    const std::ptrdiff_t offset = r.src - a.plane(static_cast<int>(k));
    int xint = static_cast<int>(((offset - x) % pw + pw) % pw);
    if (xint >= pw / 2) xint -= pw;
    const int left = x + xint, right = left + r.w - 1 + r.hx;
    const int top = static_cast<int>((offset - left) / pw), step = r.stride / pw;
    const int bottom = top + (r.h - 1 + r.hy) * step;
    return left >= 0 && right < pw && top >= 0 && bottom < ph;
}

// Whenever the luminance reads of a macroblock stay inside the picture, so do
// its chrominance reads; dual-prime derived vectors included.
TEST_F(predict, chrominance_reads_stay_inside_when_luminance_reads_do) {
#if !defined(NDEBUG) && !defined(__OPTIMIZE__)
    GTEST_SKIP() << "unoptimised builds assert on every read instead; this run tries vectors that go outside";
#endif
    struct structure_case {
        int chroma_format, field_pictures, picture_structure, pict_type, second_field;
    } structures[] = {
        {1, 0, 3, 2, 0}, {2, 0, 3, 3, 0}, {3, 0, 3, 2, 0}, {1, 1, 1, 2, 0},
        {1, 1, 2, 2, 1}, {2, 1, 2, 3, 0}, {3, 1, 1, 2, 1},
    };
    int checked = 0, dual_prime_checked = 0;
    for (const structure_case& s : structures) {
        setup_picture(32, 64, s.chroma_format, s.field_pictures);
        enc.picture.picture_structure = s.picture_structure;
        enc.picture.pict_type = s.pict_type;
        rectangle_fn* const recorders[8] = {record_rectangle<0>, record_rectangle<1>, record_rectangle<2>,
                                            record_rectangle<3>, record_rectangle<4>, record_rectangle<5>,
                                            record_rectangle<6>, record_rectangle<7>};
        std::copy(recorders, recorders + 8, predict_k.rectangle);
        plane_arena arena;
        for (int top_field_first = 0; top_field_first < 2; ++top_field_first)
            for (int motion_type = 1; motion_type <= 3; ++motion_type)
                for (int by : {0, enc.config.height2 - 16})
                    for (int bx : {0, enc.config.width - 16})
                        for (int v = -5; v <= 5; ++v)
                            for (int d = -1; d <= 1; ++d) {
                                enc.config.top_field_first = top_field_first;
                                motion m;
                                m.mv[0][0][0] = m.mv[1][0][0] = v;
                                m.mv[0][0][1] = m.mv[1][0][1] = -v;
                                m.mv[0][1][0] = m.mv[1][1][0] = -v;
                                m.mv[0][1][1] = m.mv[1][1][1] = v;
                                m.select[0][0] = m.select[1][1] = 1;
                                m.dmv[0] = m.dmv[1] = d;
                                int mb_type = motion_type == MC_DMV || s.pict_type == 2
                                                  ? MB_FORWARD
                                                  : MB_FORWARD | MB_BACKWARD;
                                recorded_reads.clear();
                                predict_macroblock(arena.frame(0), arena.frame(1), arena.frame(2), enc.config.width, bx,
                                                   by, enc.picture.pict_type, enc.picture.picture_structure, mb_type,
                                                   motion_type, s.second_field, m.mv, m.select, m.dmv);
                                bool luma_inside = true;
                                std::vector<bool> chroma_inside;
                                for (const read_record& r : recorded_reads) {
                                    bool is_luma = false;
                                    bool inside = read_inside(arena, r, &is_luma);
                                    if (is_luma)
                                        luma_inside = luma_inside && inside;
                                    else
                                        chroma_inside.push_back(inside);
                                }
                                if (!luma_inside) continue;
                                ++checked;
                                if (motion_type == MC_DMV) ++dual_prime_checked;
                                for (bool inside : chroma_inside)
                                    ASSERT_TRUE(inside) << "format " << s.chroma_format << " structure "
                                                        << s.picture_structure << " motion_type " << motion_type
                                                        << " at " << bx << "," << by << " v " << v << " d " << d;
                            }
    }
    EXPECT_GT(checked, 1000);
    EXPECT_GT(dual_prime_checked, 200);
}

TEST_F(predict, picture_walks_macroblocks_in_raster_order) {
    setup_picture(32, 32, 1, 0);
    fill(enc.buffers.old_ref_frame, [](int, int, int) { return 40; });
    fill(enc.buffers.pred_frame, [](int, int, int) { return 0; });
    enc.picture.pict_type = 2;
    for (int k = 0; k < 4; ++k) {
        enc.buffers.mb_info[k] = macroblock_info{};
        enc.buffers.mb_info[k].mb_type = k == 2 ? MB_INTRA : MB_FORWARD;
        enc.buffers.mb_info[k].motion_type = MC_FRAME;
    }
    predict_picture(enc.buffers.old_ref_frame, enc.buffers.new_ref_frame, enc.buffers.pred_frame, 0,
                    enc.buffers.mb_info);
    for (int r = 0; r < 32; ++r)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(at(enc.buffers.pred_frame, 0, r, x), r >= 16 && x < 16 ? 128 : 40);
}

}  // namespace
