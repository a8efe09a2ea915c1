// --make-par as a new user meets it: a parameter file written for a y4m
// stream (a file or a pipe) encodes that stream at once without a warning,
// and FFmpeg shows the source pictures again; what it refuses, it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

struct new_user_case {
    const char* name;
    int width, height, chroma, frames;
    std::string fields;
    bool pipe;
    std::string expected_err;  // of the encode: "" but for 4:4:4's reserved profile
};

void PrintTo(const new_user_case& c, std::ostream* os) { *os << c.name; }

const char* chroma_tag(int chroma) { return chroma == 1 ? "420jpeg" : chroma == 2 ? "422" : "444"; }

// The generated plane files srcN.Y/.U/.V as one stream.
std::string y4m_of(const temp_dir& dir, const new_user_case& c) {
    std::string out = "YUV4MPEG2 W" + std::to_string(c.width) + " H" + std::to_string(c.height) + " " + c.fields +
                      " C" + chroma_tag(c.chroma) + "\n";
    for (int n = 0; n < c.frames; ++n) {
        out += "FRAME\n";
        for (const char* plane : {".Y", ".U", ".V"}) out += read_file(dir / ("src" + std::to_string(n) + plane));
    }
    return out;
}

double luma_psnr(const std::string& a, std::size_t a_at, const std::string& b, std::size_t b_at, std::size_t n) {
    double e2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = static_cast<unsigned char>(a[a_at + i]) - static_cast<unsigned char>(b[b_at + i]);
        e2 += d * d;
    }
    return e2 == 0 ? 99.0 : 10 * std::log10(65025.0 * static_cast<double>(n) / e2);
}

class new_user : public testing::TestWithParam<new_user_case> {};

