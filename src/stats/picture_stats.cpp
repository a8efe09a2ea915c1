#include "stats/picture_stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "driver/coding_types.h"
#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/text_format.h"
#include "stats/stats_kernels.h"

void plane_error_sums_reference(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double sums[3]) {
    double s1 = 0.0, s2 = 0.0, e2 = 0.0;
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const int v = p[i];
            const int diff = v - q[i];
            s1 += v;
            s2 += v * v;
            e2 += diff * diff;
        }
        p += stride;
        q += stride;
    }
    sums[0] = s1;
    sums[1] = s2;
    sums[2] = e2;
}

constinit stats_kernels stats_k = {plane_error_sums_reference};

void init_stats_kernels(stats_kernels& t, [[maybe_unused]] unsigned flags) {
    t.plane_error_sums = plane_error_sums_reference;
#if defined(__x86_64__)
    if (flags & cpu_sse2) init_stats_kernels_sse2(t);
#endif
}

namespace {

// Variance and mean square error of a plane from its sums.
void error_stats_from_sums(const double sums[3], double count, double* variance, double* mse) {
    double s1 = sums[0], s2 = sums[1], e2 = sums[2];
    s1 /= count;
    s2 /= count;
    e2 /= count;
    // A perfect match would give infinite decibels.
    if (e2 == 0.0) e2 = 0.00001;
    *variance = s2 - s1 * s1;
    *mse = e2;
}

}  // namespace

void plane_error_stats(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double* variance, double* mse) {
    double sums[3];
    stats_k.plane_error_sums(p, q, stride, w, h, sums);
    error_stats_from_sums(sums, static_cast<double>(w) * h, variance, mse);
}

namespace {

void print_error_line(const char* format, double v, double e) {
    std::fprintf(enc.files.statistics_file, format, v, e, 10.0 * std::log10(65025.0 / e), 10.0 * std::log10(v / e));
}

// The samples compute_snr compares in one plane: w x h from offset o.
struct snr_plane {
    int w, h, o, stride, band;  // band: lines per macroblock row
};

void snr_planes(snr_plane planes[3]) {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    int w = cfg.horizontal_size;
    int h = pic.picture_structure == FRAME_PICTURE ? cfg.vertical_size : cfg.vertical_size >> 1;
    int o = pic.picture_structure == BOTTOM_FIELD ? cfg.width : 0;
    planes[0] = {w, h, o, cfg.width2, 16};
    int band = 16;
    if (cfg.chroma_format != CHROMA444) {
        w >>= 1;
        o >>= 1;
        if (cfg.chroma_format == CHROMA420) h >>= 1, band = 8;
    }
    planes[1] = planes[2] = {w, h, o, cfg.chrom_width2, band};
}

}  // namespace

void snr_row_sums(frame_planes org, frame_planes rec, int row, double sums[3][3]) {
    snr_plane planes[3];
    snr_planes(planes);
    for (int c = 0; c < 3; ++c) {
        const snr_plane& p = planes[c];
        const int first = row * p.band, lines = std::min(p.band, p.h - first);
        if (lines <= 0) {
            sums[c][0] = sums[c][1] = sums[c][2] = 0.0;
            continue;
        }
        const std::ptrdiff_t at = p.o + static_cast<std::ptrdiff_t>(first) * p.stride;
        stats_k.plane_error_sums(org[c] + at, rec[c] + at, p.stride, p.w, lines, sums[c]);
    }
}

void print_snr(const double sums[3][3]) {
    static const char* const formats[3] = {"Y: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n",
                                           "U: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n",
                                           "V: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n"};
    snr_plane planes[3];
    snr_planes(planes);
    for (int c = 0; c < 3; ++c) {
        double v, m;
        error_stats_from_sums(sums[c], static_cast<double>(planes[c].w) * planes[c].h, &v, &m);
        print_error_line(formats[c], v, m);
    }
}

void compute_snr(frame_planes org, frame_planes rec) {
    snr_plane planes[3];
    snr_planes(planes);
    double sums[3][3];
    for (int c = 0; c < 3; ++c)
        stats_k.plane_error_sums(org[c] + planes[c].o, rec[c] + planes[c].o, planes[c].stride, planes[c].w,
                                 planes[c].h, sums[c]);
    print_snr(sums);
}

