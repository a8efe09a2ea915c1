// Picture data: slices and macroblocks of one picture.
#pragma once

#include <cstdint>

#include "bitstream/vlc.h"
#include "driver/macroblock_info.h"

extern const vlc_entry address_increment_table[34];        // increment 1..33
extern const vlc_entry (&macroblock_type_table)[3][32];    // [pict_type - 1][flags]; length 0: no code
extern const vlc_entry coded_block_pattern_table[64];

// Writes the picture header and every slice of the picture whose luminance
// is frame. Quantises blocks in place and completes each record of mb_info
// (mquant, cbp, skipped, the final mb_type); the sequential state of enc.run
// (rate control, VBV model, bit writer, vector and DC predictors) goes on to
// the next picture.
// Calls around each macroblock row for a caller that makes the rows while
// they are coded: before(row) returns once the row's blocks are
// transformed; after(row) comes when its blocks are quantised and its
// records final.
struct row_hooks {
    void (*before)(void* context, int row);
    void (*after)(void* context, int row);
    void* context;
};

// frame: the source, for the activities; null when the records hold them.
void write_picture(const uint8_t* frame, macroblock_info* mb_info, int16_t* blocks, const row_hooks* hooks = nullptr);
// Vectors of direction s (0 forward, 1 backward) of one macroblock; updates PMV.
void write_motion_vectors(const int mv[2][2][2], int PMV[2][2][2], const int motion_vertical_field_select[2][2],
                          const int dmvector[2], int s, int motion_type, int hor_f_code, int vert_f_code);
void write_address_increment(int increment);
void write_macroblock_type(int pict_type, int mb_type);
void write_coded_block_pattern(int pattern);
// The 5-bit code the stream carries for quantiser value q.
int quantiser_scale_code(int q);
