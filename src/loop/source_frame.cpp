#include "loop/source_frame.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/name_pattern.h"
#include "loop/y4m_source.h"

namespace {

file_handle open_source(const std::string& name) {
    file_handle f = file_handle::open(name, "rb");
    if (!f) fatal_error(error_text("Couldn't open %s\n", name.c_str()));
    return f;
}

// Kr, Kg, Kb by matrix_coefficients 1..7.
constexpr double colour_matrix_table[7][3] = {
    {0.2125, 0.7154, 0.0721}, {0.299, 0.587, 0.114}, {0.299, 0.587, 0.114}, {0.3, 0.59, 0.11},
    {0.299, 0.587, 0.114},    {0.299, 0.587, 0.114}, {0.212, 0.701, 0.087},
};

// Unlike the start-up allocations, a failed work plane reports "malloc
// failed" without a line end of its own.
zeroed_array<uint8_t> work_plane(std::size_t size) {
    void* p = std::calloc(size == 0 ? 1 : size, 1);
    if (!p) fatal_error("malloc failed");
    return zeroed_array<uint8_t>(static_cast<uint8_t*>(p));
}

// The planes are kept for the run; a state of another geometry gets fresh ones.
ppm_work_planes& set_up_work_planes(const frame_planes& frame) {
    const encoder_config& cfg = enc.config;
    ppm_work_planes& w = enc.run.ppm;
    if (cfg.chroma_format == CHROMA444) {
        w.full_cb = frame[1];
        w.full_cr = frame[2];
        return w;
    }
    if (w.full_cb_storage && w.width == cfg.width && w.height == cfg.height && w.chroma_format == cfg.chroma_format)
        return w;
    std::size_t full = static_cast<std::size_t>(cfg.width) * cfg.height;
    w.full_cb_storage = work_plane(full);
    w.full_cr_storage = work_plane(full);
    if (cfg.chroma_format == CHROMA420) {
        w.half_cb_storage = work_plane(full / 2);
        w.half_cr_storage = work_plane(full / 2);
    } else {
        w.half_cb_storage.reset();
        w.half_cr_storage.reset();
    }
    w.full_cb = w.full_cb_storage.get();
    w.full_cr = w.full_cr_storage.get();
    w.half_cb = w.half_cb_storage.get();
    w.half_cr = w.half_cr_storage.get();
    w.width = cfg.width;
    w.height = cfg.height;
    w.chroma_format = cfg.chroma_format;
    return w;
}

// Reads the visible rows of one plane; false when the file ends first.
bool read_plane(FILE* f, uint8_t* plane, int columns, int rows, int stride) {
    bool whole = true;
    for (int i = 0; i < rows; ++i) {
        std::size_t want = static_cast<std::size_t>(columns);
        if (std::fread(plane + static_cast<std::size_t>(i) * stride, 1, want, f) != want) whole = false;
    }
    return whole;
}

// One picture, Y then U then V, each plane widened right after its rows.
bool read_planar_picture(FILE* f, const frame_planes& frame) {
    const encoder_config& cfg = enc.config;
    bool whole = read_plane(f, frame[0], cfg.horizontal_size, cfg.vertical_size, cfg.width);
    extend_borders(frame[0], cfg.horizontal_size, cfg.vertical_size, cfg.width, cfg.height);
    for (int k = 1; k < 3; ++k) {
        if (!read_plane(f, frame[k], chroma_columns(), chroma_rows(), cfg.chrom_width)) whole = false;
        extend_borders(frame[k], chroma_columns(), chroma_rows(), cfg.chrom_width, cfg.chrom_height);
    }
    return whole;
}

void read_separate_planes(const std::string& base, const frame_planes& frame) {
    const encoder_config& cfg = enc.config;
    static const char* const suffixes[3] = {".Y", ".U", ".V"};
    for (int k = 0; k < 3; ++k) {
        std::string name = compose_file_name(base, suffixes[k]);
        file_handle f = open_source(name);
        int columns = k == 0 ? cfg.horizontal_size : chroma_columns();
        int rows = k == 0 ? cfg.vertical_size : chroma_rows();
        int stride = k == 0 ? cfg.width : cfg.chrom_width;
        bool whole = read_plane(f.get(), frame[k], columns, rows, stride);
        f.reset();
        if (!whole) fatal_error(error_text("Couldn't read %s (file too short)", name.c_str()));
        extend_borders(frame[k], columns, rows, stride, k == 0 ? cfg.height : cfg.chrom_height);
    }
}

void read_planar_file(const std::string& base, const frame_planes& frame) {
    std::string name = compose_file_name(base, ".yuv");
    file_handle f = open_source(name);
    if (!read_planar_picture(f.get(), frame))
        fatal_error(error_text("Couldn't read %s (file too short)", name.c_str()));
    // The second and third pictures overwrite the first as far as the file reaches.
    read_planar_picture(f.get(), frame);
    read_planar_picture(f.get(), frame);
}

void read_ppm_header(FILE* f, const std::string& name) {
    const encoder_config& cfg = enc.config;
    int m0 = std::getc(f);
    int m1 = std::getc(f);
    if (m0 != 'P' || m1 != '6') fatal_error(error_text("Couldn't read %s (magic number is not P6)", name.c_str()));
    auto ends_early = [&] { fatal_error(error_text("Couldn't read %s (header ends early)", name.c_str())); };
    int ppm_width = header_integer(f);
    if (std::feof(f)) ends_early();
    int ppm_height = header_integer(f);
    if (std::feof(f)) ends_early();
    int max_value = header_integer(f);
    // A maximum of 255 may end the file: the pixel check reports what is missing.
    if (std::feof(f) && max_value != 255) ends_early();
    if (ppm_width != cfg.horizontal_size)
        fatal_error(error_text("Couldn't read %s (width %d, horizontal_size is %d)", name.c_str(), ppm_width,
                               cfg.horizontal_size));
    if (ppm_height != cfg.vertical_size)
        fatal_error(error_text("Couldn't read %s (height %d, vertical_size is %d)", name.c_str(), ppm_height,
                               cfg.vertical_size));
    if (max_value != 255)
        fatal_error(error_text("Couldn't read %s (maximum value %d, not 255)", name.c_str(), max_value));
}

void read_ppm(const std::string& base, const frame_planes& frame) {
    const encoder_config& cfg = enc.config;
    int mc = cfg.matrix_coefficients;
    // Values the checks never admit fall back to the common weights.
    const double* weights = colour_matrix_table[(mc >= 1 && mc <= 7) ? mc - 1 : 1];
    const double kr = weights[0], kg = weights[1], kb = weights[2];
    const double cb_scale = 0.5 / (1 - kb);
    const double cr_scale = 0.5 / (1 - kr);

    const ppm_work_planes& w = set_up_work_planes(frame);

    std::string name = compose_file_name(base, ".ppm");
    file_handle f = open_source(name);
    read_ppm_header(f.get(), name);

    const int columns = cfg.horizontal_size;
    std::vector<uint8_t> row(static_cast<std::size_t>(columns) * 3);
    for (int i = 0; i < cfg.vertical_size; ++i) {
        if (std::fread(row.data(), 1, row.size(), f.get()) != row.size())
            fatal_error(error_text("Couldn't read %s (pixel data ends early)", name.c_str()));
        std::size_t at = static_cast<std::size_t>(i) * cfg.width;
        uint8_t* y_row = frame[0] + at;
        uint8_t* cb_row = w.full_cb + at;
        uint8_t* cr_row = w.full_cr + at;
        for (int j = 0; j < columns; ++j) {
            double r = row[3 * j], g = row[3 * j + 1], b = row[3 * j + 2];
            double y = kr * r + kg * g + kb * b;
            double cb = (b - y) * cb_scale;
            double cr = (r - y) * cr_scale;
            y_row[j] = static_cast<uint8_t>(static_cast<int>(0.85546875 * y + 16.5));
            cb_row[j] = static_cast<uint8_t>(static_cast<int>(0.875 * cb + 128.5));
            cr_row[j] = static_cast<uint8_t>(static_cast<int>(0.875 * cr + 128.5));
        }
    }
    f.reset();

    extend_borders(frame[0], cfg.horizontal_size, cfg.vertical_size, cfg.width, cfg.height);
    extend_borders(w.full_cb, cfg.horizontal_size, cfg.vertical_size, cfg.width, cfg.height);
    extend_borders(w.full_cr, cfg.horizontal_size, cfg.vertical_size, cfg.width, cfg.height);

    if (cfg.chroma_format == CHROMA422) {
        downsample_444_to_422(w.full_cb, frame[1]);
        downsample_444_to_422(w.full_cr, frame[2]);
    } else if (cfg.chroma_format == CHROMA420) {
        downsample_444_to_422(w.full_cb, w.half_cb);
        downsample_444_to_422(w.full_cr, w.half_cr);
        downsample_422_to_420(w.half_cb, frame[1]);
        downsample_422_to_420(w.half_cr, frame[2]);
    }
}

inline int clamp_index(int i, int low, int high) { return i < low ? low : (i > high ? high : i); }

// Weighted sum to a sample: round, divide by 512 toward minus infinity, clip.
inline uint8_t filtered(int sum) { return enc.buffers.clip_table[(sum + 256) >> 9]; }

// The 12-tap half-sample filter centred between positions j and j+1; at(i)
// fetches a clamped sample.
template <typename Fetch>
int half_sample_sum(int j, Fetch at) {
    return 228 * (at(j) + at(j + 1)) + 70 * (at(j - 1) + at(j + 2)) - 37 * (at(j - 2) + at(j + 3)) -
           21 * (at(j - 3) + at(j + 4)) + 11 * (at(j - 4) + at(j + 5)) + 5 * (at(j - 5) + at(j + 6));
}

}  // namespace

