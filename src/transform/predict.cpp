#include "transform/predict.h"

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "transform/predict_kernels.h"
#include "transform/predict_sample.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

// One loop per interpolation case and average flag, so the sample loop
// carries no case tests.
template <int HX, int HY, int AVG>
void rectangle_loop(const uint8_t* s, uint8_t* d, int stride, int w, int h) {
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) predict_sample<HX, HY, AVG>(s, d, i, stride);
        s += stride;
        d += stride;
    }
}

constexpr predict_kernels reference_kernels = {{
    rectangle_loop<0, 0, 0>, rectangle_loop<1, 0, 0>, rectangle_loop<0, 1, 0>, rectangle_loop<1, 1, 0>,
    rectangle_loop<0, 0, 1>, rectangle_loop<1, 0, 1>, rectangle_loop<0, 1, 1>, rectangle_loop<1, 1, 1>,
}};

thread_local std::string* deferred_messages = nullptr;

void invalid_motion_type() {
    static const char message[] = "invalid motion_type\n";
    if (deferred_messages)
        deferred_messages->append(message);
    else
        std::fputs(message, stderr);
}

#if !defined(NDEBUG) && !defined(__OPTIMIZE__)
#define MORVANE_CHECK_PREDICTION_READS 1
#endif

#ifdef MORVANE_CHECK_PREDICTION_READS
// Debug builds: every sample a rectangle reads lies inside the plane.
void check_reads_inside(int plane_width, int plane_height, int field, int stride, int w, int h, int x, int y, int dx,
                        int dy) {
    // Position in plane rows and columns of the first and last samples read.
    int step = stride / plane_width;  // 1 for frame lines, 2 for field lines
    int left = x + (dx >> 1), right = left + w - 1 + (dx & 1);
    int top = y + (dy >> 1), bottom = top + h - 1 + (dy & 1);
    assert(left >= 0 && right < plane_width);
    assert(top * step + field >= 0 && bottom * step + field < plane_height);
    (void)right;
    (void)bottom;
}
#endif

}  // namespace

constinit predict_kernels predict_k = reference_kernels;

void init_predict_kernels(predict_kernels& t, [[maybe_unused]] unsigned flags) {
    t = reference_kernels;
#if defined(__x86_64__)
    if (flags & cpu_sse2) init_predict_kernels_sse2(t);
#endif
}

// Splits the vector into its whole part and half flags; the flags and the
// average flag pick the kernel.
void predict_rectangle(const uint8_t* src, uint8_t* dst, int stride, int w, int h, int x, int y, int dx, int dy,
                       int average) {
    int xint = dx >> 1, yint = dy >> 1;
    int xh = dx & 1, yh = dy & 1;
    const uint8_t* s = src + stride * (y + yint) + x + xint;
    uint8_t* d = dst + stride * y + x;
    predict_k.rectangle[xh | (yh << 1) | ((average ? 1 : 0) << 2)](s, d, stride, w, h);
}

void predict_component_set(frame_planes src, int src_field, frame_planes dst, int dst_field, int stride, int w,
                           int h, int x, int y, int dx, int dy, int average) {
    for (int c = 0; c < 3; ++c) {
        if (c == 1) {
            if (enc.config.chroma_format == CHROMA420) {
                h >>= 1;
                y >>= 1;
                dy /= 2;
            }
            if (enc.config.chroma_format != CHROMA444) {
                w >>= 1;
                x >>= 1;
                dx /= 2;
                stride >>= 1;
            }
        }
#ifdef MORVANE_CHECK_PREDICTION_READS
        int plane_width = c == 0 ? enc.config.width : enc.config.chrom_width;
        int plane_height = c == 0 ? enc.config.height : enc.config.chrom_height;
        check_reads_inside(plane_width, plane_height, src_field, stride, w, h, x, y, dx, dy);
#endif
        const uint8_t* s = src[c] + (src_field ? stride >> 1 : 0);
        uint8_t* d = dst[c] + (dst_field ? stride >> 1 : 0);
        predict_rectangle(s, d, stride, w, h, x, y, dx, dy, average);
    }
}

