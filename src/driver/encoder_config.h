// What the parameter file and the matrix files say, and the sizes derived
// from them: written during start-up, read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "driver/allocation.h"

struct motion_entry {
    int forw_hor_f_code, forw_vert_f_code, forw_hor_search, forw_vert_search;
    int back_hor_f_code, back_vert_f_code, back_hor_search, back_vert_search;
};

struct picture_sizes {
    int mb_width = 0, mb_height = 0, mb_height2 = 0;
    int width = 0, height = 0;
    int chrom_width = 0, chrom_height = 0;
    int height2 = 0, width2 = 0, chrom_width2 = 0;
    int block_count = 0;
};

// Padded sizes, line strides of the picture being coded and blocks per
// macroblock, from the sequence's size and format alone.
picture_sizes derive_sizes(int horizontal_size, int vertical_size, int progressive_sequence, int field_pictures,
                           int chroma_format);

constexpr int block_count_table[3] = {6, 8, 12};

// The derived sizes sit in the base so that stages read cfg.width like any
// other value; only derive_sizes() fills them.
struct encoder_config : picture_sizes {
    std::string id_string;
    std::string source_name_pattern, recon_name_pattern;
    std::string intra_matrix_file, non_intra_matrix_file;
    std::string statistics_file_name;
    int input_format = 0;
    int frame_count = 0;
    int first_frame_number = 0;
    int time_code_h = 0, time_code_m = 0, time_code_s = 0, time_code_f = 0;
    int time_code_frames = 0;
    int N = 0, M = 0;
    int mpeg1 = 0;
    int field_pictures = 0;
    int horizontal_size = 0, vertical_size = 0;
    int aspect_ratio_information = 0, frame_rate_code = 0;
    double frame_rate = 0.0;
    double bit_rate = 0.0;
    int vbv_buffer_size = 0;
    int low_delay = 0;
    int constrained_parameters_flag = 0;
    int profile = 0, level = 0;
    int progressive_sequence = 0;
    int chroma_format = 0;
    int video_format = 0, color_primaries = 0, transfer_characteristics = 0, matrix_coefficients = 0;
    int display_horizontal_size = 0, display_vertical_size = 0;
    int intra_dc_precision = 0;
    int top_field_first = 0;
    int frame_pred_frame_dct_tab[3] = {}, concealment_motion_vectors_tab[3] = {};
    int q_scale_type_tab[3] = {}, intra_vlc_format_tab[3] = {}, alternate_scan_tab[3] = {};
    int repeat_first_field = 0, progressive_frame = 0;
    // Rate-control start values as read; 0 asks for a default. Rate control
    // runs on its own copies.
    int r = 0, Xi = 0, Xp = 0, Xb = 0, d0i = 0, d0p = 0, d0b = 0;
    double avg_act = 0.0;
    zeroed_array<motion_entry> motion_data;  // M entries

    // Quantiser matrices, raster order.
    uint8_t intra_quantiser_matrix[64] = {};
    uint8_t non_intra_quantiser_matrix[64] = {};
    int load_intra_quantiser_matrix = 0, load_non_intra_quantiser_matrix = 0;
};
