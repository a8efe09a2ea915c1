// The README's quick start, as a newcomer follows it: the block of commands
// after its marker runs as it stands, in an empty folder, with morvane and
// make_sequence on the PATH (generated pictures, a y4m by FFmpeg, the
// starter parameter file, the encode, FFmpeg's decode). The test fails when
// a documented command stops working; then it checks that both decoders show
// the source pictures at the encoder's own PSNR.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

const char marker[] = "<!-- tests/e2e/quick_start_test.cpp runs the next block";

// The commands of the block after the marker.
std::string quick_start_commands(const std::string& readme) {
    const std::size_t at = readme.find(marker);
    if (at == std::string::npos) return "";
    const std::size_t open = readme.find("```sh\n", at);
    const std::size_t close = readme.find("```\n", open + 6);
    if (open == std::string::npos || close == std::string::npos) return "";
    return readme.substr(open + 6, close - open - 6);
}

// The frames of a YUV4MPEG2 stream of 4:2:0 pictures, without their headers.
std::vector<std::string> y4m_frames(const std::string& stream, int width, int height) {
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 3 / 2;
    std::vector<std::string> frames;
    std::size_t at = stream.find('\n');
    while (at != std::string::npos && at + 1 < stream.size()) {
        const std::size_t data = stream.find('\n', at + 1);
        if (data == std::string::npos || stream.compare(at + 1, 5, "FRAME") != 0) break;
        frames.push_back(stream.substr(data + 1, bytes));
        at = data + bytes;
    }
    return frames;
}

double mean_luma_psnr(const std::vector<std::string>& a, const std::string& b, std::size_t luma, std::size_t frame) {
    double sum = 0;
    for (std::size_t f = 0; f < a.size(); ++f) {
        double e2 = 0;
        for (std::size_t i = 0; i < luma; ++i) {
            const double d = static_cast<unsigned char>(a[f][i]) - static_cast<unsigned char>(b[f * frame + i]);
            e2 += d * d;
        }
        sum += 10 * std::log10(65025.0 / std::max(e2 / luma, 0.00001));
    }
    return sum / a.size();
}

TEST(quick_start, the_readme_commands_encode_a_stream_both_decoders_play) {
    const std::string commands = quick_start_commands(read_file(source_dir() + "/README.md"));
    ASSERT_FALSE(commands.empty()) << "README.md has no block after the marker " << marker;
    temp_dir dir;
    write_file(dir / "quick_start.sh", commands);
    const std::string bin = std::string(morvane_bin()).substr(0, std::string(morvane_bin()).rfind('/'));
    ASSERT_EQ(std::string(make_sequence_bin()).substr(0, bin.size() + 1), bin + "/");
    const char* path = std::getenv("PATH");
    run_result run = run_program({"/usr/bin/env", "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin"), "/bin/bash",
                                  "-e", "-o", "pipefail", "quick_start.sh"},
                                 dir.path());
    ASSERT_EQ(run.status, 0) << "the README's quick start failed:\n" << commands << "\nstandard error:\n" << run.err;

    // What the block made: the source stream, the encoder's summary, FFmpeg's decode.
    const std::string source = read_file(dir / "clip.y4m");
    ASSERT_EQ(source.rfind("YUV4MPEG2 W720 H576 ", 0), 0u) << source.substr(0, 60);
    const std::vector<std::string> frames = y4m_frames(source, 720, 576);
    ASSERT_EQ(frames.size(), 10u);
    const std::size_t at = run.err.find("mean luminance PSNR ");
    ASSERT_NE(at, std::string::npos) << run.err;
    const double encoder_psnr = std::stod(run.err.substr(at + 20));
    EXPECT_GT(encoder_psnr, 35.0);
    EXPECT_NE(run.out.find("wrote clip.par for clip.y4m"), std::string::npos) << run.out;

    const std::size_t luma = 720 * 576, frame = luma * 3 / 2;
    std::string ffmpeg_frames;
    for (const std::string& f : y4m_frames(read_file(dir / "decoded.y4m"), 720, 576)) ffmpeg_frames += f;
    ASSERT_TRUE(*m2v_decode_bin()) << "libmpeg2 test client not built: install libmpeg2-4-dev";
    run_result lib = run_program({m2v_decode_bin(), "clip.m2v", "libmpeg2.yuv"}, dir.path());
    ASSERT_EQ(lib.status, 0) << lib.err;
    const struct {
        const char* name;
        std::string decoded;
    } decoders[] = {{"ffmpeg", ffmpeg_frames}, {"libmpeg2", read_file(dir / "libmpeg2.yuv")}};
    for (const auto& d : decoders) {
        ASSERT_EQ(d.decoded.size(), frame * frames.size()) << d.name;
        const double psnr = mean_luma_psnr(frames, d.decoded, luma, frame);
        EXPECT_NEAR(psnr, encoder_psnr, 0.05) << d.name;
        std::printf("[ figures  ] quick start, %s: %.2f dB luminance PSNR (encoder %.2f dB)\n", d.name, psnr,
                    encoder_psnr);
    }
}

}  // namespace
