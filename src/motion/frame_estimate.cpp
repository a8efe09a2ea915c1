#include <cstdio>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "motion/block_match.h"
#include "motion/estimate_common.h"
#include "motion/motion_estimation.h"

namespace {

// Two-thirds of a doubled vector component, rounded as the decoder scales it.
int scale_two_thirds(int v) { return v >= 0 ? (v + 1) / 3 : -((-v + 1) / 3); }

}  // namespace

void motion_estimation_row(const motion_inputs& in, macroblock_info* records, int row) {
    const int j = 16 * row;
    macroblock_info* record = records + row * enc.config.mb_width;
    for (int i = 0; i < enc.config.width; i += 16, ++record) {
        if (enc.picture.picture_structure == FRAME_PICTURE)
            frame_mb_estimate(in.past_src, in.future_src, in.past_rec, in.future_rec, in.cur_src, i, j,
                              in.forw_hor_search, in.forw_vert_search, in.back_hor_search, in.back_vert_search,
                              record);
        else
            field_mb_estimate(in.past_src, in.future_src, in.past_rec, in.future_rec, in.cur_src, in.cur_rec, i, j,
                              in.forw_hor_search, in.forw_vert_search, in.back_hor_search, in.back_vert_search,
                              record, in.second_field, in.i_first_field);
    }
}

void motion_estimation(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* records, int second_field, int i_first_field) {
    const motion_inputs in{past_src,        future_src,       past_rec,        future_rec,
                           cur_src,         cur_rec,          forw_hor_search, forw_vert_search,
                           back_hor_search, back_vert_search, second_field,    i_first_field};
    std::fputs(" motion_estimation=test1\n", enc.files.statistics_file);
    for (int row = 0; row < enc.config.mb_height2; ++row) {
        motion_estimation_row(in, records, row);
        print_row_reports(enc.files.statistics_file);
        std::fputc('.', stderr);
        std::fflush(stderr);
    }
    std::fputc('\n', stderr);
}

void print_row_reports(FILE* statistics) {
    if (enc.picture.picture_structure == FRAME_PICTURE) return;
    // A line per macroblock: many, from the coding thread alone, so unlocked.
    for (int i = 0; i < enc.config.mb_width; ++i) fputs_unlocked(" field_ME=P_TYPE\n", statistics);
}

frame_search_result frame_picture_search(const uint8_t* src, const uint8_t* rec, const uint8_t* cur, int i, int j,
                                         int hw, int vw) {
    const int w = enc.config.width, h = enc.config.height;
    frame_search_result r{};
    int sad[5], x[5], y[5];
    interlaced_block_search(src, rec, cur, w, h, i, j, hw, vw, sad, x, y);
    r.dmc = sad[0], r.imin = x[0], r.jmin = y[0];
    int d[4];
    for (int k = 0; k < 4; ++k) d[k] = sad[1 + k], r.imins[k] = x[1 + k], r.jmins[k] = y[1 + k];

    // Ties between the reference fields go to the field of the same parity.
    int dtop, dbot;
    if (d[0] <= d[2]) {
        r.imint = r.imins[0], r.jmint = r.jmins[0], r.tsel = 0, dtop = d[0];
    } else {
        r.imint = r.imins[2], r.jmint = r.jmins[2], r.tsel = 1, dtop = d[2];
    }
    if (d[3] <= d[1]) {
        r.iminb = r.imins[3], r.jminb = r.jmins[3], r.bsel = 1, dbot = d[3];
    } else {
        r.iminb = r.imins[1], r.jminb = r.jmins[1], r.bsel = 0, dbot = d[1];
    }
    r.dmcfield = dtop + dbot;
    return r;
}

