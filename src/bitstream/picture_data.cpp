#include "bitstream/picture_data.h"

#include <cstddef>
#include <cstring>

#include "bitstream/bit_writer.h"
#include "bitstream/headers.h"
#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "ratecontrol/rate_control.h"
#include "ratecontrol/vbv.h"
#include "transform/quantise.h"

namespace {

struct type_row {
    int pict_type, flags;
    const char* bits;
};

constexpr type_row macroblock_type_rows[] = {
    {1, 1, "1"},       {1, 17, "01"},
    {2, 10, "1"},      {2, 2, "01"},      {2, 8, "001"},     {2, 1, "00011"},
    {2, 26, "00010"},  {2, 18, "00001"},  {2, 17, "000001"},
    {3, 12, "10"},     {3, 14, "11"},     {3, 4, "010"},     {3, 6, "011"},
    {3, 8, "0010"},    {3, 10, "0011"},   {3, 1, "00011"},   {3, 30, "00010"},
    {3, 26, "000011"}, {3, 22, "000010"}, {3, 17, "000001"},
};

struct macroblock_type_tables {
    vlc_entry t[3][32];
};

constexpr macroblock_type_tables make_macroblock_type_table() {
    macroblock_type_tables m{};
    for (const type_row& row : macroblock_type_rows) m.t[row.pict_type - 1][row.flags] = vlc(row.bits);
    return m;
}

constexpr macroblock_type_tables macroblock_types = make_macroblock_type_table();

constexpr int macroblock_escape_code = 8, macroblock_escape_length = 11;

void reset_predictors() { std::memset(enc.run.PMV, 0, sizeof enc.run.PMV); }

void reset_dc_predictors() { std::memset(enc.run.dc_dct_pred, 0, sizeof enc.run.dc_dct_pred); }

// A B macroblock may be skipped when it repeats the previous one's directions
// and its vectors equal the predictors (in field pictures: same-parity field).
bool b_macroblock_skippable(const macroblock_info& mb, const macroblock_info& previous, int mb_type) {
    const picture_values& pic = enc.picture;
    constexpr int directions = MB_FORWARD | MB_BACKWARD;
    if ((mb_type & directions) != (previous.mb_type & directions)) return false;
    bool frame_picture = pic.picture_structure == FRAME_PICTURE;
    if (frame_picture ? mb.motion_type != MC_FRAME : mb.motion_type != MC_FIELD) return false;
    int same_parity = pic.picture_structure == BOTTOM_FIELD ? 1 : 0;
    const int (&PMV)[2][2][2] = enc.run.PMV;
    for (int s = 0; s < 2; ++s) {
        if (!(mb_type & (s == 0 ? MB_FORWARD : MB_BACKWARD))) continue;
        if (mb.mv[0][s][0] != PMV[0][s][0] || mb.mv[0][s][1] != PMV[0][s][1]) return false;
        if (!frame_picture && mb.motion_vertical_field_select[0][s] != same_parity) return false;
    }
    return true;
}

}  // namespace

const vlc_entry address_increment_table[34] = {
    {0, 0},
    vlc("1"),           vlc("011"),         vlc("010"),         vlc("0011"),        vlc("0010"),
    vlc("00011"),       vlc("00010"),       vlc("0000111"),     vlc("0000110"),     vlc("00001011"),
    vlc("00001010"),    vlc("00001001"),    vlc("00001000"),    vlc("00000111"),    vlc("00000110"),
    vlc("0000010111"),  vlc("0000010110"),  vlc("0000010101"),  vlc("0000010100"),  vlc("0000010011"),
    vlc("0000010010"),  vlc("00000100011"), vlc("00000100010"), vlc("00000100001"), vlc("00000100000"),
    vlc("00000011111"), vlc("00000011110"), vlc("00000011101"), vlc("00000011100"), vlc("00000011011"),
    vlc("00000011010"), vlc("00000011001"), vlc("00000011000")};

const vlc_entry (&macroblock_type_table)[3][32] = macroblock_types.t;

