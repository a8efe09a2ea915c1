// A complete stream, composed by hand with the project's own writers, whose
// pictures use every code word of every table; real decoders must read it
// without complaint and reconstruct the pictures it was meant to carry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bitstream/bit_writer.h"
#include "bitstream/headers.h"
#include "bitstream/picture_data.h"
#include "bitstream/vlc.h"
#include "driver/encoder_state.h"
#include "ratecontrol/vbv.h"
#include "test_support.h"

using namespace morvane_test;

namespace {

constexpr int mbw = 48, mbh = 20;
constexpr int W = 16 * mbw, H = 16 * mbh;
constexpr int flat = 128;

struct picture {
    std::vector<uint8_t> plane[3];
    picture() {
        plane[0].assign(W * H, flat);
        plane[1].assign(W * H / 4, flat);
        plane[2].assign(W * H / 4, flat);
    }
};

int wrap(int v, int f_code) {
    int range = 32 << (f_code - 1);
    int low = -(16 << (f_code - 1));
    while (v < low) v += range;
    while (v >= low + range) v -= range;
    return v;
}

// Reconstructs one block into the expected picture: inverse quantisation with
// mismatch control, a double-precision inverse DCT, then prediction and clipping.
void reconstruct(picture& pic, int k, int mbx, int mby, const int16_t* levels, bool intra, int precision, int q) {
    int F[64];
    int sum = 0;
    for (int i = 0; i < 64; ++i) {
        int v;
        int L = levels[i];
        if (intra && i == 0)
            v = L << (3 - precision);
        else if (intra)
            v = L * 16 * q * 2 / 32;
        else
            v = L == 0 ? 0 : (2 * L + (L > 0 ? 1 : -1)) * 16 * q / 32;
        v = std::max(-2048, std::min(2047, v));
        F[i] = v;
        sum += v;
    }
    if ((sum & 1) == 0) F[63] ^= 1;

    int cc = k < 4 ? 0 : k - 3;
    int stride = cc ? W / 2 : W;
    int x0 = cc ? 8 * mbx : 16 * mbx + 8 * (k & 1);
    int y0 = cc ? 8 * mby : 16 * mby + 8 * (k >> 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0.0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
                    s += cu * cv / 4.0 * F[8 * v + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                         std::cos((2 * y + 1) * v * M_PI / 16);
                }
            int r = static_cast<int>(std::floor(s + 0.5));
            r = std::max(-256, std::min(255, r));
            int p = (intra ? 0 : flat) + r;
            pic.plane[cc][(y0 + y) * stride + x0 + x] = static_cast<uint8_t>(std::max(0, std::min(255, p)));
        }
}

// Walks every dct_dc_size of one colour component, keeping the level legal.
struct dc_walker {
    int precision, level, size = 0, turn = 0;
    explicit dc_walker(int p) : precision(p), level(1 << (7 + p)) {}
    int next() {
        int max_size = 8 + precision;
        int s = size;
        size = size == max_size ? 0 : size + 1;
        if (s == 0) return level;
        if (size == 0) ++turn;
        int magnitude = (turn & 1) ? (1 << s) - 1 : 1 << (s - 1);
        int top = (1 << (8 + precision)) - 1;
        if (level + magnitude <= top)
            level += magnitude;
        else
            level -= magnitude;
        return level;
    }
};

struct run_level {
    int run, level;
};

// Every pair a coefficient table holds, both signs, then pairs that are escaped.
std::vector<run_level> table_pairs(const dct_coefficients_table& t) {
    std::vector<run_level> out;
    for (int r = 0; r < 2; ++r)
        for (int l = 0; l < 40; ++l)
            if (t.a[r][l].length) out.push_back({r, l + 1}), out.push_back({r, -(l + 1)});
    for (int r = 0; r < 30; ++r)
        for (int l = 0; l < 5; ++l)
            if (t.b[r][l].length) out.push_back({r + 2, l + 1}), out.push_back({r + 2, -(l + 1)});
    const run_level escaped[] = {{2, 6}, {0, 41}, {32, 1}, {31, 2}, {1, -19}, {0, -60}, {5, 33}, {62, 1}};
    for (const run_level& p : escaped) out.push_back(p);
    return out;
}

// What the composed pictures used, to show the walk is complete.
struct coverage {
    std::set<int> types[3], cbp, increments, motion_codes;
};
coverage used;

int motion_code_of(int delta, int f_code) {
    int f = 1 << (f_code - 1);
    int temp = std::abs(delta) + f - 1;
    return delta < 0 ? -(temp >> (f_code - 1)) : temp >> (f_code - 1);
}

class composer {
public:
    int pict_type = 1, precision = 0, q = 16, f_code = 1;
    picture pic;
    int PMV[2][2][2] = {};
    std::vector<run_level> pending;  // pairs still to place in intra blocks
    std::size_t non_intra_turn = 0;
    std::vector<run_level> non_intra_pairs;
    int deltas_used = 0;
    dc_walker* dc[3] = {};