namespace {

bool has_two_vectors(const macroblock_info& mb) {
    return enc.picture.picture_structure == FRAME_PICTURE ? mb.motion_type == MC_FIELD : mb.motion_type == MC_16X8;
}

char type_letter(const macroblock_info& mb) {
    if (mb.skipped) return 'S';
    if (mb.mb_type & MB_INTRA) return 'I';
    const bool forward = mb.mb_type & MB_FORWARD;
    const bool backward = mb.mb_type & MB_BACKWARD;
    if (forward && backward) return mb.motion_type == MC_FIELD ? 'd' : 'D';
    if (forward) return mb.motion_type == MC_FIELD ? 'f' : (mb.motion_type == MC_DMV ? 'p' : 'F');
    if (backward) return mb.motion_type == MC_FIELD ? 'b' : 'B';
    return '0';
}

char coding_letter(const macroblock_info& mb) {
    if (mb.mb_type & MB_QUANT) return 'Q';
    if (mb.mb_type & (MB_INTRA | MB_PATTERN)) return ' ';
    return 'N';
}

// One row of a map, formatted in place and written at once: the maps are
// most of the statistics file, a few fields per macroblock.
struct map_row {
    std::vector<char> buffer;
    char* end;
    // Room for the widest field of any int: 11 characters and two spaces.
    explicit map_row(int columns) : buffer(static_cast<std::size_t>(columns) * 16 + 1), end(buffer.data()) {}
    void text(const char* s) {
        while (*s) *end++ = *s++;
    }
    void write(FILE* f) {
        *end++ = '\n';
        std::fwrite(buffer.data(), 1, static_cast<std::size_t>(end - buffer.data()), f);
        end = buffer.data();
    }
};

// One map of vector component mv[r][s][t], shown where the condition holds.
void print_vector_map(const char* title, int direction_flag, int r, int s, int t) {
    const encoder_config& cfg = enc.config;
    const macroblock_info* mb_info = enc.buffers.mb_info;
    FILE* f = enc.files.statistics_file;
    std::fputs(title, f);
    map_row row(cfg.mb_width);
    int k = 0;
    for (int j = 0; j < cfg.mb_height2; ++j) {
        for (int i = 0; i < cfg.mb_width; ++i, ++k) {
            const macroblock_info& mb = mb_info[k];
            if ((mb.mb_type & direction_flag) && (r == 0 || has_two_vectors(mb)))
                row.end = put_decimal(row.end, mb.mv[r][s][t], 4);
            else
                row.text("   .");
        }
        row.write(f);
    }
}

}  // namespace