void derive_dual_prime_vectors(int DMV[2][2], const int dmvector[2], int mvx, int mvy) {
    const picture_values& pic = enc.picture;
    auto half = [](int v) { return (v + (v > 0 ? 1 : 0)) >> 1; };
    auto three_half = [](int v) { return (3 * v + (v > 0 ? 1 : 0)) >> 1; };
    if (pic.picture_structure == FRAME_PICTURE) {
        if (enc.config.top_field_first) {
            DMV[0][0] = half(mvx) + dmvector[0];
            DMV[0][1] = half(mvy) + dmvector[1] - 1;
            DMV[1][0] = three_half(mvx) + dmvector[0];
            DMV[1][1] = three_half(mvy) + dmvector[1] + 1;
        } else {
            DMV[0][0] = three_half(mvx) + dmvector[0];
            DMV[0][1] = three_half(mvy) + dmvector[1] - 1;
            DMV[1][0] = half(mvx) + dmvector[0];
            DMV[1][1] = half(mvy) + dmvector[1] + 1;
        }
    } else {
        DMV[0][0] = half(mvx) + dmvector[0];
        DMV[0][1] = half(mvy) + dmvector[1] + (pic.picture_structure == TOP_FIELD ? -1 : 1);
    }
}

void set_intra_prediction(frame_planes dst, int bx, int by) {
    const encoder_config& cfg = enc.config;
    int bottom = enc.picture.picture_structure == BOTTOM_FIELD;
    uint8_t* p = dst[0] + (bottom ? cfg.width : 0) + cfg.width2 * by + bx;
    for (int j = 0; j < 16; ++j, p += cfg.width2) std::memset(p, 128, 16);

    int cx = cfg.chroma_format == CHROMA444 ? bx : bx >> 1;
    int cy = cfg.chroma_format == CHROMA420 ? by >> 1 : by;
    int cw = cfg.chroma_format == CHROMA444 ? 16 : 8;
    int ch = cfg.chroma_format == CHROMA420 ? 8 : 16;
    for (int c = 1; c < 3; ++c) {
        uint8_t* q = dst[c] + (bottom ? cfg.chrom_width : 0) + cfg.chrom_width2 * cy + cx;
        for (int j = 0; j < ch; ++j, q += cfg.chrom_width2) std::memset(q, 128, static_cast<std::size_t>(cw));
    }
}

namespace {

void predict_frame_picture(frame_planes fwd, frame_planes bwd, frame_planes dst, int stride, int bx, int by,
                           int pict_type, int mb_type, int motion_type, const int mv[2][2][2],
                           const int field_select[2][2], const int dmvector[2]) {
    const int S = stride, F = stride << 1;
    bool forward = (mb_type & MB_FORWARD) || pict_type == P_TYPE;
    if (forward) {
        if (motion_type == MC_FRAME || !(mb_type & MB_FORWARD)) {
            predict_component_set(fwd, 0, dst, 0, S, 16, 16, bx, by, mv[0][0][0], mv[0][0][1], 0);
        } else if (motion_type == MC_FIELD) {
            predict_component_set(fwd, field_select[0][0], dst, 0, F, 16, 8, bx, by >> 1, mv[0][0][0],
                                  mv[0][0][1] >> 1, 0);
            predict_component_set(fwd, field_select[1][0], dst, 1, F, 16, 8, bx, by >> 1, mv[1][0][0],
                                  mv[1][0][1] >> 1, 0);
        } else if (motion_type == MC_DMV) {
            int mvx = mv[0][0][0], mvy = mv[0][0][1] >> 1;
            int DMV[2][2];
            derive_dual_prime_vectors(DMV, dmvector, mvx, mvy);
            predict_component_set(fwd, 0, dst, 0, F, 16, 8, bx, by >> 1, mvx, mvy, 0);
            predict_component_set(fwd, 1, dst, 1, F, 16, 8, bx, by >> 1, mvx, mvy, 0);
            predict_component_set(fwd, 1, dst, 0, F, 16, 8, bx, by >> 1, DMV[0][0], DMV[0][1], 1);
            predict_component_set(fwd, 0, dst, 1, F, 16, 8, bx, by >> 1, DMV[1][0], DMV[1][1], 1);
        } else {
            invalid_motion_type();
        }
    }
    if (mb_type & MB_BACKWARD) {
        int average = forward ? 1 : 0;
        if (motion_type == MC_FRAME) {
            predict_component_set(bwd, 0, dst, 0, S, 16, 16, bx, by, mv[0][1][0], mv[0][1][1], average);
        } else {
            predict_component_set(bwd, field_select[0][1], dst, 0, F, 16, 8, bx, by >> 1, mv[0][1][0],
                                  mv[0][1][1] >> 1, average);
            predict_component_set(bwd, field_select[1][1], dst, 1, F, 16, 8, bx, by >> 1, mv[1][1][0],
                                  mv[1][1][1] >> 1, average);
        }
    }
}

void predict_field_picture(frame_planes fwd, frame_planes bwd, frame_planes dst, int stride, int bx, int by,
                           int pict_type, int picture_structure, int mb_type, int motion_type, int second_field,
                           const int mv[2][2][2], const int field_select[2][2], const int dmvector[2]) {
    const int F = stride << 1;
    const int current_field = picture_structure == BOTTOM_FIELD ? 1 : 0;
    // The second field of a P frame may predict from the first field of its own frame.
    auto forward_source = [&](int r) {
        return pict_type == P_TYPE && second_field && field_select[r][0] != current_field ? bwd : fwd;
    };
    bool forward = (mb_type & MB_FORWARD) || pict_type == P_TYPE;
    if (forward) {
        if (motion_type == MC_FIELD || !(mb_type & MB_FORWARD)) {
            predict_component_set(forward_source(0), field_select[0][0], dst, current_field, F, 16, 16, bx, by,
                                  mv[0][0][0], mv[0][0][1], 0);
        } else if (motion_type == MC_16X8) {
            predict_component_set(forward_source(0), field_select[0][0], dst, current_field, F, 16, 8, bx, by,
                                  mv[0][0][0], mv[0][0][1], 0);
            predict_component_set(forward_source(1), field_select[1][0], dst, current_field, F, 16, 8, bx, by + 8,
                                  mv[1][0][0], mv[1][0][1], 0);
        } else if (motion_type == MC_DMV) {
            int DMV[2][2];
            derive_dual_prime_vectors(DMV, dmvector, mv[0][0][0], mv[0][0][1]);
            predict_component_set(fwd, current_field, dst, current_field, F, 16, 16, bx, by, mv[0][0][0],
                                  mv[0][0][1], 0);
            predict_component_set(second_field ? bwd : fwd, 1 - current_field, dst, current_field, F, 16, 16, bx,
                                  by, DMV[0][0], DMV[0][1], 1);
        } else {
            invalid_motion_type();
        }
    }
    if (mb_type & MB_BACKWARD) {
        int average = forward ? 1 : 0;
        if (motion_type == MC_FIELD) {
            predict_component_set(bwd, field_select[0][1], dst, current_field, F, 16, 16, bx, by, mv[0][1][0],
                                  mv[0][1][1], average);
        } else if (motion_type == MC_16X8) {
            predict_component_set(bwd, field_select[0][1], dst, current_field, F, 16, 8, bx, by, mv[0][1][0],
                                  mv[0][1][1], average);
            predict_component_set(bwd, field_select[1][1], dst, current_field, F, 16, 8, bx, by + 8, mv[1][1][0],
                                  mv[1][1][1], average);
        } else {
            invalid_motion_type();
        }
    }
}

}  // namespace

