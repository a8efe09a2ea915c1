// The test-sequence generator: command line, files, motion, and reading its
// output back with the encoder's source reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/encoder_state.h"
#include "picture_setup.h"
#include "loop/source_frame.h"
#include "test_support.h"

using morvane_test::file_exists;
using morvane_test::make_sequence_bin;
using morvane_test::read_file;
using morvane_test::run_program;
using morvane_test::run_result;
using morvane_test::temp_dir;

namespace {

run_result generate(const temp_dir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), make_sequence_bin());
    return run_program(args, dir.path());
}

TEST(MakeSequence_e2e, HelpPrintsUsage) {
    temp_dir dir;
    run_result r = generate(dir, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: make_sequence", 0), 0u) << r.out;
}

TEST(MakeSequence_e2e, BadArgumentsExitWithStatus2AndWriteNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"--colour", "1"}, {"--chroma", "4"},        {"--width", "0"},    {"--height", "12x"},
        {"--format", "3"}, {"--pattern", "a%s"},     {"--pattern", "%d%d"}, {"--pan", "1"},
        {"--frames"},      {"--frames", "-1"},
    };
    for (const auto& c : cases) {
        temp_dir dir;
        run_result r = generate(dir, c);
        EXPECT_EQ(r.status, 2) << c[0];
        EXPECT_EQ(r.err.rfind("make_sequence: ", 0), 0u) << r.err;
        EXPECT_FALSE(file_exists(dir / "src0.Y"));
    }
}

TEST(MakeSequence_e2e, UncreatableFileExitsWithStatus1) {
    temp_dir dir;
    run_result r = generate(dir, {"--frames", "1", "--pattern", "missing/src%d"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "make_sequence: can't create missing/src0.Y\n");
}

TEST(MakeSequence_e2e, WritesEachFormatAtTheVisibleSizes) {
    struct {
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::size_t>> files;
    } cases[] = {
        {{"--width", "64", "--height", "48", "--chroma", "1", "--format", "0"},
         {{"s0.Y", 3072}, {"s0.U", 768}, {"s0.V", 768}, {"s1.Y", 3072}}},
        {{"--width", "45", "--height", "17", "--chroma", "1", "--format", "0"},
         {{"s0.Y", 765}, {"s0.U", 22 * 8}, {"s1.V", 22 * 8}}},
        {{"--width", "64", "--height", "48", "--chroma", "2", "--format", "1"},
         {{"s0.yuv", 3072 * 2}, {"s1.yuv", 6144}}},
        {{"--width", "30", "--height", "20", "--chroma", "3", "--format", "1"}, {{"s1.yuv", 1800}}},
        {{"--width", "30", "--height", "20", "--format", "2"}, {{"s0.ppm", 13 + 1800}, {"s1.ppm", 1813}}},
        // No visible chroma row or column: empty chroma planes.
        {{"--width", "16", "--height", "1", "--chroma", "1", "--format", "0"},
         {{"s0.Y", 16}, {"s0.U", 0}, {"s1.V", 0}}},
        {{"--width", "1", "--height", "16", "--chroma", "1", "--format", "1"}, {{"s0.yuv", 16}, {"s1.yuv", 16}}},
    };
    for (const auto& c : cases) {
        temp_dir dir;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--frames", "2", "--pattern", "s%d"});
        ASSERT_EQ(generate(dir, args).status, 0);
        for (const auto& [name, size] : c.files) EXPECT_EQ(read_file(dir / name).size(), size) << name;
        EXPECT_FALSE(file_exists(dir / "s2.Y"));
    }
}

TEST(MakeSequence_e2e, PpmHeaderAndFileNumbering) {
    temp_dir dir;
    ASSERT_EQ(generate(dir, {"--width", "30", "--height", "20", "--format", "2", "--frames", "2", "--first", "7",
                             "--pattern", "p%03d"})
                  .status,
              0);
    EXPECT_EQ(read_file(dir / "p007.ppm").substr(0, 13), "P6\n30 20\n255\n");
    EXPECT_TRUE(file_exists(dir / "p008.ppm"));
    EXPECT_FALSE(file_exists(dir / "p006.ppm"));
    EXPECT_FALSE(file_exists(dir / "p009.ppm"));
}

TEST(MakeSequence_e2e, SameArgumentsSameBytesOtherSeedOtherBytes) {
    temp_dir a, b, c;
    const std::vector<std::string> args = {"--width", "40", "--height", "24", "--frames", "2", "--format", "1"};
    ASSERT_EQ(generate(a, args).status, 0);
    ASSERT_EQ(generate(b, args).status, 0);
    std::vector<std::string> seeded = args;
    seeded.insert(seeded.end(), {"--seed", "9"});
    ASSERT_EQ(generate(c, seeded).status, 0);
    EXPECT_EQ(read_file(a / "src1.yuv"), read_file(b / "src1.yuv"));
    EXPECT_NE(read_file(a / "src1.yuv"), read_file(c / "src1.yuv"));
}

// Share of luminance samples of frame 1 equal to frame 0 displaced by (dx, dy).
double displaced_match(const std::string& f0, const std::string& f1, int w, int h, int dx, int dy) {
    int equal = 0, count = 0;
    for (int y = 0; y + dy < h; ++y)
        for (int x = 0; x + dx < w; ++x) {
            ++count;
            equal += f1[y * w + x] == f0[(y + dy) * w + x + dx];
        }
    return static_cast<double>(equal) / count;
}

TEST(MakeSequence_e2e, BackgroundPansByTheRequestedAmount) {
    struct {
        const char* pan;
        int dx, dy;
    } cases[] = {{"1,0", 1, 0}, {"2,1", 2, 1}, {"0,0", 0, 0}};
    for (const auto& c : cases) {
        temp_dir dir;
        ASSERT_EQ(generate(dir, {"--width", "96", "--height", "64", "--frames", "2", "--noise", "0", "--pan", c.pan})
                      .status,
                  0);
        std::string f0 = read_file(dir / "src0.Y"), f1 = read_file(dir / "src1.Y");
        // The objects cover part of the picture and move on their own.
        EXPECT_GT(displaced_match(f0, f1, 96, 64, c.dx, c.dy), 0.5) << c.pan;
        EXPECT_LT(displaced_match(f0, f1, 96, 64, c.dx, c.dy), 1.0) << c.pan;
    }
}

TEST(MakeSequence_e2e, FractionalPanMatchesNoWholeSampleShift) {
    temp_dir dir;
    ASSERT_EQ(generate(dir, {"--width", "96", "--height", "64", "--frames", "2", "--noise", "0", "--pan", "0.5,0"})
                  .status,
              0);
    std::string f0 = read_file(dir / "src0.Y"), f1 = read_file(dir / "src1.Y");
    EXPECT_LT(displaced_match(f0, f1, 96, 64, 0, 0), 0.5);
    EXPECT_LT(displaced_match(f0, f1, 96, 64, 1, 0), 0.5);
}

TEST(MakeSequence_e2e, NoiseChangesSamplesByAtMostItsAmplitude) {
    temp_dir quiet, noisy;
    ASSERT_EQ(generate(quiet, {"--width", "48", "--height", "32", "--frames", "1", "--noise", "0"}).status, 0);
    ASSERT_EQ(generate(noisy, {"--width", "48", "--height", "32", "--frames", "1", "--noise", "3"}).status, 0);
    std::string a = read_file(quiet / "src0.Y"), b = read_file(noisy / "src0.Y");
    ASSERT_EQ(a.size(), b.size());
    int changed = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        int d = static_cast<uint8_t>(b[i]) - static_cast<uint8_t>(a[i]);
        EXPECT_LE(std::abs(d), 3) << i;
        changed += d != 0;
    }
    EXPECT_GT(changed, static_cast<int>(a.size()) / 2);
}

