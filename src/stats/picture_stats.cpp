#include "stats/picture_stats.h"

#include <cmath>
#include <cstdio>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

void plane_error_stats(const uint8_t* p, const uint8_t* q, int stride, int w, int h, double* variance, double* mse) {
    double s1 = 0.0, s2 = 0.0, e2 = 0.0;
#if defined(__x86_64__) && !defined(MORVANE_REFERENCE_KERNELS)
    // Each term is a whole number no larger than 255^2. While w x h x 255^2
    // stays below 2^53, every partial sum of the sample-by-sample double
    // additions is a whole number that a double holds exactly, so each of
    // those additions is exact and the three sums equal the exact integer
    // sums in any order; those are formed here in integers, sixteen samples
    // at a time, and converted once.
    if (w > 0 && h > 0 && static_cast<double>(w) * h * 65025.0 < 9007199254740992.0) {
        const __m128i zero = _mm_setzero_si128();
        __m128i sum64 = zero, squares64 = zero, errors64 = zero;
        uint64_t tail1 = 0, tail2 = 0, tail3 = 0;
        // Widens four non-negative 32-bit lanes into two 64-bit lanes.
        auto widen_add = [&](__m128i acc, __m128i v) {
            return _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(v, zero), _mm_unpackhi_epi32(v, zero)));
        };
        for (int j = 0; j < h; ++j) {
            int i = 0;
            while (i + 16 <= w) {
                // A 32-bit lane gains at most 2 x 2 x 255^2 per step.
                __m128i squares = zero, errors = zero;
                for (int steps = 0; steps < 4096 && i + 16 <= w; ++steps, i += 16) {
                    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
                    sum64 = _mm_add_epi64(sum64, _mm_sad_epu8(a, zero));
                    const __m128i a_lo = _mm_unpacklo_epi8(a, zero), a_hi = _mm_unpackhi_epi8(a, zero);
                    const __m128i d_lo = _mm_sub_epi16(a_lo, _mm_unpacklo_epi8(b, zero));
                    const __m128i d_hi = _mm_sub_epi16(a_hi, _mm_unpackhi_epi8(b, zero));
                    squares = _mm_add_epi32(squares, _mm_madd_epi16(a_lo, a_lo));
                    squares = _mm_add_epi32(squares, _mm_madd_epi16(a_hi, a_hi));
                    errors = _mm_add_epi32(errors, _mm_madd_epi16(d_lo, d_lo));
                    errors = _mm_add_epi32(errors, _mm_madd_epi16(d_hi, d_hi));
                }
                squares64 = widen_add(squares64, squares);
                errors64 = widen_add(errors64, errors);
            }
            for (; i < w; ++i) {
                const int v = p[i];
                const int diff = v - q[i];
                tail1 += static_cast<uint64_t>(v);
                tail2 += static_cast<uint64_t>(v * v);
                tail3 += static_cast<uint64_t>(diff * diff);
            }
            p += stride;
            q += stride;
        }
        auto total = [](__m128i v, uint64_t extra) {
            alignas(16) uint64_t lanes[2];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
            return static_cast<double>(lanes[0] + lanes[1] + extra);
        };
        s1 = total(sum64, tail1);
        s2 = total(squares64, tail2);
        e2 = total(errors64, tail3);
    } else
#endif
    {
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
    }
    const double count = static_cast<double>(w) * h;
    s1 /= count;
    s2 /= count;
    e2 /= count;
    // A perfect match would give infinite decibels.
    if (e2 == 0.0) e2 = 0.00001;
    *variance = s2 - s1 * s1;
    *mse = e2;
}

namespace {

void print_error_line(const char* format, double v, double e) {
    std::fprintf(enc.files.statistics_file, format, v, e, 10.0 * std::log10(65025.0 / e), 10.0 * std::log10(v / e));
}

}  // namespace

void compute_snr(frame_planes org, frame_planes rec) {
    const encoder_state& e = enc;
    int w = e.config.horizontal_size;
    int h = e.picture.picture_structure == 3 ? e.config.vertical_size : e.config.vertical_size >> 1;
    int o = e.picture.picture_structure == 2 ? e.config.width : 0;
    double v, m;

    plane_error_stats(org[0] + o, rec[0] + o, e.config.width2, w, h, &v, &m);
    print_error_line("Y: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n", v, m);

    if (e.config.chroma_format != 3) {
        w >>= 1;
        o >>= 1;
        if (e.config.chroma_format == 1) h >>= 1;
    }
    plane_error_stats(org[1] + o, rec[1] + o, e.config.chrom_width2, w, h, &v, &m);
    print_error_line("U: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n", v, m);
    plane_error_stats(org[2] + o, rec[2] + o, e.config.chrom_width2, w, h, &v, &m);
    print_error_line("V: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n", v, m);
}

