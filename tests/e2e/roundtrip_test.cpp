// Decoder round trip: the encoder with --no-dc-change encodes a generated
// sequence; real decoders (libmpeg2 and FFmpeg) decode the stream; every
// decoded frame must match the encoder's reconstruction files to at least
// 50 dB per plane (only IDCT rounding may differ).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

struct roundtrip_case {
    std::string name;
    int width, height, chroma, frames, input_format;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::string> motion;   // empty: the builder's defaults
    std::string expect_letter;         // macroblock_type map letters that must occur ("" for none)
    bool expect_field_dct = false;     // a field DCT must occur somewhere
    std::vector<std::pair<std::string, std::string>> files = {};  // extra input files (name, content)
};

void PrintTo(const roundtrip_case& c, std::ostream* os) { *os << c.name; }

double psnr(const std::string& a, std::size_t a_off, std::size_t a_stride, const std::string& b,
            std::size_t b_off, std::size_t b_stride, int w, int rows) {
    double e2 = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < w; ++x) {
            double d = static_cast<unsigned char>(a[a_off + y * a_stride + x]) -
                       static_cast<unsigned char>(b[b_off + y * b_stride + x]);
            e2 += d * d;
        }
    if (rows == 0 || w == 0) return 99.0;
    e2 /= static_cast<double>(w) * rows;
    return e2 == 0 ? 99.0 : 10 * std::log10(65025.0 / e2);
}

// Letters of every macroblock_type map in the statistics file, counted.
std::map<char, int> map_letters(const std::string& stats) {
    std::map<char, int> count;
    std::size_t pos = 0;
    while ((pos = stats.find("macroblock_type map:\n", pos)) != std::string::npos) {
        pos += 21;
        while (pos < stats.size() && stats[pos] != '\n') {
            std::size_t end = stats.find('\n', pos);
            for (std::size_t i = pos; i + 2 < end + 1 && i < end; i += 3) ++count[stats[i]];
            pos = end + 1;
        }
    }
    return count;
}

// Every DC trace pair shows the same value before and after, counters from 0 on.
bool dc_lines_unchanged(const std::string& out) {
    long long pairs = 0;
    for (const char* p = out.c_str(); *p;) {
        int before = 0, after = 0;
        long long c1 = -1, c2 = -1;
        if (std::sscanf(p, " DC value=%d!!!!!!!!!!!!!!counter=%lld", &before, &c1) != 2) return false;
        p = std::strchr(p, '\n') + 1;
        if (std::sscanf(p, " after DC value=%d!!!!!!!!!!!!!!counter=%lld", &after, &c2) != 2) return false;
        p = std::strchr(p, '\n') + 1;
        if (before != after || c1 != pairs || c2 != pairs) return false;
        ++pairs;
    }
    return pairs > 0;
}

class roundtrip : public testing::TestWithParam<roundtrip_case> {};

