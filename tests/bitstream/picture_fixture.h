// A small picture set up for write_picture: records, coefficient blocks, a
// flat source, and rate-control values that keep the quantiser at 2 unless a
// test asks for more.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bit_capture.h"
#include "bitstream/picture_data.h"
#include "bitstream/vlc.h"
#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "ratecontrol/rate_control.h"
#include "ratecontrol/vbv.h"

namespace bitstream_test {

inline const std::string start_code_prefix = "000000000000000000000001";

// The slice header of row j (below 2800 lines) with quantiser_scale_code q.
inline std::string slice_header(int j, int q) { return start_code_prefix + bin(0x01 + j, 8) + bin(q, 5) + "0"; }

struct picture_fixture {
    std::vector<macroblock_info> records;
    std::vector<int16_t> coefficients;
    std::vector<uint8_t> luma;
    FILE* stats = nullptr;

    ~picture_fixture() {
        if (stats) std::fclose(stats);
    }

    // structure 3 codes a frame picture; 1 or 2 a field of an mb_h-row frame.
    void setup(int mb_w, int mb_h, int pict_type, int chroma_format = 1, int structure = 3) {
        reset_encoder_state();
        bool field = structure != FRAME_PICTURE;
        encoder_config& cfg = enc.config;
        cfg.horizontal_size = 16 * mb_w;
        cfg.vertical_size = 16 * mb_h;
        cfg.progressive_sequence = field ? 0 : 1;
        cfg.field_pictures = field ? 1 : 0;
        cfg.chroma_format = chroma_format;
        static_cast<picture_sizes&>(cfg) = derive_sizes(cfg.horizontal_size, cfg.vertical_size,
                                                        cfg.progressive_sequence, cfg.field_pictures, chroma_format);

        enc.picture.pict_type = pict_type;
        enc.picture.picture_structure = structure;
        enc.picture.frame_pred_frame_dct = field ? 0 : 1;
        enc.picture.forw_hor_f_code = enc.picture.forw_vert_f_code = pict_type == 1 ? 15 : 1;
        enc.picture.back_hor_f_code = enc.picture.back_vert_f_code = pict_type == 3 ? 1 : 15;
        for (int i = 0; i < 64; ++i)
            enc.config.intra_quantiser_matrix[i] = enc.config.non_intra_quantiser_matrix[i] = 16;

        // A huge reaction parameter keeps every quantiser at its smallest, 2.
        enc.run.rc.r = 1 << 30;
        enc.run.rc.avg_act = 400.0;
        enc.run.rc.Xi = enc.run.rc.Xp = enc.run.rc.Xb = 1;
        enc.config.bit_rate = 200.0;  // one bit of target per picture: no per-macroblock share
        enc.config.frame_rate = 25.0;
        enc.config.vbv_buffer_size = 1;
        enc.run.rc.Np = enc.run.rc.Nb = 1;

        if (stats) std::fclose(stats);
        stats = std::tmpfile();
        enc.files.statistics_file = stats;

        int count = mb_w * enc.config.mb_height2;
        records.assign(count, macroblock_info{});
        int default_type = pict_type == 1 ? MB_INTRA : pict_type == 2 ? 0 : MB_FORWARD;
        for (macroblock_info& mb : records) {
            mb.mb_type = default_type;
            mb.motion_type = field ? MC_FIELD : MC_FRAME;
            if (field) mb.motion_vertical_field_select[0][0] = mb.motion_vertical_field_select[0][1] = structure == 2;
        }
        enc.buffers.mb_info = records.data();
        coefficients.assign(static_cast<std::size_t>(count) * enc.config.block_count * 64, 0);
        enc.buffers.blocks = coefficients.data();
        luma.assign(static_cast<std::size_t>(enc.config.width) * enc.config.height, 128);
    }

    int16_t* block(int k, int b) { return coefficients.data() + 64 * (k * enc.config.block_count + b); }

    // Writes the picture; returns every bit from the first slice start code on.
    std::string run() {
        bit_capture capture;
        testing::internal::CaptureStderr();
        write_picture(luma.data(), records.data(), coefficients.data());
        stderr_text = testing::internal::GetCapturedStderr();
        all_bits = capture.bits();
        bytes = capture.bytes();
        std::size_t at = first_slice(all_bits);
        return at == std::string::npos ? std::string() : all_bits.substr(at);
    }

    static std::size_t first_slice(const std::string& bits) {
        for (std::size_t p = 0; p + 32 <= bits.size(); p += 8)
            if (bits.compare(p, 32, start_code_prefix + "00000001") == 0) return p;
        return std::string::npos;
    }

    std::string stderr_text, all_bits, bytes;
};

}  // namespace bitstream_test
