#include "transform/transform_stage.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "transform/dct.h"
#include "transform/quantise.h"
#include "transform/sample_kernels.h"

block_location locate_block(int x, int y, int n, int dct_type) {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    const bool frame_picture = pic.picture_structure == FRAME_PICTURE;
    const bool bottom = pic.picture_structure == BOTTOM_FIELD;
    block_location b;
    if (n < 4) {
        b.component = 0;
        int col = x + 8 * (n & 1);
        int row;
        if (frame_picture && dct_type) {
            row = y + ((n & 2) ? 1 : 0);
            b.stride = 2 * cfg.width;
        } else {
            row = y + ((n & 2) ? 8 : 0);
            b.stride = cfg.width2;
        }
        b.offset = row * cfg.width2 + col + (bottom ? cfg.width : 0);
        return b;
    }
    b.component = (n & 1) ? 2 : 1;
    int cx = cfg.chroma_format == CHROMA444 ? x : x >> 1;
    int cy = cfg.chroma_format == CHROMA420 ? y >> 1 : y;
    if (n >= 8) cx += 8;
    int row;
    if (frame_picture && dct_type && cfg.chroma_format != CHROMA420) {
        row = cy + ((n & 2) ? 1 : 0);
        b.stride = 2 * cfg.chrom_width;
    } else {
        row = cy + ((n & 2) ? 8 : 0);
        b.stride = cfg.chrom_width2;
    }
    b.offset = row * cfg.chrom_width2 + cx + (bottom ? cfg.chrom_width : 0);
    return b;
}

void subtract_prediction(const uint8_t* pred, const uint8_t* cur, int stride, int16_t* block) {
    sample_k.subtract_block(pred, cur, stride, block);
}

void add_prediction(const uint8_t* pred, uint8_t* rec, int stride, const int16_t* block) {
    sample_k.add_block(pred, rec, stride, block);
}

void choose_dct_type_row(const uint8_t* pred, const uint8_t* cur, macroblock_info* records, int row) {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    const int y = 16 * row;
    int k = row * cfg.mb_width;
    for (int x = 0; x < cfg.width; x += 16, ++k) {
        if (pic.frame_pred_frame_dct || pic.picture_structure != FRAME_PICTURE) {
            records[k].dct_type = 0;
            continue;
        }
        const std::size_t top = static_cast<std::size_t>(y) * cfg.width + x;
        int sums[5];
        sample_k.field_sums(pred + top, cur + top, cfg.width, sums);
        const int s0 = sums[0], s1 = sums[1], q0 = sums[2], q1 = sums[3], p = sums[4];
        double d = (q0 - (s0 * s0) / 128.0) * (q1 - (s1 * s1) / 128.0);
        if (d > 0.0) {
            double r = (p - (s0 * s1) / 128.0) / std::sqrt(d);
            records[k].dct_type = r > 0.5 ? 0 : 1;
        } else {
            records[k].dct_type = 1;
        }
    }
}

void choose_dct_type(const uint8_t* pred, const uint8_t* cur, macroblock_info* records) {
    for (int row = 0; row < enc.config.mb_height2; ++row) choose_dct_type_row(pred, cur, records, row);
}

char* forward_transform_row(frame_planes pred, frame_planes cur, const macroblock_info* records, int16_t* blocks,
                            int row, int64_t first_counter, char* text) {
    const encoder_config& cfg = enc.config;
    const int y = 16 * row;
    int k = row * cfg.mb_width;
    int64_t counter = first_counter;
    for (int x = 0; x < cfg.width; x += 16, ++k) {
        for (int n = 0; n < cfg.block_count; ++n, ++counter) {
            block_location b = locate_block(x, y, n, records[k].dct_type);
            int16_t* block = blocks + 64 * (static_cast<std::size_t>(k) * cfg.block_count + n);
            subtract_prediction(pred[b.component] + b.offset, cur[b.component] + b.offset, b.stride, block);
            text += forward_dct_traced(block, counter, text);
        }
    }
    return text;
}

void reconstruct_row(frame_planes pred, frame_planes rec, const macroblock_info* records, int16_t* blocks, int row) {
    const encoder_config& cfg = enc.config;
    const int y = 16 * row;
    int k = row * cfg.mb_width;
    for (int x = 0; x < cfg.width; x += 16, ++k) {
        const macroblock_info& mb = records[k];
        for (int n = 0; n < cfg.block_count; ++n) {
            int16_t* block = blocks + 64 * (static_cast<std::size_t>(k) * cfg.block_count + n);
            if (mb.mb_type & MB_INTRA)
                dequantise_intra(block, block, cfg.intra_dc_precision, cfg.intra_quantiser_matrix, mb.mquant);
            else
                dequantise_non_intra(block, block, cfg.non_intra_quantiser_matrix, mb.mquant);
            block_location b = locate_block(x, y, n, mb.dct_type);
            inverse_dct(block);
            add_prediction(pred[b.component] + b.offset, rec[b.component] + b.offset, b.stride, block);
        }
    }
}

void forward_transform_stage(frame_planes pred, frame_planes cur, macroblock_info* records, int16_t* blocks) {
    const encoder_config& cfg = enc.config;
    const int per_row = cfg.mb_width * cfg.block_count;
    std::vector<char> text(static_cast<std::size_t>(per_row) * dc_lines_room);
    for (int row = 0; row < cfg.mb_height2; ++row) {
        const char* end =
            forward_transform_row(pred, cur, records, blocks, row, enc.run.dc_change_counter, text.data());
        std::fwrite(text.data(), 1, static_cast<std::size_t>(end - text.data()), stdout);
        enc.run.dc_change_counter += per_row;
    }
}

void inverse_transform_stage(frame_planes pred, frame_planes rec, macroblock_info* records, int16_t* blocks) {
    const encoder_config& cfg = enc.config;
    int k = 0;
    for (int y = 0; y < cfg.height2; y += 16) {
        for (int x = 0; x < cfg.width; x += 16, ++k) {
            for (int n = 0; n < cfg.block_count; ++n) {
                block_location b = locate_block(x, y, n, records[k].dct_type);
                int16_t* block = blocks + 64 * (static_cast<std::size_t>(k) * cfg.block_count + n);
                inverse_dct(block);
                add_prediction(pred[b.component] + b.offset, rec[b.component] + b.offset, b.stride, block);
            }
        }
    }
}