namespace {

bool has_two_vectors(const macroblock_info& mb) {
    return enc.picture.picture_structure == 3 ? mb.motion_type == MC_FIELD : mb.motion_type == MC_16X8;
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

// One map of vector component mv[r][s][t], shown where the condition holds.
void print_vector_map(const char* title, int direction_flag, int r, int s, int t) {
    const encoder_state& e = enc;
    FILE* f = e.files.statistics_file;
    std::fputs(title, f);
    int k = 0;
    for (int j = 0; j < e.config.mb_height2; ++j) {
        for (int i = 0; i < e.config.mb_width; ++i, ++k) {
            const macroblock_info& mb = e.buffers.mb_info[k];
            if ((mb.mb_type & direction_flag) && (r == 0 || has_two_vectors(mb)))
                std::fprintf(f, "%4d", mb.mv[r][s][t]);
            else
                std::fputs("   .", f);
        }
        std::fputc('\n', f);
    }
}

}  // namespace

void print_picture_statistics() {
    const encoder_state& e = enc;
    FILE* f = e.files.statistics_file;
    const int n = e.config.mb_width * e.config.mb_height2;
    const unsigned block_mask = (1u << e.config.block_count) - 1;

    int n_skipped = 0, n_intra = 0, n_ncoded = 0, n_blocks = 0, n_interp = 0, n_forward = 0, n_backward = 0;
    for (int k = 0; k < n; ++k) {
        const macroblock_info& mb = e.buffers.mb_info[k];
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
                 n_blocks * 100.0 / (n * e.config.block_count));
    std::fprintf(f, " # of not coded macroblocks:    %4d (%.1f%%)\n", n_ncoded, n_ncoded * 100.0 / n);
    std::fprintf(f, " # of skipped macroblocks:      %4d (%.1f%%)\n", n_skipped, n_skipped * 100.0 / n);
    std::fprintf(f, " # of forw. pred. macroblocks:  %4d (%.1f%%)\n", n_forward, n_forward * 100.0 / n);
    std::fprintf(f, " # of backw. pred. macroblocks: %4d (%.1f%%)\n", n_backward, n_backward * 100.0 / n);
    std::fprintf(f, " # of interpolated macroblocks: %4d (%.1f%%)\n", n_interp, n_interp * 100.0 / n);

    std::fprintf(f, "\nmacroblock_type map:\n");
    int k = 0;
    for (int j = 0; j < e.config.mb_height2; ++j) {
        for (int i = 0; i < e.config.mb_width; ++i, ++k)
            std::fprintf(f, "%c%c ", type_letter(e.buffers.mb_info[k]), coding_letter(e.buffers.mb_info[k]));
        std::fputc('\n', f);
    }

    std::fprintf(f, "\nmquant map:\n");
    k = 0;
    for (int j = 0; j < e.config.mb_height2; ++j) {
        for (int i = 0; i < e.config.mb_width; ++i, ++k) {
            if (i != 0 && e.buffers.mb_info[k].mquant == e.buffers.mb_info[k - 1].mquant)
                std::fputs("   ", f);
            else
                std::fprintf(f, "%3d", e.buffers.mb_info[k].mquant);
        }
        std::fputc('\n', f);
    }

    std::fprintf(f, "\ncbp map:\n");
    k = 0;
    for (int j = 0; j < e.config.mb_height2; ++j) {
        for (int i = 0; i < e.config.mb_width; ++i, ++k) std::fprintf(f, "%02x ", e.buffers.mb_info[k].cbp);
        std::fputc('\n', f);
    }

    if (e.picture.picture_structure == 3 && !e.picture.frame_pred_frame_dct) {
        std::fprintf(f, "\ndct_type map:\n");
        k = 0;
        for (int j = 0; j < e.config.mb_height2; ++j) {
            for (int i = 0; i < e.config.mb_width; ++i, ++k) {
                const macroblock_info& mb = e.buffers.mb_info[k];
                if (mb.mb_type & (MB_INTRA | MB_PATTERN))
                    std::fprintf(f, "%d  ", mb.dct_type);
                else
                    std::fputs("   ", f);
            }
            std::fputc('\n', f);
        }
    }

    if (e.picture.pict_type != 1) {
        print_vector_map("\nforward motion vectors (first vector, horizontal):\n", MB_FORWARD, 0, 0, 0);
        print_vector_map("\nforward motion vectors (first vector, vertical):\n", MB_FORWARD, 0, 0, 1);
        print_vector_map("\nforward motion vectors (second vector, horizontal):\n", MB_FORWARD, 1, 0, 0);
        print_vector_map("\nforward motion vectors (second vector, vertical):\n", MB_FORWARD, 1, 0, 1);
    }
    if (e.picture.pict_type == 3) {
        print_vector_map("\nbackward motion vectors (first vector, horizontal):\n", MB_BACKWARD, 0, 1, 0);
        print_vector_map("\nbackward motion vectors (first vector, vertical):\n", MB_BACKWARD, 0, 1, 1);
        print_vector_map("\nbackward motion vectors (second vector, horizontal):\n", MB_BACKWARD, 1, 1, 0);
        print_vector_map("\nbackward motion vectors (second vector, vertical):\n", MB_BACKWARD, 1, 1, 1);
    }
}