void predict_macroblock(frame_planes forward_reference, frame_planes backward_reference, frame_planes dst,
                        int stride, int bx, int by, int pict_type, int picture_structure, int mb_type,
                        int motion_type, int second_field, const int mv[2][2][2],
                        const int motion_vertical_field_select[2][2], const int dmvector[2]) {
    if (mb_type & MB_INTRA) {
        set_intra_prediction(dst, bx, by);
        return;
    }
    if (picture_structure == FRAME_PICTURE)
        predict_frame_picture(forward_reference, backward_reference, dst, stride, bx, by, pict_type, mb_type,
                              motion_type, mv, motion_vertical_field_select, dmvector);
    else
        predict_field_picture(forward_reference, backward_reference, dst, stride, bx, by, pict_type,
                              picture_structure, mb_type, motion_type, second_field, mv,
                              motion_vertical_field_select, dmvector);
}

void defer_prediction_messages(std::string* messages) { deferred_messages = messages; }

void predict_row(frame_planes forward_reference, frame_planes backward_reference, frame_planes pred, int second_field,
                 const macroblock_info* records, int row) {
    const int by = 16 * row;
    int k = row * enc.config.mb_width;
    for (int bx = 0; bx < enc.config.width; bx += 16, ++k) {
        const macroblock_info& mb = records[k];
        predict_macroblock(forward_reference, backward_reference, pred, enc.config.width, bx, by,
                           enc.picture.pict_type, enc.picture.picture_structure, mb.mb_type, mb.motion_type,
                           second_field, mb.mv, mb.motion_vertical_field_select, mb.dmvector);
    }
}

void predict_picture(frame_planes forward_reference, frame_planes backward_reference, frame_planes pred,
                     int second_field, macroblock_info* records) {
    for (int row = 0; row < enc.config.mb_height2; ++row)
        predict_row(forward_reference, backward_reference, pred, second_field, records, row);
}