// --- read back by the encoder ------------------------------------------------

void configure(int w, int h, int chroma_format, int input_format) {
    morvane_test::start_encoder({w, h, chroma_format}, [&](encoder_config& cfg) {
        cfg.progressive_frame = 1;
        cfg.matrix_coefficients = 5;
        cfg.input_format = input_format;
    });
}

// The visible part of a plane, row by row.
std::string visible(const uint8_t* plane, int stride, int columns, int rows) {
    std::string s;
    for (int r = 0; r < rows; ++r) s.append(reinterpret_cast<const char*>(plane + r * stride), columns);
    return s;
}

TEST(MakeSequenceInput_e2e, PlaneAndPlanarFilesLoadIntoTheSamePlanes) {
    struct {
        int chroma_format, columns, rows;
    } cases[] = {{1, 25, 9}, {2, 25, 18}, {3, 50, 18}};
    for (const auto& c : cases) {
        temp_dir dir;
        std::string chroma = std::to_string(c.chroma_format);
        for (const char* format : {"0", "1"})
            ASSERT_EQ(generate(dir, {"--width", "50", "--height", "18", "--chroma", chroma, "--frames", "1",
                                     "--format", format, "--pattern", std::string("f") + format + "_%d"})
                          .status,
                      0);
        const std::string plane_files[3] = {read_file(dir / "f0_0.Y"), read_file(dir / "f0_0.U"),
                                            read_file(dir / "f0_0.V")};
        for (int input_format : {0, 1}) {
            configure(50, 18, c.chroma_format, input_format);
            load_source_frame((dir / (input_format ? "f1_0" : "f0_0")).c_str(), enc.buffers.new_org_frame);
            EXPECT_EQ(visible(enc.buffers.new_org_frame[0], enc.config.width, 50, 18), plane_files[0]);
            for (int k = 1; k < 3; ++k)
                EXPECT_EQ(visible(enc.buffers.new_org_frame[k], enc.config.chrom_width, c.columns, c.rows),
                          plane_files[k])
                    << "format " << input_format << " chroma " << c.chroma_format << " plane " << k;
        }
    }
}

TEST(MakeSequenceInput_e2e, PpmLoadsCloseToTheSamePictureAsPlanes) {
    temp_dir dir;
    for (const char* format : {"0", "2"})
        ASSERT_EQ(generate(dir, {"--width", "64", "--height", "48", "--chroma", "3", "--frames", "1", "--format",
                                 format, "--pattern", std::string("f") + format + "_%d"})
                      .status,
                  0);
    configure(64, 48, 3, 2);
    load_source_frame((dir / "f2_0").c_str(), enc.buffers.new_org_frame);
    const char* suffixes[3] = {".Y", ".U", ".V"};
    for (int k = 0; k < 3; ++k) {
        std::string planes = read_file(dir / ("f0_0" + std::string(suffixes[k])));
        long total = 0;
        for (int i = 0; i < 64 * 48; ++i)
            total += std::abs(enc.buffers.new_org_frame[k][i] - static_cast<uint8_t>(planes[i]));
        EXPECT_LT(static_cast<double>(total) / (64 * 48), 2.0) << "plane " << k;
    }
}

}  // namespace