void print_picture_statistics() {
    const encoder_config& cfg = enc.config;
    const picture_values& pic = enc.picture;
    const macroblock_info* mb_info = enc.buffers.mb_info;
    FILE* f = enc.files.statistics_file;
    const int n = cfg.mb_width * cfg.mb_height2;
    const unsigned block_mask = (1u << cfg.block_count) - 1;

    int n_skipped = 0, n_intra = 0, n_ncoded = 0, n_blocks = 0, n_interp = 0, n_forward = 0, n_backward = 0;
    for (int k = 0; k < n; ++k) {
        const macroblock_info& mb = mb_info[k];
        if (mb.skipped) {
            ++n_skipped;
        } else if (mb.mb_type & MB_INTRA) {
            ++n_intra;
        } else if (!(mb.mb_type & MB_PATTERN)) {
            ++n_ncoded;
        }
        for (unsigned bits = static_cast<unsigned>(mb.cbp) & block_mask; bits; bits &= bits - 1) ++n_blocks;
        const bool forward = mb.mb_type & MB_FORWARD;
        const bool backward = mb.mb_type & MB_BACKWARD;
        if (forward && backward) ++n_interp;
        else if (forward) ++n_forward;
        else if (backward) ++n_backward;
    }

    std::fprintf(f, "\npicture statistics:\n");
    std::fprintf(f, " # of intra coded macroblocks:  %4d (%.1f%%)\n", n_intra, n_intra * 100.0 / n);
    std::fprintf(f, " # of coded blocks:             %4d (%.1f%%)\n", n_blocks,
                 n_blocks * 100.0 / (n * cfg.block_count));
    std::fprintf(f, " # of not coded macroblocks:    %4d (%.1f%%)\n", n_ncoded, n_ncoded * 100.0 / n);
    std::fprintf(f, " # of skipped macroblocks:      %4d (%.1f%%)\n", n_skipped, n_skipped * 100.0 / n);
    std::fprintf(f, " # of forw. pred. macroblocks:  %4d (%.1f%%)\n", n_forward, n_forward * 100.0 / n);
    std::fprintf(f, " # of backw. pred. macroblocks: %4d (%.1f%%)\n", n_backward, n_backward * 100.0 / n);
    std::fprintf(f, " # of interpolated macroblocks: %4d (%.1f%%)\n", n_interp, n_interp * 100.0 / n);

    std::fprintf(f, "\nmacroblock_type map:\n");
    map_row row(cfg.mb_width);
    int k = 0;
    for (int j = 0; j < cfg.mb_height2; ++j) {
        for (int i = 0; i < cfg.mb_width; ++i, ++k) {
            *row.end++ = type_letter(mb_info[k]);
            *row.end++ = coding_letter(mb_info[k]);
            *row.end++ = ' ';
        }
        row.write(f);
    }

    std::fprintf(f, "\nmquant map:\n");
    k = 0;
    for (int j = 0; j < cfg.mb_height2; ++j) {
        for (int i = 0; i < cfg.mb_width; ++i, ++k) {
            if (i != 0 && mb_info[k].mquant == mb_info[k - 1].mquant)
                row.text("   ");
            else
                row.end = put_decimal(row.end, mb_info[k].mquant, 3);
        }
        row.write(f);
    }

    std::fprintf(f, "\ncbp map:\n");
    k = 0;
    for (int j = 0; j < cfg.mb_height2; ++j) {
        for (int i = 0; i < cfg.mb_width; ++i, ++k) {
            row.end = put_hex(row.end, static_cast<unsigned>(mb_info[k].cbp), 2);
            *row.end++ = ' ';
        }
        row.write(f);
    }

    if (pic.picture_structure == FRAME_PICTURE && !pic.frame_pred_frame_dct) {
        std::fprintf(f, "\ndct_type map:\n");
        k = 0;
        for (int j = 0; j < cfg.mb_height2; ++j) {
            for (int i = 0; i < cfg.mb_width; ++i, ++k) {
                const macroblock_info& mb = mb_info[k];
                if (mb.mb_type & (MB_INTRA | MB_PATTERN)) {
                    row.end = put_decimal(row.end, mb.dct_type);
                    row.text("  ");
                } else {
                    row.text("   ");
                }
            }
            row.write(f);
        }
    }

    if (pic.pict_type != I_TYPE) {
        print_vector_map("\nforward motion vectors (first vector, horizontal):\n", MB_FORWARD, 0, 0, 0);
        print_vector_map("\nforward motion vectors (first vector, vertical):\n", MB_FORWARD, 0, 0, 1);
        print_vector_map("\nforward motion vectors (second vector, horizontal):\n", MB_FORWARD, 1, 0, 0);
        print_vector_map("\nforward motion vectors (second vector, vertical):\n", MB_FORWARD, 1, 0, 1);
    }
    if (pic.pict_type == B_TYPE) {
        print_vector_map("\nbackward motion vectors (first vector, horizontal):\n", MB_BACKWARD, 0, 1, 0);
        print_vector_map("\nbackward motion vectors (first vector, vertical):\n", MB_BACKWARD, 0, 1, 1);
        print_vector_map("\nbackward motion vectors (second vector, horizontal):\n", MB_BACKWARD, 1, 1, 0);
        print_vector_map("\nbackward motion vectors (second vector, vertical):\n", MB_BACKWARD, 1, 1, 1);
    }
}
