// The one process-wide encoder state: configuration, derived sizes,
// per-picture values, buffers and files.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/macroblock_info.h"

// Three plane pointers: Y, Cb, Cr.
using frame_planes = std::array<uint8_t*, 3>;

struct motion_entry {
    int forw_hor_f_code, forw_vert_f_code, forw_hor_search, forw_vert_search;
    int back_hor_f_code, back_vert_f_code, back_hor_search, back_vert_search;
};

struct free_deleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using zeroed_array = std::unique_ptr<T[], free_deleter>;

// Zero-filled allocation of count elements; "malloc failed\n" through the fatal path.
void* zeroed_allocation(std::size_t count, std::size_t size);
template <typename T>
zeroed_array<T> make_zeroed(std::size_t count) {
    return zeroed_array<T>(static_cast<T*>(zeroed_allocation(count, sizeof(T))));
}

struct encoder_state {
    // --- configuration (parameter file) ---
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
    int r = 0, Xi = 0, Xp = 0, Xb = 0, d0i = 0, d0p = 0, d0b = 0;
    double avg_act = 0.0;
    zeroed_array<motion_entry> motion_data;  // M entries

    // --- quantiser matrices (raster order) ---
    uint8_t intra_quantiser_matrix[64] = {};
    uint8_t non_intra_quantiser_matrix[64] = {};
    int load_intra_quantiser_matrix = 0, load_non_intra_quantiser_matrix = 0;

    // --- derived sizes ---
    int mb_width = 0, mb_height = 0, mb_height2 = 0;
    int width = 0, height = 0;
    int chrom_width = 0, chrom_height = 0;
    int height2 = 0, width2 = 0, chrom_width2 = 0;
    int block_count = 0;

    // --- per-picture values ---
    int pict_type = 0;
    int picture_structure = 0;
    int temporal_reference = 0;
    int forw_hor_f_code = 0, forw_vert_f_code = 0, back_hor_f_code = 0, back_vert_f_code = 0;
    int frame_pred_frame_dct = 0, q_scale_type = 0, intra_vlc_format = 0, alternate_scan = 0;
    int vbv_delay = 0;

    // --- buffers ---
    zeroed_array<uint8_t> clip_storage;
    uint8_t* clip_table = nullptr;  // valid for indices -384..639
    zeroed_array<uint8_t> frame_storage[7][3];
    frame_planes new_ref_frame{}, old_ref_frame{}, aux_ref_frame{};
    frame_planes new_org_frame{}, old_org_frame{}, aux_org_frame{};
    frame_planes pred_frame{};
    zeroed_array<macroblock_info> mb_info_storage;
    macroblock_info* mb_info = nullptr;  // mb_width * mb_height2 records
    zeroed_array<int16_t> blocks_storage;
    int16_t* blocks = nullptr;  // block n at blocks + 64 * n

    // --- files ---
    std::string output_file_name;
    FILE* output_file = nullptr;
    FILE* statistics_file = nullptr;

    // --- bit writer ---
    uint8_t out_byte = 0;
    int bits_free = 8;
    int64_t byte_count = 0;
};

extern encoder_state enc;

// Fresh state, as at program start (for tests).
void reset_encoder_state();

inline const char picture_type_letters[] = " IPBD";
constexpr int block_count_table[3] = {6, 8, 12};