int chroma_columns() {
    return enc.config.chroma_format == CHROMA444 ? enc.config.horizontal_size : enc.config.horizontal_size >> 1;
}
int chroma_rows() {
    return enc.config.chroma_format == CHROMA420 ? enc.config.vertical_size >> 1 : enc.config.vertical_size;
}

std::string source_frame_name(int number) {
    const encoder_config& cfg = enc.config;
    const char* longest_suffix = cfg.input_format == 1 ? ".yuv" : cfg.input_format == 2 ? ".ppm" : ".Y";
    std::string name = compose_frame_name(cfg.source_name_pattern, number);
    check_file_name_room(name, cfg.source_name_pattern, longest_suffix);
    return name;
}

void load_source_frame(const char* name, frame_planes frame) {
    switch (enc.config.input_format) {
    case 0: read_separate_planes(name, frame); break;
    case 1: read_planar_file(name, frame); break;
    case 2: read_ppm(name, frame); break;
    default: break;
    }
}

std::string source_picture_name(int display_number) {
    if (source_stream_open()) return stream_frame_name(display_number);
    return source_frame_name(display_number + enc.config.first_frame_number);
}

void load_source_picture(int display_number, const std::string& name, frame_planes frame) {
    if (source_stream_open())
        load_stream_frame(display_number, frame);
    else
        load_source_frame(name.c_str(), frame);
}

