#include "bitstream/headers.h"

#include <cmath>

#include "bitstream/bit_writer.h"
#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "ratecontrol/vbv.h"

const unsigned char scan_table[2][64] = {
    {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
     41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
     30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63},
    {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
     4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
     52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63}};

namespace {

constexpr int picture_start_code = 0x100;
constexpr int user_data_start_code = 0x1B2;
constexpr int sequence_header_code = 0x1B3;
constexpr int extension_start_code = 0x1B5;
constexpr int sequence_end_code = 0x1B7;
constexpr int group_start_code = 0x1B8;

constexpr int sequence_extension_id = 1;
constexpr int sequence_display_extension_id = 2;
constexpr int picture_coding_extension_id = 8;

void start_code(int code) {
    align_to_byte();
    write_bits(code, 32);
}

int bit_rate_400() { return static_cast<int>(std::ceil(enc.config.bit_rate / 400.0)); }

void write_matrix(const uint8_t* matrix) {
    for (int i = 0; i < 64; ++i) write_bits(matrix[scan_table[0][i]], 8);
}

}  // namespace

void write_sequence_header() {
    const encoder_config& cfg = enc.config;
    start_code(sequence_header_code);
    write_bits(cfg.horizontal_size, 12);
    write_bits(cfg.vertical_size, 12);
    write_bits(cfg.aspect_ratio_information, 4);
    write_bits(cfg.frame_rate_code, 4);
    write_bits(bit_rate_400(), 18);
    write_bits(1, 1);
    write_bits(cfg.vbv_buffer_size, 10);
    write_bits(cfg.constrained_parameters_flag, 1);
    write_bits(cfg.load_intra_quantiser_matrix, 1);
    if (cfg.load_intra_quantiser_matrix) write_matrix(cfg.intra_quantiser_matrix);
    write_bits(cfg.load_non_intra_quantiser_matrix, 1);
    if (cfg.load_non_intra_quantiser_matrix) write_matrix(cfg.non_intra_quantiser_matrix);
}

void write_sequence_extension() {
    const encoder_config& cfg = enc.config;
    start_code(extension_start_code);
    write_bits(sequence_extension_id, 4);
    write_bits((cfg.profile << 4) | cfg.level, 8);
    write_bits(cfg.progressive_sequence, 1);
    write_bits(cfg.chroma_format, 2);
    write_bits(cfg.horizontal_size >> 12, 2);
    write_bits(cfg.vertical_size >> 12, 2);
    write_bits(bit_rate_400() >> 18, 12);
    write_bits(1, 1);
    write_bits(cfg.vbv_buffer_size >> 10, 8);
    write_bits(0, 1);  // low_delay: never signalled
    write_bits(0, 2);
    write_bits(0, 5);
}

void write_sequence_display_extension() {
    const encoder_config& cfg = enc.config;
    start_code(extension_start_code);
    write_bits(sequence_display_extension_id, 4);
    write_bits(cfg.video_format, 3);
    write_bits(1, 1);
    write_bits(cfg.color_primaries, 8);
    write_bits(cfg.transfer_characteristics, 8);
    write_bits(cfg.matrix_coefficients, 8);
    write_bits(cfg.display_horizontal_size, 14);
    write_bits(1, 1);
    write_bits(cfg.display_vertical_size, 14);
}

void write_user_data(const char* text) {
    start_code(user_data_start_code);
    while (*text) write_bits(static_cast<unsigned char>(*text++), 8);
}

int frame_to_time_code(int frames) {
    int fps = static_cast<int>(enc.config.frame_rate + 0.5);
    int pictures = frames % fps;
    int total_seconds = (frames - pictures) / fps;
    int seconds = total_seconds % 60;
    int total_minutes = (total_seconds - seconds) / 60;
    int minutes = total_minutes % 60;
    int total_hours = (total_minutes - minutes) / 60;
    int hours = total_hours % 24;
    return (hours << 19) | (minutes << 13) | (1 << 12) | (seconds << 6) | pictures;
}

void write_gop_header(int frame, int closed_gop) {
    start_code(group_start_code);
    write_bits(frame_to_time_code(frame + enc.config.time_code_frames), 25);
    write_bits(closed_gop, 1);
    write_bits(0, 1);
}

void write_picture_header() {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    start_code(picture_start_code);
    compute_vbv_delay(bitcount());
    write_bits(pic.temporal_reference, 10);
    write_bits(pic.pict_type, 3);
    write_bits(enc.run.vbv.vbv_delay, 16);
    if (pic.pict_type == P_TYPE || pic.pict_type == B_TYPE) {
        write_bits(0, 1);
        write_bits(cfg.mpeg1 ? pic.forw_hor_f_code : 7, 3);
    }
    if (pic.pict_type == B_TYPE) {
        write_bits(0, 1);
        write_bits(cfg.mpeg1 ? pic.back_hor_f_code : 7, 3);
    }
    write_bits(0, 1);
}

void write_picture_coding_extension() {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    start_code(extension_start_code);
    write_bits(picture_coding_extension_id, 4);
    write_bits(pic.forw_hor_f_code, 4);
    write_bits(pic.forw_vert_f_code, 4);
    write_bits(pic.back_hor_f_code, 4);
    write_bits(pic.back_vert_f_code, 4);
    write_bits(cfg.intra_dc_precision, 2);
    write_bits(pic.picture_structure, 2);
    write_bits(pic.picture_structure == FRAME_PICTURE ? cfg.top_field_first : 0, 1);
    write_bits(pic.frame_pred_frame_dct, 1);
    write_bits(0, 1);  // concealment_motion_vectors: never sent
    write_bits(pic.q_scale_type, 1);
    write_bits(pic.intra_vlc_format, 1);
    write_bits(pic.alternate_scan, 1);
    write_bits(cfg.repeat_first_field, 1);
    write_bits(cfg.progressive_frame, 1);  // chroma_420_type
    write_bits(cfg.progressive_frame, 1);
    write_bits(0, 1);
}

void write_sequence_end() { start_code(sequence_end_code); }