const vlc_entry coded_block_pattern_table[64] = {
    vlc("000000001"), vlc("01011"),     vlc("01001"),     vlc("001101"),    vlc("1101"),      vlc("0010111"),
    vlc("0010011"),   vlc("00011111"),  vlc("1100"),      vlc("0010110"),   vlc("0010010"),   vlc("00011110"),
    vlc("10011"),     vlc("00011011"),  vlc("00010111"),  vlc("00010011"),  vlc("1011"),      vlc("0010101"),
    vlc("0010001"),   vlc("00011101"),  vlc("10001"),     vlc("00011001"),  vlc("00010101"),  vlc("00010001"),
    vlc("001111"),    vlc("00001111"),  vlc("00001101"),  vlc("000000011"), vlc("01111"),     vlc("00001011"),
    vlc("00000111"),  vlc("000000111"), vlc("1010"),      vlc("0010100"),   vlc("0010000"),   vlc("00011100"),
    vlc("001110"),    vlc("00001110"),  vlc("00001100"),  vlc("000000010"), vlc("10000"),     vlc("00011000"),
    vlc("00010100"),  vlc("00010000"),  vlc("01110"),     vlc("00001010"),  vlc("00000110"),  vlc("000000110"),
    vlc("10010"),     vlc("00011010"),  vlc("00010110"),  vlc("00010010"),  vlc("01101"),     vlc("00001001"),
    vlc("00000101"),  vlc("000000101"), vlc("01100"),     vlc("00001000"),  vlc("00000100"),  vlc("000000100"),
    vlc("111"),       vlc("01010"),     vlc("01000"),     vlc("001100")};

int quantiser_scale_code(int q) { return enc.picture.q_scale_type ? non_linear_code_map[q] : q >> 1; }

void write_address_increment(int increment) {
    while (increment > 33) {
        write_bits(macroblock_escape_code, macroblock_escape_length);
        increment -= 33;
    }
    write_bits(address_increment_table[increment].code, address_increment_table[increment].length);
}

void write_macroblock_type(int pict_type, int mb_type) {
    const vlc_entry& e = macroblock_type_table[pict_type - 1][mb_type];
    write_bits(e.code, e.length);
}

void write_coded_block_pattern(int pattern) {
    write_bits(coded_block_pattern_table[pattern].code, coded_block_pattern_table[pattern].length);
}

void write_motion_vectors(const int mv[2][2][2], int PMV[2][2][2], const int sel[2][2], const int dmv[2], int s,
                          int motion_type, int hf, int vf) {
    auto both_predictors = [&] {
        PMV[1][s][0] = PMV[0][s][0] = mv[0][s][0];
        PMV[1][s][1] = PMV[0][s][1] = mv[0][s][1];
    };
    auto each_predictor = [&] {
        for (int r = 0; r < 2; ++r) {
            PMV[r][s][0] = mv[r][s][0];
            PMV[r][s][1] = mv[r][s][1];
        }
    };

    if (enc.picture.picture_structure == FRAME_PICTURE) {
        // Frame pictures keep field vertical components in frame lines.
        switch (motion_type) {
        case MC_FRAME:
            write_motion_vector_component(mv[0][s][0] - PMV[0][s][0], hf);
            write_motion_vector_component(mv[0][s][1] - PMV[0][s][1], vf);
            both_predictors();
            break;
        case MC_FIELD:
            for (int r = 0; r < 2; ++r) {
                write_bits(sel[r][s], 1);
                write_motion_vector_component(mv[r][s][0] - PMV[r][s][0], hf);
                write_motion_vector_component((mv[r][s][1] >> 1) - (PMV[r][s][1] >> 1), vf);
            }
            each_predictor();
            break;
        case MC_DMV:
            write_motion_vector_component(mv[0][s][0] - PMV[0][s][0], hf);
            write_dmvector(dmv[0]);
            write_motion_vector_component((mv[0][s][1] >> 1) - (PMV[0][s][1] >> 1), vf);
            write_dmvector(dmv[1]);
            both_predictors();
            break;
        default:
            break;
        }
    } else {
        switch (motion_type) {
        case MC_FIELD:
            write_bits(sel[0][s], 1);
            write_motion_vector_component(mv[0][s][0] - PMV[0][s][0], hf);
            write_motion_vector_component(mv[0][s][1] - PMV[0][s][1], vf);
            both_predictors();
            break;
        case MC_16X8:
            for (int r = 0; r < 2; ++r) {
                write_bits(sel[r][s], 1);
                write_motion_vector_component(mv[r][s][0] - PMV[r][s][0], hf);
                write_motion_vector_component(mv[r][s][1] - PMV[r][s][1], vf);
            }
            each_predictor();
            break;
        case MC_DMV:
            write_motion_vector_component(mv[0][s][0] - PMV[0][s][0], hf);
            write_dmvector(dmv[0]);
            write_motion_vector_component(mv[0][s][1] - PMV[0][s][1], vf);
            write_dmvector(dmv[1]);
            both_predictors();
            break;
        default:
            break;
        }
    }
}