    void start_slice(int row) {
        align_to_byte();
        write_bits(0x101 + row, 32);
        write_bits(q / 2, 5);
        write_bits(0, 1);
        enc.run.dc_dct_pred[0] = enc.run.dc_dct_pred[1] = enc.run.dc_dct_pred[2] = 0;
        std::memset(PMV, 0, sizeof PMV);
    }

    void skipped(int count) {
        enc.run.dc_dct_pred[0] = enc.run.dc_dct_pred[1] = enc.run.dc_dct_pred[2] = 0;
        if (pict_type == 2 && count) std::memset(PMV, 0, sizeof PMV);
    }

    // Sends one macroblock; vectors are differences to the predictors (wrapped).
    void macroblock(int col, int row, int increment, int type, int new_q, const int delta[2][2], int cbp) {
        bool intra = type & MB_INTRA;
        used.types[pict_type - 1].insert(type);
        used.increments.insert(increment);
        write_address_increment(increment);
        write_macroblock_type(pict_type, type);
        if (type & MB_QUANT) {
            q = new_q;
            write_bits(q / 2, 5);
        }
        bool interior = col > 0 && col < mbw - 1 && row > 0 && row < mbh - 1;
        int mv[2][2][2] = {};
        int sel[2][2] = {}, dmv[2] = {};
        for (int s = 0; s < 2; ++s) {
            if (!(type & (s ? MB_BACKWARD : MB_FORWARD))) continue;
            for (int t = 0; t < 2; ++t) {
                mv[0][s][t] = interior ? wrap(PMV[0][s][t] + delta[s][t], f_code) : 0;
                used.motion_codes.insert(motion_code_of(wrap(mv[0][s][t] - PMV[0][s][t], f_code), f_code));
            }
            if (interior) ++deltas_used;  // one per direction sent
            write_motion_vectors(mv, PMV, sel, dmv, s, MC_FRAME, f_code, f_code);
        }
        if (intra) cbp = 63;
        if (!(type & (MB_PATTERN | MB_INTRA))) cbp = 0;
        if (type & MB_PATTERN) {
            used.cbp.insert(cbp);
            write_coded_block_pattern(cbp);
        }
        for (int b = 0; b < 6; ++b) {
            if (!(cbp & (32 >> b))) continue;
            int16_t levels[64] = {};
            if (intra) {
                int cc = b < 4 ? 0 : b - 3;
                levels[0] = static_cast<int16_t>(dc[cc]->next());
                fill_intra(levels);
                int16_t block[64];
                std::memcpy(block, levels, sizeof block);
                block[0] = static_cast<int16_t>(levels[0] - (1 << (7 + precision)));
                write_intra_block(block, cc);
            } else {
                fill_non_intra(levels);
                write_non_intra_block(levels);
            }
            reconstruct(pic, b, col, row, levels, intra, precision, q);
        }
        if (!intra) enc.run.dc_dct_pred[0] = enc.run.dc_dct_pred[1] = enc.run.dc_dct_pred[2] = 0;
        if (intra || (pict_type == 2 && !(type & MB_FORWARD))) std::memset(PMV, 0, sizeof PMV);
    }

private:
    void fill_intra(int16_t* levels) {
        int pos = 1;
        while (!pending.empty() && pos + pending.front().run <= 63) {
            pos += pending.front().run;
            levels[scan_table[enc.picture.alternate_scan][pos]] = static_cast<int16_t>(pending.front().level);
            ++pos;
            pending.erase(pending.begin());
        }
    }