TEST_P(roundtrip, decoded_frames_match_reconstruction) {
    const roundtrip_case& c = GetParam();
    temp_dir dir;
    for (const auto& [name, content] : c.files) write_file(dir / name, content);
    param_file p = write_sequence_case(
        dir.path(), {c.width, c.height, c.chroma, c.frames, c.input_format, c.params, c.motion});
    if (HasFailure()) return;

    run_result enc = run_program({morvane_bin(), "--no-dc-change", "in.par", "out.m2v"}, dir.path());
    ASSERT_EQ(enc.status, 0) << enc.err;
    // The trace still shows every block's DC, now left as computed.
    EXPECT_TRUE(dc_lines_unchanged(enc.out)) << enc.out.substr(0, 400);

    std::string stats = read_file(dir / "stats.txt");
    auto letters = map_letters(stats);
    for (char l : c.expect_letter) EXPECT_GT(letters[l], 0) << "no macroblock of type " << l;
    std::string used;
    for (const auto& [l, n] : letters) used += " " + std::string(1, l) + "=" + std::to_string(n);
    std::printf("[ figures  ] %s macroblock types:%s\n", c.name.c_str(), used.c_str());
    if (c.expect_field_dct) {
        int field_dct = 0;
        for (std::size_t pos = 0; (pos = stats.find("dct_type map:\n", pos)) != std::string::npos;) {
            pos += 14;
            std::size_t end = stats.find("\n\n", pos);
            for (std::size_t i = pos; i < end; ++i) field_dct += stats[i] == '1';
        }
        EXPECT_GT(field_dct, 0) << "no field DCT";
        std::printf("[ figures  ] %s field DCT macroblocks: %d\n", c.name.c_str(), field_dct);
    }

    int cw = c.chroma == 3 ? c.width : c.width >> 1;
    int ch = c.chroma == 1 ? c.height >> 1 : c.height;
    int padded_w = (c.width + 15) / 16 * 16;
    int padded_cw = c.chroma == 3 ? padded_w : padded_w / 2;
    std::size_t frame_bytes = static_cast<std::size_t>(c.width) * c.height + 2 * static_cast<std::size_t>(cw) * ch;

    ASSERT_TRUE(*m2v_decode_bin()) << "libmpeg2 test client not built: install libmpeg2-4-dev";
    bool field = p.get("field_pictures") != "0";
    const char* pix = c.chroma == 1 ? "yuv420p" : c.chroma == 2 ? "yuv422p" : "yuv444p";
    std::vector<std::string> ffmpeg = {"/usr/bin/ffmpeg", "-v", "error"};
    if (!field) ffmpeg.insert(ffmpeg.end(), {"-err_detect", "explode"});
    ffmpeg.insert(ffmpeg.end(), {"-i", "out.m2v", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", pix,
                                 "-y", "ffmpeg.yuv"});
    ASSERT_TRUE(file_exists("/usr/bin/ffmpeg")) << "ffmpeg not installed";

    struct decoder_run {
        const char* name;
        std::vector<std::string> argv;
        std::string output;
    } decoders[] = {{"libmpeg2", {m2v_decode_bin(), "out.m2v", "libmpeg2.yuv"}, "libmpeg2.yuv"},
                    {"ffmpeg", ffmpeg, "ffmpeg.yuv"}};

    for (const auto& d : decoders) {
        // libmpeg2 predicts 4:4:4 chrominance wrongly in P and B pictures (its
        // intra pictures agree); FFmpeg judges those streams.
        if (c.chroma == 3 && std::string(d.name) == "libmpeg2") continue;
        run_result r = run_program(d.argv, dir.path());
        ASSERT_EQ(r.status, 0) << d.name << ": " << r.err;
        if (std::string(d.name) == "ffmpeg") {
            EXPECT_EQ(r.err, "") << d.name;
        }
        std::string decoded = read_file(dir / d.output);
        ASSERT_EQ(decoded.size(), frame_bytes * c.frames) << d.name << " frame count";
        double worst = 99.0;
        for (int f = 0; f < c.frames; ++f) {
            std::size_t base = frame_bytes * f;
            std::string rec = dir / ("rec" + std::to_string(f));
            struct plane {
                const char* suffix;
                std::size_t offset;
                int w, h, stride;
            } planes[3] = {{".Y", 0, c.width, c.height, padded_w},
                           {".U", static_cast<std::size_t>(c.width) * c.height, cw, ch, padded_cw},
                           {".V", static_cast<std::size_t>(c.width) * c.height + static_cast<std::size_t>(cw) * ch,
                            cw, ch, padded_cw}};
            for (const auto& pl : planes) {
                std::string r_plane = read_file(rec + pl.suffix);
                // The files hold consecutive padded rows cut at the visible byte count.
                int rows = static_cast<int>(r_plane.size() / pl.stride);
                if (rows > pl.h) rows = pl.h;
                double v = psnr(r_plane, 0, pl.stride, decoded, base + pl.offset, pl.w, pl.w, rows);
                EXPECT_GE(v, 50.0) << d.name << " frame " << f << " plane " << pl.suffix;
                if (v < worst) worst = v;
            }
        }
        std::printf("[ figures  ] %s %s: lowest PSNR %.1f dB over %d frames\n", c.name.c_str(), d.name, worst,
                    c.frames);
    }

    // Without the option, the stream of the same pictures decodes without error too.
    p.set("recon_name_pattern", "-");
    p.write(dir / "in.par");
    run_result shipped = run_program({morvane_bin(), "in.par", "shipped.m2v"}, dir.path());
    ASSERT_EQ(shipped.status, 0) << shipped.err;
    run_result lib = run_program({m2v_decode_bin(), "shipped.m2v", "shipped.yuv"}, dir.path());
    EXPECT_EQ(lib.status, 0) << lib.err;
    EXPECT_EQ(read_file(dir / "shipped.yuv").size(), frame_bytes * c.frames);
    std::vector<std::string> ff = ffmpeg;
    for (auto& a : ff) {
        if (a == "out.m2v") a = "shipped.m2v";
        if (a == "ffmpeg.yuv") a = "shipped_ff.yuv";
    }
    run_result ffr = run_program(ff, dir.path());
    EXPECT_EQ(ffr.status, 0) << ffr.err;
    EXPECT_EQ(ffr.err, "");
}

