#include <cstdio>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "motion/block_match.h"
#include "motion/estimate_common.h"
#include "motion/motion_estimation.h"

namespace {

bool bottom_field() { return enc.picture.picture_structure == BOTTOM_FIELD; }

}  // namespace

field_search_result field_picture_search(const uint8_t* top_src, const uint8_t* top_rec, const uint8_t* bot_src,
                                         const uint8_t* bot_rec, const uint8_t* cur, int i, int j, int hw, int vw,
                                         int i_first_field) {
    const int w = enc.config.width, fs = 2 * w, fh = enc.config.height >> 1;
    const bool bottom = bottom_field();
    const bool notop = i_first_field && !bottom, nobot = i_first_field && bottom;
    auto search = [&](const uint8_t* src, const uint8_t* rec, const uint8_t* block, int cy, int rows, int* x,
                      int* y) { return block_search(src, rec, block, fs, i, cy, hw, vw >> 1, rows, w, fh, x, y); };

    field_search_result r{};
    // Ties between the reference fields go to the top field.
    auto choose = [](int dt, int xt, int yt, int db, int xb, int yb, int* x, int* y, int* sel) {
        if (dt <= db) {
            *x = xt, *y = yt, *sel = 0;
            return dt;
        }
        *x = xb, *y = yb, *sel = 1;
        return db;
    };

    int xt = 2 * i, yt = 2 * j, xb = 2 * i, yb = 2 * j;
    int dt = notop ? no_distortion : search(top_src, top_rec, cur, j, 16, &xt, &yt);
    int db = nobot ? no_distortion : search(bot_src, bot_rec, cur, j, 16, &xb, &yb);
    r.imins = bottom ? xb : xt;
    r.jmins = bottom ? yb : yt;
    r.dmcfield = choose(dt, xt, yt, db, xb, yb, &r.imin, &r.jmin, &r.sel);

    xt = 2 * i, yt = 2 * j, xb = 2 * i, yb = 2 * j;
    dt = notop ? no_distortion : search(top_src, top_rec, cur, j, 8, &xt, &yt);
    db = nobot ? no_distortion : search(bot_src, bot_rec, cur, j, 8, &xb, &yb);
    r.dmc8 = choose(dt, xt, yt, db, xb, yb, &r.imin8u, &r.jmin8u, &r.sel8u);

    const uint8_t* lower = cur + 8 * fs;
    xt = 2 * i, yt = 2 * (j + 8), xb = 2 * i, yb = 2 * (j + 8);
    dt = notop ? no_distortion : search(top_src, top_rec, lower, j + 8, 8, &xt, &yt);
    db = nobot ? no_distortion : search(bot_src, bot_rec, lower, j + 8, 8, &xb, &yb);
    r.dmc8 += choose(dt, xt, yt, db, xb, yb, &r.imin8l, &r.jmin8l, &r.sel8l);
    return r;
}

dual_prime_result dual_prime_field_search(const uint8_t* top_rec, const uint8_t* bot_rec, const uint8_t* cur,
                                          int i, int j, int imins, int jmins) {
    const int w = enc.config.width, fs = 2 * w;
    const int xmax = 2 * w - 32, ymax = 2 * (enc.config.height >> 1) - 32;
    const bool bottom = bottom_field();
    const uint8_t* same = bottom ? bot_rec : top_rec;
    const uint8_t* opposite = bottom ? top_rec : bot_rec;

    const int mx = imins - 2 * i, my = jmins - 2 * j;
    const int ox = dual_prime_half(mx) + 2 * i;
    const int oy = dual_prime_half(my) + (bottom ? 1 : -1) + 2 * j;

    dual_prime_result r{false, imins, jmins, 0, 0, no_distortion, no_distortion};
    int best = 1 << 30, best_x = 0, best_y = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int x = ox + dx, y = oy + dy;
            if (x < 0 || x > xmax || y < 0 || y > ymax) continue;
            int sse = bidir_sse_at(same, imins, jmins, opposite, x, y, cur, fs, 16);
            if (sse < best) {
                best = sse;
                r.found = true;
                r.imindmv = dx, r.jmindmv = dy;
                best_x = x, best_y = y;
            }
        }
    }
    if (r.found) {
        r.vmc_dp = best;
        r.dmc_dp = bidir_sad_at(same, imins, jmins, opposite, best_x, best_y, cur, fs, 16);
    }
    return r;
}