void check_picture_patterns() {
    const encoder_config& cfg = enc.config;
    if (cfg.input_format != 0 || cfg.recon_name_pattern != cfg.source_name_pattern) return;
    if (!cfg.recon_name_pattern.empty() && cfg.recon_name_pattern[0] == '-') return;  // no reconstruction files
    fatal_error(error_text("reconstruction file name pattern %s is the source pattern (the source pictures "
                           "would be overwritten)",
                           cfg.recon_name_pattern.c_str()));
}

void extend_borders(uint8_t* plane, int visible_columns, int visible_rows, int stride, int total_rows) {
    // Nothing visible to repeat: leave the plane as it is.
    if (visible_columns <= 0 || visible_rows <= 0) return;
    for (int i = 0; i < visible_rows; ++i) {
        uint8_t* row = plane + static_cast<std::size_t>(i) * stride;
        for (int j = visible_columns; j < stride; ++j) row[j] = row[j - 1];
    }
    for (int i = visible_rows; i < total_rows; ++i) {
        uint8_t* row = plane + static_cast<std::size_t>(i) * stride;
        std::copy(row - stride, row, row);
    }
}

void downsample_444_to_422(const uint8_t* src, uint8_t* dst) {
    const encoder_config& cfg = enc.config;
    const int w = cfg.width, h = cfg.height, last = cfg.width - 1;
    for (int i = 0; i < h; ++i) {
        const uint8_t* s = src + static_cast<std::size_t>(i) * w;
        uint8_t* d = dst + static_cast<std::size_t>(i) * (w / 2);
        auto at = [s, last](int j) { return static_cast<int>(s[clamp_index(j, 0, last)]); };
        for (int j = 0; j <= w - 2; j += 2) {
            int sum;
            if (cfg.mpeg1)
                sum = half_sample_sum(j, at);
            else
                sum = 256 * at(j) + 159 * (at(j - 1) + at(j + 1)) - 52 * (at(j - 3) + at(j + 3)) +
                      22 * (at(j - 5) + at(j + 5));
            d[j / 2] = filtered(sum);
        }
    }
}

void downsample_422_to_420(const uint8_t* src, uint8_t* dst) {
    const encoder_config& cfg = enc.config;
    static const int top_weights[12] = {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2};
    const int w = cfg.width / 2, h = cfg.height;
    for (int col = 0; col < w; ++col) {
        auto row_at = [src, w, col](int r) { return static_cast<int>(src[static_cast<std::size_t>(r) * w + col]); };
        auto out = [dst, w, col](int r) -> uint8_t& { return dst[static_cast<std::size_t>(r) * w + col]; };
        if (cfg.progressive_frame) {
            auto at = [&row_at, h](int r) { return row_at(clamp_index(r, 0, h - 1)); };
            for (int j = 0; j <= h - 2; j += 2) out(j / 2) = filtered(half_sample_sum(j, at));
        } else {
            for (int j = 0; j <= h - 4; j += 4) {
                int top = 0, bottom = 0;
                for (int t = 0; t < 12; ++t) {
                    top += top_weights[t] * row_at(clamp_index(j - 10 + 2 * t, 0, h - 2));
                    bottom += top_weights[11 - t] * row_at(clamp_index(j - 9 + 2 * t, 1, h - 1));
                }
                out(j / 2) = filtered(top);
                out(j / 2 + 1) = filtered(bottom);
            }
        }
    }
}

int header_char(FILE* file) {
    int c = std::getc(file);
    if (c == '#') {
        // A comment running to the end of the file ends there.
        do c = std::getc(file);
        while (c != EOF && c != '\n' && c != '\r');
    }
    if (c == EOF) return -1;
    return static_cast<signed char>(c);
}

int header_integer(FILE* file) {
    int c;
    do c = header_char(file);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r');
    // The first character counts as a digit whatever it is; the value saturates.
    long long value = 0;
    for (;;) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX) value = INT_MAX;
        if (value < INT_MIN) value = INT_MIN;
        c = header_char(file);
        if (c < '0' || c > '9') break;
    }
    return static_cast<int>(value);
}