const std::vector<std::string> m1_motion = {"2 2 15 15"};

// 64 weights rising with the row and the column, as a matrix file.
std::string ramp_matrix(int base, int step) {
    std::string m;
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) m += std::to_string(base + step * (u + v)) + (u == 7 ? "\n" : " ");
    }
    return m;
}

using kv = std::vector<std::pair<std::string, std::string>>;
const kv interlaced = {
    {"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"frame_pred_frame_dct_tab", "0 0 0"}};
kv with(kv base, const kv& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    streams, roundtrip,
    testing::Values(
        roundtrip_case{"n12_m3_420", 64, 48, 1, 13, 0, {{"N", "12"}, {"M", "3"}}, {}, "IFBD"},
        roundtrip_case{"m1_frame_dual_prime", 64, 64, 1, 5, 0,
                       with(interlaced, {{"N", "5"}, {"M", "1"}, {"top_field_first", "1"}}), m1_motion, "p"},
        roundtrip_case{
            "field_prediction_frame_pictures", 64, 64, 1, 7, 0, with(interlaced, {{"N", "6"}}), {}, "f", true},
        roundtrip_case{"loaded_matrices",
                       64,
                       48,
                       1,
                       7,
                       0,
                       {{"intra_matrix_file", "intra.mat"}, {"non_intra_matrix_file", "inter.mat"}},
                       {},
                       "",
                       false,
                       {{"intra.mat", ramp_matrix(8, 2)}, {"inter.mat", ramp_matrix(12, 3)}}},
        roundtrip_case{"interlaced_size_not_multiple_of_32",
                       72,
                       40,
                       1,
                       5,
                       1,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "1"}}),
                       {},
                       ""},
        roundtrip_case{
            "q_scale_type_vlc_scan",
            64,
            48,
            1,
            7,
            0,
            {{"q_scale_type_tab", "1 1 1"}, {"intra_vlc_format_tab", "1 1 1"}, {"alternate_scan_tab", "1 1 1"}},
            {},
            ""},
        roundtrip_case{"mpeg1", 64, 48, 1, 7, 0, {{"mpeg1", "1"}}, {}, "IF"},
        roundtrip_case{"size_not_multiple_of_16", 72, 40, 1, 7, 1, {}, {}, ""},
        roundtrip_case{"field_pictures_tff1",
                       64,
                       64,
                       1,
                       7,
                       0,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "1"}}),
                       {},
                       ""},
        roundtrip_case{"field_pictures_tff0",
                       64,
                       64,
                       1,
                       7,
                       0,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "0"}}),
                       {},
                       ""},
        roundtrip_case{"field_pictures_m1_dual_prime", 64, 64, 1, 5, 0,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "1"}, {"N", "5"}, {"M", "1"}}),
                       m1_motion, "p"},
        roundtrip_case{"m1_frame_dual_prime_tff0", 64, 64, 1, 5, 0,
                       with(interlaced, {{"N", "5"}, {"M", "1"}, {"top_field_first", "0"}}), m1_motion, "p"},
        roundtrip_case{"field_pictures_m1_dual_prime_tff0", 64, 64, 1, 5, 0,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "0"}, {"N", "5"}, {"M", "1"}}),
                       m1_motion, "p"},
        roundtrip_case{"field_pictures_422",
                       64,
                       64,
                       2,
                       7,
                       0,
                       with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "1"}, {"profile", "1"}}),
                       {},
                       ""},
        roundtrip_case{"chroma_422", 64, 48, 2, 7, 0, {{"profile", "1"}}, {}, ""},
        roundtrip_case{"chroma_444", 64, 48, 3, 7, 0, {{"profile", "8"}}, {}, ""},
        roundtrip_case{"ppm_420", 64, 48, 1, 4, 2, {}, {}, ""},
        roundtrip_case{"ppm_422", 64, 48, 2, 4, 2, {{"profile", "1"}}, {}, ""},
        roundtrip_case{"ppm_444", 64, 48, 3, 4, 2, {{"profile", "8"}}, {}, ""}),
    [](const testing::TestParamInfo<roundtrip_case>& info) { return info.param.name; });

}  // namespace