void field_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec, int i, int j,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* record, int second_field, int i_first_field) {
    const int w = enc.config.width, fs = 2 * w;
    const bool bottom = bottom_field();
    const uint8_t* cur = cur_src + static_cast<std::ptrdiff_t>(2 * j + (bottom ? 1 : 0)) * w + i;
    const uint8_t* lower = cur + 8 * fs;
    const int mb_var = motion_k.block_variance(cur, fs);
    macroblock_info& mb = *record;

    if (enc.picture.pict_type == I_TYPE) {
        mb.mb_type = MB_INTRA;
        return;
    }

    if (enc.picture.pict_type == P_TYPE) {
        // The second field takes the first field of its own frame as the
        // opposite-parity reference.
        const uint8_t *top_src = past_src, *top_rec = past_rec;
        const uint8_t *bot_src = past_src + w, *bot_rec = past_rec + w;
        if (second_field && !bottom) {
            bot_src = cur_src + w;
            bot_rec = cur_rec + w;
        } else if (second_field) {
            top_src = cur_src;
            top_rec = cur_rec;
        }
        auto ref = [&](int sel) { return sel ? bot_rec : top_rec; };

        const field_search_result fr = field_picture_search(top_src, top_rec, bot_src, bot_rec, cur, i, j,
                                                            forw_hor_search, forw_vert_search, i_first_field);
        const bool dual = enc.config.M == 1 && !i_first_field;
        dual_prime_result dp{};
        if (dual) dp = dual_prime_field_search(top_rec, bot_rec, cur, i, j, fr.imins, fr.jmins);
        int motion_type, vmc;
        if (dual && dp.dmc_dp < fr.dmc8 && dp.dmc_dp < fr.dmcfield) {
            motion_type = MC_DMV;
            vmc = dp.vmc_dp;
        } else if (fr.dmc8 < fr.dmcfield) {
            motion_type = MC_16X8;
            vmc = sse_at(ref(fr.sel8u), fs, fr.imin8u, fr.jmin8u, cur, 8) +
                  sse_at(ref(fr.sel8l), fs, fr.imin8l, fr.jmin8l, lower, 8);
        } else {
            motion_type = MC_FIELD;
            vmc = sse_at(ref(fr.sel), fs, fr.imin, fr.jmin, cur, 16);
        }
        mb.motion_type = motion_type;
        if (vmc > mb_var && vmc >= intra_threshold) {
            mb.mb_type = MB_INTRA;
            return;
        }
        // With an I first field there is no same-parity reference to stay on.
        int vzero = 0;
        if (!i_first_field)
            vzero = motion_k.block_sse[0](ref(bottom ? 1 : 0) + static_cast<std::ptrdiff_t>(j) * fs + i, cur, fs, 16);
        if (i_first_field || (4 * vzero > 5 * vmc && vzero >= intra_threshold)) {
            mb.mb_type = MB_FORWARD;
            if (motion_type == MC_FIELD) {
                set_mv(mb.mv[0][0], fr.imin - 2 * i, fr.jmin - 2 * j);
                mb.motion_vertical_field_select[0][0] = fr.sel;
            } else if (motion_type == MC_DMV) {
                set_mv(mb.mv[0][0], fr.imins - 2 * i, fr.jmins - 2 * j);
                mb.dmvector[0] = dp.imindmv;
                mb.dmvector[1] = dp.jmindmv;
            } else {
                set_mv(mb.mv[0][0], fr.imin8u - 2 * i, fr.jmin8u - 2 * j);
                mb.motion_vertical_field_select[0][0] = fr.sel8u;
                set_mv(mb.mv[1][0], fr.imin8l - 2 * i, fr.jmin8l - 2 * j - 16);
                mb.motion_vertical_field_select[1][0] = fr.sel8l;
            }
        } else {
            mb.mb_type = 0;
            mb.motion_type = MC_FIELD;
            set_mv(mb.mv[0][0], 0, 0);
            mb.motion_vertical_field_select[0][0] = bottom ? 1 : 0;
        }
        return;
    }

    // B picture: forward from the past frame's fields, backward from the future's.
    auto fref = [&](int sel) { return past_rec + sel * w; };
    auto bref = [&](int sel) { return future_rec + sel * w; };
    const field_search_result f = field_picture_search(past_src, past_rec, past_src + w, past_rec + w, cur, i, j,
                                                       forw_hor_search, forw_vert_search, 0);
    const field_search_result b = field_picture_search(future_src, future_rec, future_src + w, future_rec + w,
                                                       cur, i, j, back_hor_search, back_vert_search, 0);
    const int dmcfieldi =
        bidir_sad_at(fref(f.sel), f.imin, f.jmin, bref(b.sel), b.imin, b.jmin, cur, fs, 16);
    const int dmc8i =
        bidir_sad_at(fref(f.sel8u), f.imin8u, f.jmin8u, bref(b.sel8u), b.imin8u, b.jmin8u, cur, fs, 8) +
        bidir_sad_at(fref(f.sel8l), f.imin8l, f.jmin8l, bref(b.sel8l), b.imin8l, b.jmin8l, lower, fs, 8);
    const int dmcfieldf = f.dmcfield, dmc8f = f.dmc8, dmcfieldr = b.dmcfield, dmc8r = b.dmc8;
    // On equal distortion the backward prediction goes before the forward and
    // both before the interpolated, and 16x8 before field prediction.
    const b_candidate candidates[] = {
        {MB_BACKWARD, MC_16X8, dmc8r},
        {MB_BACKWARD, MC_FIELD, dmcfieldr},
        {MB_FORWARD, MC_16X8, dmc8f},
        {MB_FORWARD, MC_FIELD, dmcfieldf},
        {MB_FORWARD | MB_BACKWARD, MC_16X8, dmc8i},
        {MB_FORWARD | MB_BACKWARD, MC_FIELD, dmcfieldi},
    };
    const b_candidate& chosen = least_distortion(candidates);
    const int mb_type = chosen.mb_type, motion_type = chosen.motion_type;
    int vmc;
    if (mb_type == (MB_FORWARD | MB_BACKWARD)) {
        vmc = motion_type == MC_FIELD
                  ? bidir_sse_at(fref(f.sel), f.imin, f.jmin, bref(b.sel), b.imin, b.jmin, cur, fs, 16)
                  : bidir_sse_at(fref(f.sel8u), f.imin8u, f.jmin8u, bref(b.sel8u), b.imin8u, b.jmin8u, cur, fs, 8) +
                        bidir_sse_at(fref(f.sel8l), f.imin8l, f.jmin8l, bref(b.sel8l), b.imin8l, b.jmin8l, lower,
                                     fs, 8);
    } else {
        const field_search_result& s = mb_type == MB_FORWARD ? f : b;
        auto ref = [&](int sel) { return (mb_type == MB_FORWARD ? past_rec : future_rec) + sel * w; };
        vmc = motion_type == MC_FIELD ? sse_at(ref(s.sel), fs, s.imin, s.jmin, cur, 16)
                                      : sse_at(ref(s.sel8u), fs, s.imin8u, s.jmin8u, cur, 8) +
                                            sse_at(ref(s.sel8l), fs, s.imin8l, s.jmin8l, lower, 8);
    }

    mb.motion_type = motion_type;
    if (vmc > mb_var && vmc >= intra_threshold) {
        mb.mb_type = MB_INTRA;
        return;
    }
    mb.mb_type = mb_type;
    if (motion_type == MC_FIELD) {
        set_mv(mb.mv[0][0], f.imin - 2 * i, f.jmin - 2 * j);
        mb.motion_vertical_field_select[0][0] = f.sel;
        set_mv(mb.mv[0][1], b.imin - 2 * i, b.jmin - 2 * j);
        mb.motion_vertical_field_select[0][1] = b.sel;
    } else {
        set_mv(mb.mv[0][0], f.imin8u - 2 * i, f.jmin8u - 2 * j);
        mb.motion_vertical_field_select[0][0] = f.sel8u;
        set_mv(mb.mv[1][0], f.imin8l - 2 * i, f.jmin8l - 2 * j - 16);
        mb.motion_vertical_field_select[1][0] = f.sel8l;
        set_mv(mb.mv[0][1], b.imin8u - 2 * i, b.jmin8u - 2 * j);
        mb.motion_vertical_field_select[0][1] = b.sel8u;
        set_mv(mb.mv[1][1], b.imin8l - 2 * i, b.jmin8l - 2 * j - 16);
        mb.motion_vertical_field_select[1][1] = b.sel8l;
    }
}
