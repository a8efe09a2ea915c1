// Motion estimation: fills the macroblock records of one picture.
#pragma once

#include <cstdint>
#include <cstdio>

#include "driver/macroblock_info.h"

// What the searches of one picture read: source and reconstructed
// references, the current picture, the search widths.
struct motion_inputs {
    const uint8_t *past_src, *future_src, *past_rec, *future_rec, *cur_src, *cur_rec;
    int forw_hor_search, forw_vert_search, back_hor_search, back_vert_search;
    int second_field, i_first_field;
};

// The records of macroblock row `row`; prints nothing.
void motion_estimation_row(const motion_inputs& in, macroblock_info* records, int row);
// What the statistics file gets for each row estimated: a line per
// macroblock of a field picture.
void print_row_reports(FILE* statistics);

// The whole picture with its statistics and progress lines.
void motion_estimation(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* records, int second_field, int i_first_field);

void frame_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, int i, int j, int forw_hor_search,
                       int forw_vert_search, int back_hor_search, int back_vert_search, macroblock_info* record);

void field_mb_estimate(const uint8_t* past_src, const uint8_t* future_src, const uint8_t* past_rec,
                       const uint8_t* future_rec, const uint8_t* cur_src, const uint8_t* cur_rec, int i, int j,
                       int forw_hor_search, int forw_vert_search, int back_hor_search, int back_vert_search,
                       macroblock_info* record, int second_field, int i_first_field);

// The searches behind the macroblock decisions. Positions are absolute, in
// half samples of the area searched (field positions in field units).

struct frame_search_result {
    int imin, jmin, dmc;                                      // frame prediction
    int imint, jmint, tsel, iminb, jminb, bsel, dmcfield;     // field prediction
    int imins[4], jmins[4];  // [2 * reference parity + current parity]
};

// src, rec and cur are frame planes (cur at the macroblock); (i, j) the
// macroblock position in frame samples and rows.
frame_search_result frame_picture_search(const uint8_t* src, const uint8_t* rec, const uint8_t* cur, int i, int j,
                                         int hw, int vw);

struct dual_prime_result {
    bool found;               // false: no candidate fits, both distortions 65536
    int imindp, jmindp;       // same-parity position (frame search only)
    int imindmv, jmindmv;     // differential vector
    int dmc_dp, vmc_dp;
};

// jf is the macroblock's field row (j / 2).
dual_prime_result dual_prime_frame_search(const uint8_t* rec, const uint8_t* cur, int i, int jf,
                                          const int imins[4], const int jmins[4]);

struct field_search_result {
    int imin, jmin, sel, dmcfield;                                  // 16x16
    int imin8u, jmin8u, sel8u, imin8l, jmin8l, sel8l, dmc8;         // 16x8
    int imins, jmins;  // same-parity 16x16 position (unset with i_first_field)
};

// The reference pointers are frame-plane pointers at the first row of their
// field; cur is the current field's block (stride 2 * width); (i, j) in field
// samples and rows. The current field's parity is taken from picture_structure.
field_search_result field_picture_search(const uint8_t* top_src, const uint8_t* top_rec, const uint8_t* bot_src,
                                         const uint8_t* bot_rec, const uint8_t* cur, int i, int j, int hw, int vw,
                                         int i_first_field);

dual_prime_result dual_prime_field_search(const uint8_t* top_rec, const uint8_t* bot_rec, const uint8_t* cur,
                                          int i, int j, int imins, int jmins);

// Halving with half-way values away from zero.
inline int dual_prime_half(int v) { return (v + (v > 0 ? 1 : 0)) >> 1; }