TEST_P(new_user, starter_file_encodes_the_stream_on_the_first_try) {
    const new_user_case& c = GetParam();
    temp_dir dir;
    run_result gen = run_program(
        {make_sequence_bin(), "--width", std::to_string(c.width), "--height", std::to_string(c.height), "--chroma",
         std::to_string(c.chroma), "--frames", std::to_string(c.frames), "--pattern", dir / "src%d"},
        dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    const std::string stream = y4m_of(dir, c);
    write_file(dir / "clip.y4m", stream);
    const std::string input = c.pipe ? "-" : "clip.y4m";
    const std::string feed = c.pipe ? dir / "clip.y4m" : "";

    const run_result made = run_program({morvane_bin(), "--input=" + input, "--make-par=clip.par"}, dir.path(), feed);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(made.out.starts_with("wrote clip.par for " + std::string(c.pipe ? "standard input" : "clip.y4m") +
                                     ": " + std::to_string(c.width) + "x" + std::to_string(c.height)))
        << made.out;
    EXPECT_TRUE(made.out.ends_with("encode with: morvane --input=" + input + " clip.par out.m2v" +
                                   (c.pipe ? " (the stream piped in once more)" : "") + "\n"))
        << made.out;

    const run_result encoded = run_program(
        {morvane_bin(), "--input=" + input, "--quiet", "--no-trace", "--no-dc-change", "clip.par", "clip.m2v"},
        dir.path(), feed);
    EXPECT_EQ(encoded.status, 0);
    EXPECT_EQ(encoded.err, c.expected_err);
    EXPECT_EQ(encoded.out, "");
    EXPECT_TRUE(file_exists(dir / "clip.stats.txt"));

    const char* pix = c.chroma == 1 ? "yuv420p" : c.chroma == 2 ? "yuv422p" : "yuv444p";
    const run_result decoded = run_program(
        {"/usr/bin/ffmpeg", "-v", "error", "-i", "clip.m2v", "-f", "rawvideo", "-pix_fmt", pix, "-y", "decoded.yuv"},
        dir.path());
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const std::string pictures = read_file(dir / "decoded.yuv");
    const std::size_t luma = static_cast<std::size_t>(c.width) * c.height;
    const std::size_t frame = (stream.size() - stream.find('\n') - 1) / c.frames - 6;
    ASSERT_EQ(pictures.size(), frame * c.frames);
    double worst = 99;
    for (int n = 0; n < c.frames; ++n) {
        const std::size_t source_at = stream.find('\n') + 1 + n * (frame + 6) + 6;
        worst = std::min(worst, luma_psnr(stream, source_at, pictures, n * frame, luma));
    }
    EXPECT_GE(worst, 30.0);
    std::printf("[ figures  ] %s: lowest luminance PSNR against the source %.1f dB\n", c.name, worst);
}

const std::string reserved = "Warning: profile uses a reserved value, conformance checks skipped\n";

INSTANTIATE_TEST_SUITE_P(streams, new_user,
                         testing::Values(new_user_case{"420 progressive file", 96, 64, 1, 8, "F25:1 Ip A1:1", false,
                                                       ""},
                                         new_user_case{"422 interlaced pipe", 64, 64, 2, 7, "F30000:1001 It", true, ""},
                                         new_user_case{"444 file", 48, 32, 3, 5, "F24:1", false, reserved}),
                         [](const testing::TestParamInfo<new_user_case>& info) { return test_name(info.param.name); });

struct refusal_case {
    const char* name;
    std::string stream;
    bool par_exists;
    std::string err;
};

void PrintTo(const refusal_case& c, std::ostream* os) { *os << c.name; }

const refusal_case refusal_cases[] = {
    {"odd width", "YUV4MPEG2 W63 H48\n", false,
     "Couldn't make a parameter file for clip.y4m (its width 63 is odd, and 420jpeg needs an even width; crop or "
     "scale it first, as ffmpeg -vf crop=62:ih)\n"},
    {"parameter file there already", "YUV4MPEG2 W64 H48\n", true,
     "Couldn't write clip.par (it exists already: remove it or name another file)\n"},
    {"damaged stream", "YUV4MPEG2 W64 H48\nFRAMEX\n", false,
     "Couldn't read clip.y4m (the frame header after 0 frames is FRAME followed by 'X', not by a space or a line "
     "end)\n"},
};

class starter_refusal : public testing::TestWithParam<refusal_case> {};

TEST_P(starter_refusal, says_why_and_leaves_no_new_file) {
    const refusal_case& c = GetParam();
    temp_dir dir;
    write_file(dir / "clip.y4m", c.stream);
    if (c.par_exists) write_file(dir / "clip.par", "mine\n");
    const run_result r = run_program({morvane_bin(), "--input=clip.y4m", "--make-par=clip.par"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    if (c.par_exists)
        EXPECT_EQ(read_file(dir / "clip.par"), "mine\n");
    else
        EXPECT_FALSE(file_exists(dir / "clip.par"));
}

INSTANTIATE_TEST_SUITE_P(cases, starter_refusal, testing::ValuesIn(refusal_cases),
                         [](const testing::TestParamInfo<refusal_case>& info) { return test_name(info.param.name); });

// A stream cut inside a frame counts its whole frames, and says so.
TEST(starter_par_e2e, counts_whole_frames_of_a_cut_stream) {
    temp_dir dir;
    const std::string frame = "FRAME\n" + std::string(16 * 16 * 3 / 2, '\x80');
    write_file(dir / "clip.y4m", "YUV4MPEG2 W16 H16 F25:1\n" + frame + frame + frame.substr(0, 100));
    const run_result r = run_program({morvane_bin(), "--input=clip.y4m", "--make-par=clip.par"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", 2 frames;"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nnote: clip.y4m ends inside the frame after 2 frames: that frame is left out\n"),
              std::string::npos)
        << r.out;
    const run_result encoded =
        run_program({morvane_bin(), "--quiet", "--no-trace", "--input=clip.y4m", "clip.par", "clip.m2v"}, dir.path());
    EXPECT_EQ(encoded.status, 0) << encoded.err;
}

}  // namespace