    void fill_non_intra(int16_t* levels) {
        const unsigned char* scan = scan_table[enc.picture.alternate_scan];
        int turn = static_cast<int>(non_intra_turn++);
        levels[scan[0]] = static_cast<int16_t>(turn & 1 ? -1 : 1);  // the short first-coefficient code
        const run_level& p = non_intra_pairs[turn % non_intra_pairs.size()];
        if (1 + p.run <= 63) levels[scan[1 + p.run]] = static_cast<int16_t>(p.level);
    }
};

void set_picture(int type, int tr, int precision, int vlc_format, int alternate, int f_code) {
    enc.picture.pict_type = type;
    enc.picture.temporal_reference = tr;
    enc.config.intra_dc_precision = precision;
    enc.picture.intra_vlc_format = vlc_format;
    enc.picture.alternate_scan = alternate;
    enc.picture.forw_hor_f_code = enc.picture.forw_vert_f_code = type == 1 ? 15 : f_code;
    enc.picture.back_hor_f_code = enc.picture.back_vert_f_code = type == 3 ? f_code : 15;
    write_picture_header();
    write_picture_coding_extension();
}

// A flat grey I picture: every DC differential 0.
void write_flat_picture(int tr) {
    set_picture(1, tr, 0, 0, 0, 1);
    composer c;
    dc_walker stay(0);
    for (int row = 0; row < mbh; ++row) {
        c.start_slice(row);
        for (int col = 0; col < mbw; ++col) {
            write_address_increment(1);
            write_macroblock_type(1, MB_INTRA);
            int16_t block[64] = {};
            for (int b = 0; b < 6; ++b) write_intra_block(block, b < 4 ? 0 : b - 3);
        }
    }
}

// An I picture walking a coefficient table and every DC size.
picture write_walk_picture(int tr, int precision, int vlc_format, int alternate) {
    set_picture(1, tr, precision, vlc_format, alternate, 1);
    composer c;
    c.precision = precision;
    c.pending = table_pairs(vlc_format ? dct_coefficients_table_one : dct_coefficients_table_zero);
    dc_walker walkers[3] = {dc_walker(precision), dc_walker(precision), dc_walker(precision)};
    for (int i = 0; i < 3; ++i) c.dc[i] = &walkers[i];
    const int no_motion[2][2] = {};
    for (int row = 0; row < mbh; ++row) {
        c.q = 16;
        c.start_slice(row);
        for (int col = 0; col < mbw; ++col) {
            bool quant = col % 3 == 1;
            c.macroblock(col, row, 1, quant ? MB_INTRA | MB_QUANT : MB_INTRA, c.q == 16 ? 8 : 16, no_motion, 63);
        }
    }
    EXPECT_TRUE(c.pending.empty()) << "table pairs left unplaced";
    return c.pic;
}

struct mb_plan {
    int increment, type;
};

// A predicted picture from flat references: every macroblock type of the
// picture type, every coded block pattern, motion differences over the whole
// f_code range, and (in P pictures) every address increment.
picture write_predicted_picture(int type, int tr, int f_code, std::vector<std::vector<mb_plan>> rows) {
    set_picture(type, tr, 0, 0, 0, f_code);
    composer c;
    c.pict_type = type;
    c.f_code = f_code;
    c.non_intra_pairs = table_pairs(dct_coefficients_table_zero);
    c.non_intra_pairs.resize(c.non_intra_pairs.size() - 3);  // keep the non-intra residual moderate
    dc_walker walkers[3] = {dc_walker(0), dc_walker(0), dc_walker(0)};
    for (int i = 0; i < 3; ++i) c.dc[i] = &walkers[i];
    int span = 32 << (f_code - 1);
    int low = -(16 << (f_code - 1));
    int dh = 0, cbp = 0;
    for (int row = 0; row < mbh; ++row) {
        c.q = 16;
        c.start_slice(row);
        int col = -1;
        for (const mb_plan& m : rows[row]) {
            c.skipped(m.increment - 1);
            col += m.increment;
            // Differences step through the whole range, one step per vector sent.
            int delta[2][2];
            for (int s = 0; s < 2; ++s) {
                delta[s][0] = low + (dh + s) % span;
                delta[s][1] = low + (7 * (dh + s)) % span;
            }
            int this_cbp = 1 + (cbp++ % 63);
            int before = c.deltas_used;
            c.macroblock(col, row, m.increment, m.type, c.q == 16 ? 8 : 16, delta, this_cbp);
            dh += c.deltas_used - before;
        }
        EXPECT_EQ(col, mbw - 1) << "row " << row;
    }
    return c.pic;
}

std::vector<std::vector<mb_plan>> p_rows() {
    const int types[] = {10, 2, 8, 1, 26, 18, 17};
    const std::vector<std::vector<int>> increments = {
        {33, 14}, {32, 15}, {31, 16}, {30, 17}, {29, 18}, {28, 19}, {27, 20}, {26, 21}, {25, 22}, {24, 23},
        {13, 12, 11, 10, 1}, {9, 8, 7, 6, 5, 4, 3, 2, 3}, {47},
    };
    std::vector<std::vector<mb_plan>> rows;
    int t = 0;
    for (const auto& list : increments) {
        std::vector<mb_plan> row = {{1, types[t++ % 7]}};
        for (int n : list) row.push_back({n, types[t++ % 7]});
        rows.push_back(row);
    }
    while (rows.size() < mbh) {
        std::vector<mb_plan> row;
        for (int i = 0; i < mbw; ++i) row.push_back({1, types[t++ % 7]});
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::vector<mb_plan>> b_rows() {
    const int types[] = {12, 14, 4, 6, 8, 10, 1, 30, 26, 22, 17};
    std::vector<std::vector<mb_plan>> rows;
    int t = 0;
    for (int r = 0; r < mbh; ++r) {
        std::vector<mb_plan> row;
        for (int i = 0; i < mbw; ++i) row.push_back({1, types[t++ % 11]});
        rows.push_back(row);
    }
    return rows;
}

struct walk_stream {
    std::vector<picture> display;  // expected pictures in display order
};

walk_stream write_walk_stream(const std::string& path) {
    reset_encoder_state();
    enc.files.output_file = std::fopen(path.c_str(), "wb");
    enc.files.statistics_file = std::tmpfile();
    init_bit_writer();
    enc.config.horizontal_size = W;
    enc.config.vertical_size = H;
    enc.config.aspect_ratio_information = 1;
    enc.config.frame_rate_code = 3;
    enc.config.frame_rate = 25.0;
    enc.config.bit_rate = 50e6;
    enc.config.vbv_buffer_size = 1000;
    enc.config.load_intra_quantiser_matrix = 1;
    for (int i = 0; i < 64; ++i) enc.config.intra_quantiser_matrix[i] = enc.config.non_intra_quantiser_matrix[i] = 16;
    enc.config.profile = 4;
    enc.config.level = 6;
    enc.config.progressive_sequence = 1;
    enc.config.chroma_format = 1;
    enc.picture.picture_structure = 3;
    enc.picture.frame_pred_frame_dct = 1;
    enc.config.progressive_frame = 1;
    enc.config.video_format = 5;
    enc.config.color_primaries = enc.config.transfer_characteristics = enc.config.matrix_coefficients = 1;
    enc.config.display_horizontal_size = W;
    enc.config.display_vertical_size = H;

    walk_stream out;
    used = coverage{};
    write_sequence_header();
    write_sequence_extension();
    write_sequence_display_extension();

    // I (flat), P from it.
    write_gop_header(0, 1);
    write_flat_picture(0);
    out.display.push_back(picture());
    out.display.push_back(write_predicted_picture(2, 1, 2, p_rows()));
    // Intra pictures walking table zero (zigzag) and table one (alternate scan, 11-bit DC).
    write_gop_header(2, 1);
    out.display.push_back(write_walk_picture(0, 0, 0, 0));
    write_gop_header(3, 1);
    out.display.push_back(write_walk_picture(0, 3, 1, 1));
    // Two flat references, then a B picture between them.
    write_gop_header(4, 1);
    write_flat_picture(0);
    write_flat_picture(2);
    out.display.push_back(picture());
    out.display.push_back(write_predicted_picture(3, 1, 1, b_rows()));
    out.display.push_back(picture());
    write_sequence_end();
    std::fclose(enc.files.output_file);
    enc.files.output_file = nullptr;
    std::fclose(enc.files.statistics_file);
    enc.files.statistics_file = nullptr;
    return out;
}

// Largest difference between a decoded frame and the expected one, and how
// many samples differ by more than the inverse-DCT tolerance.
void compare(const std::string& decoded, const walk_stream& s, const char* decoder) {
    const std::size_t frame_size = W * H * 3 / 2;
    ASSERT_EQ(decoded.size(), frame_size * s.display.size()) << decoder << ": frame count";
    for (std::size_t f = 0; f < s.display.size(); ++f) {
        std::size_t at = f * frame_size;
        int worst = 0, bad = 0;
        for (int c = 0; c < 3; ++c)
            for (uint8_t want : s.display[f].plane[c]) {
                int d = std::abs(static_cast<uint8_t>(decoded[at++]) - want);
                worst = std::max(worst, d);
                if (d > 2) ++bad;
            }
        EXPECT_EQ(bad, 0) << decoder << ": frame " << f << ", largest difference " << worst;
    }
}

TEST(table_walk, stream_uses_every_code_word) {
    temp_dir dir;
    write_walk_stream(dir / "walk.m2v");
    EXPECT_EQ(used.types[0], (std::set<int>{1, 17}));
    EXPECT_EQ(used.types[1], (std::set<int>{1, 2, 8, 10, 17, 18, 26}));
    EXPECT_EQ(used.types[2], (std::set<int>{1, 4, 6, 8, 10, 12, 14, 17, 22, 26, 30}));
    EXPECT_EQ(used.cbp.size(), 63u) << "1..63; 0 needs the extended chroma formats";
    for (int n = 1; n <= 33; ++n) EXPECT_TRUE(used.increments.count(n)) << "increment " << n;
    EXPECT_TRUE(used.increments.count(47)) << "escape";
    for (int m = -16; m <= 16; ++m) EXPECT_TRUE(used.motion_codes.count(m)) << "motion code " << m;
}

TEST(table_walk_e2e, ffmpeg_decodes_every_code_word) {
    temp_dir dir;
    walk_stream s = write_walk_stream(dir / "walk.m2v");
    ASSERT_TRUE(file_exists("/usr/bin/ffmpeg")) << "decoder /usr/bin/ffmpeg is not installed";
    run_result r = run_program({"/usr/bin/ffmpeg", "-v", "error", "-err_detect", "explode", "-i", "walk.m2v",
                                "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-y", "out.yuv"},
                               dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    compare(read_file(dir / "out.yuv"), s, "ffmpeg");
}

TEST(table_walk_e2e, libmpeg2_decodes_every_code_word) {
    temp_dir dir;
    walk_stream s = write_walk_stream(dir / "walk.m2v");
    ASSERT_TRUE(file_exists("/usr/bin/mpeg2dec")) << "decoder /usr/bin/mpeg2dec is not installed";
    // The C inverse DCT: the accelerated one saturates its own way on the large
    // coefficients of the table walk.
    run_result r = run_program({"/usr/bin/mpeg2dec", "-c", "-o", "pgmpipe", "walk.m2v"}, dir.path());
    EXPECT_EQ(r.status, 0);
    // Each frame is a PGM of the luminance above the two chrominance planes side by side.
    std::string frames;
    std::size_t at = 0;
    const std::string header = "P5\n" + std::to_string(W) + " " + std::to_string(H * 3 / 2) + "\n255\n";
    while (at < r.out.size()) {
        ASSERT_EQ(r.out.compare(at, header.size(), header), 0) << "unexpected PGM header at " << at;
        at += header.size();
        std::string y = r.out.substr(at, W * H), u, v;
        for (int row = 0; row < H / 2; ++row) {
            u += r.out.substr(at + W * H + row * W, W / 2);
            v += r.out.substr(at + W * H + row * W + W / 2, W / 2);
        }
        frames += y + u + v;
        at += W * H * 3 / 2;
    }
    compare(frames, s, "mpeg2dec");
}

// The coded_block_pattern code for 0 is only legal with 4:2:2 or 4:4:4,
// where the chrominance bits that follow carry the coded blocks.
TEST(table_walk_e2e, ffmpeg_decodes_pattern_zero_in_4_2_2) {
    temp_dir dir;
    reset_encoder_state();
    enc.files.output_file = std::fopen((dir / "p422.m2v").c_str(), "wb");
    enc.files.statistics_file = std::tmpfile();
    init_bit_writer();
    const int w = 32, h = 16;
    enc.config.horizontal_size = enc.config.display_horizontal_size = w;
    enc.config.vertical_size = enc.config.display_vertical_size = h;
    enc.config.aspect_ratio_information = 1;
    enc.config.frame_rate_code = 3;
    enc.config.frame_rate = 25.0;
    enc.config.bit_rate = 1e6;
    enc.config.vbv_buffer_size = 100;
    enc.config.profile = 8;  // 4:2:2 profile, main level
    enc.config.level = 5;
    enc.config.progressive_sequence = enc.config.progressive_frame = 1;
    enc.config.chroma_format = 2;
    enc.picture.picture_structure = 3;
    enc.picture.frame_pred_frame_dct = 1;
    for (int i = 0; i < 64; ++i) enc.config.intra_quantiser_matrix[i] = enc.config.non_intra_quantiser_matrix[i] = 16;
    write_sequence_header();
    write_sequence_extension();
    write_gop_header(0, 1);

    set_picture(1, 0, 0, 0, 0, 1);
    align_to_byte();
    write_bits(0x101, 32);
    write_bits(8, 5);
    write_bits(0, 1);
    enc.run.dc_dct_pred[0] = enc.run.dc_dct_pred[1] = enc.run.dc_dct_pred[2] = 0;
    for (int col = 0; col < 2; ++col) {
        write_address_increment(1);
        write_macroblock_type(1, MB_INTRA);
        int16_t block[64] = {};
        for (int b = 0; b < 8; ++b) write_intra_block(block, b < 4 ? 0 : 1 + (b & 1));
    }

    set_picture(2, 1, 0, 0, 0, 1);
    align_to_byte();
    write_bits(0x101, 32);
    write_bits(8, 5);  // quantiser 16
    write_bits(0, 1);
    int16_t one[64] = {};
    one[0] = 1;
    const int patterns[2] = {0x01, 0x03};  // block 7; blocks 6 and 7
    for (int col = 0; col < 2; ++col) {
        write_address_increment(1);
        write_macroblock_type(2, MB_PATTERN);
        write_coded_block_pattern(patterns[col] >> 2);
        write_bits(patterns[col], 2);
        for (int b = 0; b < 8; ++b)
            if (patterns[col] & (0x80 >> b)) write_non_intra_block(one);
    }
    write_sequence_end();
    std::fclose(enc.files.output_file);
    enc.files.output_file = nullptr;
    std::fclose(enc.files.statistics_file);
    enc.files.statistics_file = nullptr;

    ASSERT_TRUE(file_exists("/usr/bin/ffmpeg")) << "decoder /usr/bin/ffmpeg is not installed";
    run_result r = run_program({"/usr/bin/ffmpeg", "-v", "error", "-err_detect", "explode", "-i", "p422.m2v",
                                "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv422p", "-y", "out.yuv"},
                               dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string out = read_file(dir / "out.yuv");
    const std::size_t frame = w * h * 2;
    ASSERT_EQ(out.size(), 2 * frame);
    // A level 1 DC residual on grey adds 3: (2 + 1) * 16 * 16 / 32 = 24, divided by 8.
    const std::string p = out.substr(frame);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(static_cast<uint8_t>(p[y * w + x]), 128) << "luma " << x << "," << y;
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w / 2; ++x) {
                bool coded = y >= 8 && (c == 1 || x >= 8);  // Cr lower halves, Cb lower half of macroblock 1
                int got = static_cast<uint8_t>(p[w * h + c * (w / 2) * h + y * (w / 2) + x]);
                EXPECT_NEAR(got, coded ? 131 : 128, 1) << (c ? "Cr " : "Cb ") << x << "," << y;
            }
}

}  // namespace