dual_prime_result dual_prime_frame_search(const uint8_t* rec, const uint8_t* cur, int i, int jf, const int imins[4],
                                          const int jmins[4]) {
    const int w = enc.config.width, fs = 2 * w, tff = enc.config.top_field_first;
    const int xmax = 2 * w - 32, ymax = enc.config.height - 16;
    auto inside = [&](int x, int y) { return x >= 0 && x <= xmax && y >= 0 && y <= ymax; };

    dual_prime_result r{false, 2 * i, 2 * jf, 0, 0, no_distortion, no_distortion};
    int best = 1 << 30;
    int best_tx = 0, best_ty = 0, best_bx = 0, best_by = 0;
    for (int pr = 0; pr < 2; ++pr) {
        for (int pc = 0; pc < 2; ++pc) {
            int mx = imins[2 * pr + pc] - 2 * i;
            int my = jmins[2 * pr + pc] - 2 * jf;
            if (pr != pc) {
                // Only the later current field from the earlier reference field,
                // three field periods apart, brought to the same-parity distance.
                if (pc != tff) continue;
                my += pc == 0 ? 1 : -1;
                mx = scale_two_thirds(2 * mx);
                my = scale_two_thirds(2 * my);
            }
            int tx, ty, bx, by;
            if (tff) {
                tx = dual_prime_half(mx), ty = dual_prime_half(my) - 1;
                bx = dual_prime_half(3 * mx), by = dual_prime_half(3 * my) + 1;
            } else {
                tx = dual_prime_half(3 * mx), ty = dual_prime_half(3 * my) - 1;
                bx = dual_prime_half(mx), by = dual_prime_half(my) + 1;
            }
            const int cx = mx + 2 * i, cy = my + 2 * jf;
            tx += 2 * i, ty += 2 * jf, bx += 2 * i, by += 2 * jf;
            if (!inside(cx, cy)) continue;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int tpx = tx + dx, tpy = ty + dy, bpx = bx + dx, bpy = by + dy;
                    if (!inside(tpx, tpy) || !inside(bpx, bpy)) continue;
                    int sse = bidir_sse_at(rec, cx, cy, rec + w, tpx, tpy, cur, fs, 8) +
                              bidir_sse_at(rec + w, cx, cy, rec, bpx, bpy, cur + w, fs, 8);
                    if (sse < best) {
                        best = sse;
                        r.found = true;
                        r.imindp = cx, r.jmindp = cy;
                        r.imindmv = dx, r.jmindmv = dy;
                        best_tx = tpx, best_ty = tpy, best_bx = bpx, best_by = bpy;
                    }
                }
            }
        }
    }
    if (r.found) {
        r.vmc_dp = best;
        r.dmc_dp = bidir_sad_at(rec, r.imindp, r.jmindp, rec + w, best_tx, best_ty, cur, fs, 8) +
                   bidir_sad_at(rec + w, r.imindp, r.jmindp, rec, best_bx, best_by, cur + w, fs, 8);
    }
    return r;
}

