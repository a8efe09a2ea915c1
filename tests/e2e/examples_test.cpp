// The shipped parameter files of examples/: each encodes a few generated
// frames of its size without a single warning, and both decoders (libmpeg2
// and FFmpeg) show the stream, made with --no-dc-change, as the encoder's
// own reconstruction: the same luminance PSNR against the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

struct example_case {
    std::string file;
    int frames;  // encoded in the test: enough for every picture type the file codes
};

void PrintTo(const example_case& c, std::ostream* os) { *os << c.file; }

// Four frames give I, P and B pictures (M 3); three give I, P, B with the
// last frame coded as P, or I, P, P with M 1.
const std::vector<example_case> example_cases = {
    {"cif-progressive.par", 4}, {"sd625-interlaced.par", 4}, {"sd625-fields.par", 4}, {"sd525-interlaced.par", 4},
    {"sd525-fields.par", 4},    {"hd720p.par", 3},           {"hd1080i.par", 3},      {"mpeg1-cif.par", 4},
    {"sd625-422-high.par", 4},  {"sd625-low-delay.par", 3},
};

std::string examples_dir() { return source_dir() + "/examples"; }

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The first word of a parameter line: its value.
std::string value_of(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    return word;
}

// Mean over frames of the per-frame PSNR of one plane; frame f of the
// decoded file starts at f * frame_bytes + offset, the source plane of
// frame f is source(f).
template <class Source>
double mean_plane_psnr(const std::string& decoded, std::size_t frame_bytes, std::size_t offset, std::size_t n,
                       int frames, Source source) {
    double sum = 0;
    for (int f = 0; f < frames; ++f) {
        const std::string src = source(f);
        double e2 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = static_cast<unsigned char>(decoded[f * frame_bytes + offset + i]) -
                             static_cast<unsigned char>(src.at(i));
            e2 += d * d;
        }
        e2 /= static_cast<double>(n);
        sum += 10 * std::log10(65025.0 / (e2 == 0 ? 0.00001 : e2));
    }
    return sum / frames;
}

TEST(examples_folder, every_shipped_parameter_file_is_tested) {
    std::vector<std::string> shipped, tested;
    for (const auto& entry : fs::directory_iterator(examples_dir()))
        if (entry.path().extension() == ".par") shipped.push_back(entry.path().filename().string());
    for (const example_case& c : example_cases) tested.push_back(c.file);
    std::sort(shipped.begin(), shipped.end());
    std::sort(tested.begin(), tested.end());
    EXPECT_EQ(shipped, tested);
}

class shipped_example : public testing::TestWithParam<example_case> {};

