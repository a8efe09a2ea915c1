// Per-macroblock coding decisions, shared by every stage of one picture.
#pragma once

// macroblock_type flags
constexpr int MB_INTRA = 1;
constexpr int MB_PATTERN = 2;
constexpr int MB_BACKWARD = 4;
constexpr int MB_FORWARD = 8;
constexpr int MB_QUANT = 16;

// motion_type codes (frame pictures: field/frame/dual prime; field pictures: field/16x8/dual prime)
constexpr int MC_FIELD = 1;
constexpr int MC_FRAME = 2;
constexpr int MC_16X8 = 2;
constexpr int MC_DMV = 3;

struct macroblock_info {
    int mb_type;
    int motion_type;
    int dct_type;
    int mquant;
    int cbp;
    int skipped;
    int mv[2][2][2];                       // [vector][forward/backward][hor/vert], half samples
    int motion_vertical_field_select[2][2];
    int dmvector[2];
    double act;
};