void frame_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, int i, int j, int forw_hor_search,
                       int forw_vert_search, int back_hor_search, int back_vert_search, macroblock_info* record) {
    const int w = enc.config.width, h = enc.config.height, fs = 2 * w;
    const uint8_t* cur = cur_src + static_cast<std::ptrdiff_t>(j) * w + i;
    const int mb_var = motion_k.block_variance(cur, w);
    macroblock_info& mb = *record;

    if (enc.picture.pict_type == I_TYPE) {
        mb.mb_type = MB_INTRA;
        return;
    }

    if (enc.picture.pict_type == P_TYPE) {
        frame_search_result fr{};
        dual_prime_result dp{};
        int motion_type, vmc;
        if (enc.picture.frame_pred_frame_dct) {
            fr.dmc = block_search(past_src, past_rec, cur, w, i, j, forw_hor_search, forw_vert_search, 16, w, h,
                                  &fr.imin, &fr.jmin);
            vmc = sse_at(past_rec, w, fr.imin, fr.jmin, cur, 16);
            motion_type = MC_FRAME;
        } else {
            fr = frame_picture_search(past_src, past_rec, cur, i, j, forw_hor_search, forw_vert_search);
            const bool dual = enc.config.M == 1;
            if (dual) dp = dual_prime_frame_search(past_rec, cur, i, j >> 1, fr.imins, fr.jmins);
            if (dual && dp.dmc_dp < fr.dmc && dp.dmc_dp < fr.dmcfield) {
                motion_type = MC_DMV;
                vmc = dp.vmc_dp;
            } else if (fr.dmc <= fr.dmcfield) {
                motion_type = MC_FRAME;
                vmc = sse_at(past_rec, w, fr.imin, fr.jmin, cur, 16);
            } else {
                motion_type = MC_FIELD;
                vmc = sse_at(past_rec + fr.tsel * w, fs, fr.imint, fr.jmint, cur, 8) +
                      sse_at(past_rec + fr.bsel * w, fs, fr.iminb, fr.jminb, cur + w, 8);
            }
        }
        mb.motion_type = motion_type;
        if (vmc > mb_var && vmc >= intra_threshold) {
            mb.mb_type = MB_INTRA;
            return;
        }
        const int vzero = motion_k.block_sse[0](past_rec + static_cast<std::ptrdiff_t>(j) * w + i, cur, w, 16);
        if (4 * vzero > 5 * vmc && vzero >= intra_threshold) {
            mb.mb_type = MB_FORWARD;
            if (motion_type == MC_FRAME) {
                set_mv(mb.mv[0][0], fr.imin - 2 * i, fr.jmin - 2 * j);
            } else if (motion_type == MC_DMV) {
                set_mv(mb.mv[0][0], dp.imindp - 2 * i, 2 * dp.jmindp - 2 * j);
                mb.dmvector[0] = dp.imindmv;
                mb.dmvector[1] = dp.jmindmv;
            } else {
                set_mv(mb.mv[0][0], fr.imint - 2 * i, 2 * fr.jmint - 2 * j);
                set_mv(mb.mv[1][0], fr.iminb - 2 * i, 2 * fr.jminb - 2 * j);
                mb.motion_vertical_field_select[0][0] = fr.tsel;
                mb.motion_vertical_field_select[1][0] = fr.bsel;
            }
        } else {
            mb.mb_type = 0;
            mb.motion_type = MC_FRAME;
            set_mv(mb.mv[0][0], 0, 0);
        }
        return;
    }

    // B picture: both directions, the vectors of each stored whatever is chosen.
    frame_search_result f{}, b{};
    int mb_type, motion_type, vmc;
    if (enc.picture.frame_pred_frame_dct) {
        block_search(past_src, past_rec, cur, w, i, j, forw_hor_search, forw_vert_search, 16, w, h, &f.imin, &f.jmin);
        const int vmcf = sse_at(past_rec, w, f.imin, f.jmin, cur, 16);
        block_search(future_src, future_rec, cur, w, i, j, back_hor_search, back_vert_search, 16, w, h, &b.imin,
                     &b.jmin);
        const int vmcr = sse_at(future_rec, w, b.imin, b.jmin, cur, 16);
        const int vmci = bidir_sse_at(past_rec, f.imin, f.jmin, future_rec, b.imin, b.jmin, cur, w, 16);
        // On equal distortion forward goes before backward, both before interpolated.
        const b_candidate candidates[] = {
            {MB_FORWARD, MC_FRAME, vmcf}, {MB_BACKWARD, MC_FRAME, vmcr}, {MB_FORWARD | MB_BACKWARD, MC_FRAME, vmci}};
        const b_candidate& chosen = least_distortion(candidates);
        mb_type = chosen.mb_type, motion_type = chosen.motion_type, vmc = chosen.distortion;
    } else {
        f = frame_picture_search(past_src, past_rec, cur, i, j, forw_hor_search, forw_vert_search);
        b = frame_picture_search(future_src, future_rec, cur, i, j, back_hor_search, back_vert_search);
        const uint8_t* ft = past_rec + f.tsel * w;
        const uint8_t* fb = past_rec + f.bsel * w;
        const uint8_t* bt = future_rec + b.tsel * w;
        const uint8_t* bb = future_rec + b.bsel * w;
        const int dmci = bidir_sad_at(past_rec, f.imin, f.jmin, future_rec, b.imin, b.jmin, cur, w, 16);
        const int dmcfieldi = bidir_sad_at(ft, f.imint, f.jmint, bt, b.imint, b.jmint, cur, fs, 8) +
                              bidir_sad_at(fb, f.iminb, f.jminb, bb, b.iminb, b.jminb, cur + w, fs, 8);
        // On equal distortion the backward prediction goes before the forward and
        // both before the interpolated, and field before frame prediction.
        const b_candidate candidates[] = {
            {MB_BACKWARD, MC_FIELD, b.dmcfield},
            {MB_BACKWARD, MC_FRAME, b.dmc},
            {MB_FORWARD, MC_FIELD, f.dmcfield},
            {MB_FORWARD, MC_FRAME, f.dmc},
            {MB_FORWARD | MB_BACKWARD, MC_FIELD, dmcfieldi},
            {MB_FORWARD | MB_BACKWARD, MC_FRAME, dmci},
        };
        const b_candidate& chosen = least_distortion(candidates);
        mb_type = chosen.mb_type, motion_type = chosen.motion_type;
        if (mb_type == (MB_FORWARD | MB_BACKWARD)) {
            vmc = motion_type == MC_FRAME
                      ? bidir_sse_at(past_rec, f.imin, f.jmin, future_rec, b.imin, b.jmin, cur, w, 16)
                      : bidir_sse_at(ft, f.imint, f.jmint, bt, b.imint, b.jmint, cur, fs, 8) +
                            bidir_sse_at(fb, f.iminb, f.jminb, bb, b.iminb, b.jminb, cur + w, fs, 8);
        } else {
            const bool forward = mb_type == MB_FORWARD;
            const frame_search_result& s = forward ? f : b;
            const uint8_t* ref = forward ? past_rec : future_rec;
            vmc = motion_type == MC_FRAME ? sse_at(ref, w, s.imin, s.jmin, cur, 16)
                                          : sse_at(forward ? ft : bt, fs, s.imint, s.jmint, cur, 8) +
                                                sse_at(forward ? fb : bb, fs, s.iminb, s.jminb, cur + w, 8);
        }
    }

    mb.motion_type = motion_type;
    if (vmc > mb_var && vmc >= intra_threshold) {
        mb.mb_type = MB_INTRA;
        return;
    }
    mb.mb_type = mb_type;
    if (motion_type == MC_FRAME) {
        set_mv(mb.mv[0][0], f.imin - 2 * i, f.jmin - 2 * j);
        set_mv(mb.mv[0][1], b.imin - 2 * i, b.jmin - 2 * j);
    } else {
        set_mv(mb.mv[0][0], f.imint - 2 * i, 2 * f.jmint - 2 * j);
        set_mv(mb.mv[1][0], f.iminb - 2 * i, 2 * f.jminb - 2 * j);
        set_mv(mb.mv[0][1], b.imint - 2 * i, 2 * b.jmint - 2 * j);
        set_mv(mb.mv[1][1], b.iminb - 2 * i, 2 * b.jminb - 2 * j);
        mb.motion_vertical_field_select[0][0] = f.tsel;
        mb.motion_vertical_field_select[1][0] = f.bsel;
        mb.motion_vertical_field_select[0][1] = b.tsel;
        mb.motion_vertical_field_select[1][1] = b.bsel;
    }
}