TEST_P(shipped_example, encodes_without_a_warning_and_decodes_as_reconstructed) {
    const example_case& c = GetParam();
    std::vector<std::string> lines = split_lines(read_file(examples_dir() + "/" + c.file));
    ASSERT_GE(lines.size(), 51u);
    const std::string source_pattern = value_of(lines[1]), recon_pattern = value_of(lines[2]);
    ASSERT_EQ(value_of(lines[6]), "0") << "the test writes per-frame plane files";
    const bool mpeg1 = value_of(lines[12]) == "1", fields = value_of(lines[13]) == "1";
    const int width = std::stoi(value_of(lines[14])), height = std::stoi(value_of(lines[15]));
    const int chroma = std::stoi(value_of(lines[25]));

    temp_dir dir;
    // The frame count of line 8 becomes the test's; every other line stays.
    lines[7] = std::to_string(c.frames) + lines[7].substr(lines[7].find_first_not_of("0123456789"));
    std::string par;
    for (const std::string& l : lines) par += l + "\n";
    write_file(dir / "in.par", par);
    for (const std::string& pattern : {source_pattern, recon_pattern})
        if (pattern != "-" && pattern.find('/') != std::string::npos)
            fs::create_directories(dir / pattern.substr(0, pattern.rfind('/')));

    run_result gen = run_program(
        {make_sequence_bin(), "--width", std::to_string(width), "--height", std::to_string(height), "--chroma",
         std::to_string(chroma), "--frames", std::to_string(c.frames), "--pattern", dir / source_pattern},
        dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;

    run_result enc =
        run_program({morvane_bin(), "--no-dc-change", "--no-trace", "--progress", "in.par", "out.m2v"}, dir.path());
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_EQ(enc.out, "");
    // Standard error holds progress lines and the summary, nothing else.
    double encoder_psnr = 0;
    for (const std::string& line : split_lines(enc.err)) {
        if (line.rfind("frame ", 0) == 0) continue;
        ASSERT_EQ(line.rfind("encoded ", 0), 0u) << c.file << " printed: " << line;
        const std::size_t at = line.find("mean luminance PSNR ");
        ASSERT_NE(at, std::string::npos) << line;
        encoder_psnr = std::stod(line.substr(at + 20));
    }
    ASSERT_GT(encoder_psnr, 30.0) << enc.err;

    const int cw = chroma == 3 ? width : width / 2, ch = chroma == 1 ? height / 2 : height;
    const std::size_t luma = static_cast<std::size_t>(width) * height, plane = static_cast<std::size_t>(cw) * ch;
    const std::size_t frame_bytes = luma + 2 * plane;
    auto source = [&](int f, const char* suffix) {
        char name[64];
        std::snprintf(name, sizeof name, source_pattern.c_str(), f);
        return read_file(dir / (name + std::string(suffix)));
    };

    ASSERT_TRUE(*m2v_decode_bin()) << "libmpeg2 test client not built: install libmpeg2-4-dev";
    ASSERT_TRUE(file_exists("/usr/bin/ffmpeg")) << "ffmpeg not installed";
    std::vector<std::string> ffmpeg = {"/usr/bin/ffmpeg", "-v", "error"};
    if (!fields) ffmpeg.insert(ffmpeg.end(), {"-err_detect", "explode"});
    ffmpeg.insert(ffmpeg.end(), {"-i", "out.m2v", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt",
                                 chroma == 1 ? "yuv420p" : "yuv422p", "-y", "ffmpeg.yuv"});
    const struct {
        const char* name;
        std::vector<std::string> argv;
        const char* output;
    } decoders[] = {{"libmpeg2", {m2v_decode_bin(), "out.m2v", "libmpeg2.yuv"}, "libmpeg2.yuv"},
                    {"ffmpeg", ffmpeg, "ffmpeg.yuv"}};
    for (const auto& d : decoders) {
        run_result r = run_program(d.argv, dir.path());
        ASSERT_EQ(r.status, 0) << d.name << ": " << r.err;
        if (std::string(d.name) == "ffmpeg") {
            EXPECT_EQ(r.err, "");
        }
        const std::string decoded = read_file(dir / d.output);
        ASSERT_EQ(decoded.size(), frame_bytes * c.frames) << d.name << " frame count";
        const double y =
            mean_plane_psnr(decoded, frame_bytes, 0, luma, c.frames, [&](int f) { return source(f, ".Y"); });
        const double u =
            mean_plane_psnr(decoded, frame_bytes, luma, plane, c.frames, [&](int f) { return source(f, ".U"); });
        const double v = mean_plane_psnr(decoded, frame_bytes, luma + plane, plane, c.frames,
                                         [&](int f) { return source(f, ".V"); });
        // Decoders may round the inverse DCT differently from the encoder: a
        // few hundredths of a dB at most.
        EXPECT_NEAR(y, encoder_psnr, 0.05) << d.name;
        EXPECT_GT(u, 30.0) << d.name;
        EXPECT_GT(v, 30.0) << d.name;
        std::printf("[ figures  ] %s %s%s: luminance %.2f dB (encoder %.2f), chrominance %.2f and %.2f dB\n",
                    c.file.c_str(), d.name, mpeg1 ? " (MPEG-1)" : "", y, encoder_psnr, u, v);
    }
}

INSTANTIATE_TEST_SUITE_P(examples, shipped_example, testing::ValuesIn(example_cases),
                         [](const testing::TestParamInfo<example_case>& info) {
                             return test_name(info.param.file.substr(0, info.param.file.size() - 4));
                         });

}  // namespace