void write_picture(const uint8_t* frame, macroblock_info* mb_info, int16_t* blocks, const row_hooks* hooks) {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    rc_init_picture(frame, mb_info, bitcount());
    write_picture_header();
    if (!cfg.mpeg1) write_picture_coding_extension();

    int last_mquant = rc_first_mquant();
    int MBAinc = 1;
    const int block_count = cfg.block_count;
    const int all_blocks = (1 << block_count) - 1;

    int k = 0;
    for (int j = 0; j < cfg.mb_height2; ++j) {
        for (int i = 0; i < cfg.mb_width; ++i, ++k) {
            if (i == 0) {
                if (hooks) hooks->before(hooks->context, j);
                align_to_byte();
                if (cfg.mpeg1 || cfg.vertical_size <= 2800) {
                    write_bits(0x101 + j, 32);
                } else {
                    write_bits(0x101 + (j & 127), 32);
                    write_bits(j >> 7, 3);
                }
                write_bits(quantiser_scale_code(last_mquant), 5);
                write_bits(0, 1);  // extra_bit_slice
                reset_dc_predictors();
                reset_predictors();
                MBAinc = 1;
            }

            macroblock_info& mb = mb_info[k];
            int mb_type = mb.mb_type;
            mb.mquant = rc_mquant(k, mb.act, bitcount());
            int16_t* first_block = blocks + 64 * static_cast<std::ptrdiff_t>(k) * block_count;

            int cbp;
            if (mb_type & MB_INTRA) {
                for (int b = 0; b < block_count; ++b)
                    quantise_intra(first_block + 64 * b, first_block + 64 * b, cfg.intra_dc_precision,
                                   cfg.intra_quantiser_matrix, mb.mquant);
                cbp = all_blocks;
            } else {
                cbp = 0;
                for (int b = 0; b < block_count; ++b)
                    cbp = 2 * cbp + quantise_non_intra(first_block + 64 * b, first_block + 64 * b,
                                                       cfg.non_intra_quantiser_matrix, mb.mquant);
                if (cbp != 0) mb_type |= MB_PATTERN;
            }
            mb.cbp = cbp;

            if (cbp != 0 && mb.mquant != last_mquant) mb_type |= MB_QUANT;

            if (i != 0 && i != cfg.mb_width - 1 && cbp == 0) {
                bool skip = false;
                if (pic.pict_type == P_TYPE && !(mb_type & MB_FORWARD)) {
                    skip = true;
                    reset_dc_predictors();
                    reset_predictors();
                } else if (pic.pict_type == B_TYPE) {
                    skip = b_macroblock_skippable(mb, mb_info[k - 1], mb_type);
                }
                if (skip) {
                    mb.mb_type = mb_type;
                    mb.skipped = 1;
                    ++MBAinc;
                    continue;
                }
            }

            mb.skipped = 0;
            // A P macroblock without motion compensation that has to be sent
            // goes out as forward prediction with its zero vectors.
            if (pic.pict_type == P_TYPE && cbp == 0 && !(mb_type & MB_FORWARD)) mb_type |= MB_FORWARD;

            write_address_increment(MBAinc);
            MBAinc = 1;
            write_macroblock_type(pic.pict_type, mb_type);

            if ((mb_type & (MB_FORWARD | MB_BACKWARD)) && !pic.frame_pred_frame_dct) write_bits(mb.motion_type, 2);
            if (pic.picture_structure == FRAME_PICTURE && cbp != 0 && !pic.frame_pred_frame_dct)
                write_bits(mb.dct_type, 1);
            if (mb_type & MB_QUANT) {
                write_bits(quantiser_scale_code(mb.mquant), 5);
                last_mquant = mb.mquant;
            }
            if (mb_type & MB_FORWARD)
                write_motion_vectors(mb.mv, enc.run.PMV, mb.motion_vertical_field_select, mb.dmvector, 0,
                                     mb.motion_type, pic.forw_hor_f_code, pic.forw_vert_f_code);
            if (mb_type & MB_BACKWARD)
                write_motion_vectors(mb.mv, enc.run.PMV, mb.motion_vertical_field_select, mb.dmvector, 1,
                                     mb.motion_type, pic.back_hor_f_code, pic.back_vert_f_code);
            if (mb_type & MB_PATTERN) {
                write_coded_block_pattern((cbp >> (block_count - 6)) & 63);
                if (cfg.chroma_format != CHROMA420) write_bits(cbp, block_count - 6);
            }

            for (int b = 0; b < block_count; ++b) {
                if (!(cbp & (1 << (block_count - 1 - b)))) continue;
                const int16_t* block = first_block + 64 * b;
                if (mb_type & MB_INTRA) {
                    int cc = b < 4 ? 0 : (b & 1) ? 2 : 1;
                    write_intra_block(block, cc);
                } else {
                    write_non_intra_block(block);
                }
            }

            if (!(mb_type & MB_INTRA)) reset_dc_predictors();
            if ((mb_type & MB_INTRA) || (pic.pict_type == P_TYPE && !(mb_type & MB_FORWARD))) reset_predictors();
            mb.mb_type = mb_type;
        }
        if (hooks) hooks->after(hooks->context, j);
    }

    rc_update_picture(bitcount());
    vbv_end_of_picture(bitcount());
}
