// Starter parameter files: what they choose for streams of several shapes,
// that each reads back as an encode reads it without a word, and the
// streams no parameter file can describe.
#include "startup/starter_par.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/parameter_file.h"
#include "test_support.h"

using morvane_test::fatal_message;

namespace {

y4m_header header(const std::string& line) { return parse_y4m_header(line, "clip.y4m"); }

// Line n (1-based) of a parameter file, without its comment.
std::string value_of(const std::string& text, int n) {
    std::istringstream in(text);
    std::string line;
    for (int i = 0; i < n; ++i) std::getline(in, line);
    const std::size_t comment = line.find(" --");
    line = line.substr(0, comment);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

struct shape_case {
    const char* name;
    std::string header;
    int frames;
    // Values of lines: frame rate code (18), bit rate (19), VBV (20), profile (23), level (24),
    // progressive_sequence (25), chroma (26), top_field_first (34), frame_pred_frame_dct (35), N (11), aspect (17).
    std::string rate_code, bit_rate, vbv, profile, level, progressive, chroma, tff, fpfd, N, aspect;
    std::string first_motion_line;  // the closest example's
    std::vector<std::string> notes;
    std::string warning = "";  // what reading it back prints
};

void PrintTo(const shape_case& c, std::ostream* os) { *os << c.name; }

const std::string no_444_profile =
    "no MPEG-2 profile has 4:4:4: profile 8 (reserved) skips the conformance checks, and fewer players take the "
    "stream";
const std::string reserved_warning = "Warning: profile uses a reserved value, conformance checks skipped\n";

// clang-format off
const shape_case shape_cases[] = {
    //                                                                      rate  bit rate      VBV    prof lvl   prog chroma tff fpfd    N     aspect motion
    {"cif 25 progressive", "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg", 300, "3", "1500000.0", "29", "4", "10", "1", "1", "0", "1 1 1", "12", "1", "2 2 11 11", {}},
    {"sd pal interlaced top first", "YUV4MPEG2 W720 H576 F25:1 It A16:15 C420mpeg2", 50,
                                                                            "3", "6000000.0", "112", "4", "8",  "0", "1", "1", "0 0 0", "12", "2", "2 2 15 15", {}},
    {"sd ntsc bottom first wide", "YUV4MPEG2 W720 H480 F30000:1001 Ib A40:33 C420mpeg2", 10,
                                                                            "4", "5994000.0", "112", "4", "8",  "0", "1", "0", "0 0 0", "15", "3", "2 2 15 15", {}},
    {"hd 1080 progressive 25", "YUV4MPEG2 W1920 H1080 F25:1 Ip A1:1", 5,    "3", "20000000.0", "597", "4", "4", "1", "1", "0", "1 1 1", "12", "1", "3 3 31 31", {}},
    {"720p 50 needs high 1440", "YUV4MPEG2 W1280 H720 F50:1 Ip", 5,         "6", "26667000.0", "448", "4", "6", "1", "1", "0", "1 1 1", "24", "1", "2 2 15 15", {}},
    {"422 interlaced", "YUV4MPEG2 W720 H576 F25:1 It C422", 3,              "3", "8000000.0", "112", "1", "8",  "0", "2", "1", "0 0 0", "12", "1", "2 2 15 15", {}},
    {"444 small", "YUV4MPEG2 W64 H48 F24:1 Ip C444", 4,                     "2", "300000.0",  "9",   "8", "4",  "1", "3", "0", "1 1 1", "12", "1", "2 2 11 11",
     {no_444_profile}, reserved_warning},
    {"tiny pictures get the lowest bit rate", "YUV4MPEG2 W64 H48", 7,       "3", "300000.0",  "9",   "4", "10", "1", "1", "0", "1 1 1", "12", "1", "2 2 11 11",
     {"clip.y4m gives no frame rate: 25 frames per second (frame_rate_code 3) assumed"}},
    {"rate without a code", "YUV4MPEG2 W352 H288 F15:1 Ip", 2,              "1", "1439000.0", "29",  "4", "10", "1", "1", "0", "1 1 1", "12", "1", "2 2 11 11",
     {"15 frames per second has no MPEG-2 code: frame_rate_code 1 (23.976) is the nearest, and the stream will play at that rate"}},
    {"too large for any level", "YUV4MPEG2 W3840 H2160 F25:1 Ip", 1,        "3", "80000000.0", "2441", "8", "4", "1", "1", "0", "1 1 1", "12", "1", "3 3 31 31",
     {"no MPEG-2 level admits 3840x2160 at 25 frames per second: profile 8 (reserved) skips the conformance checks, and fewer players take the stream"},
     reserved_warning},
    {"mixed interlacing and odd aspect", "YUV4MPEG2 W352 H288 F25:1 Im A3:1", 0,
                                                                            "3", "1500000.0", "29",  "4", "10", "1", "1", "0", "1 1 1", "12", "1", "2 2 11 11",
     {"clip.y4m mixes progressive and interlaced frames: coded progressive", "clip.y4m holds no frames",
      "clip.y4m has samples of aspect 3:1, a display shape MPEG-2 cannot signal: square samples written"}},
};
// clang-format on

class starter_shape : public testing::TestWithParam<shape_case> {};

TEST_P(starter_shape, chooses_what_admits_the_stream_and_reads_back_cleanly) {
    const shape_case& c = GetParam();
    const starter_file f = starter_parameters(header(c.header), c.frames, "clip.y4m", "clip.stats.txt");
    const std::string& t = f.text;
    EXPECT_EQ(value_of(t, 1), "morvane starter parameters for clip.y4m");
    EXPECT_EQ(value_of(t, 6), "clip.stats.txt");
    EXPECT_EQ(value_of(t, 8), std::to_string(c.frames));
    EXPECT_EQ(value_of(t, 11), c.N);
    EXPECT_EQ(value_of(t, 17), c.aspect);
    EXPECT_EQ(value_of(t, 18), c.rate_code);
    EXPECT_EQ(value_of(t, 19), c.bit_rate);
    EXPECT_EQ(value_of(t, 20), c.vbv);
    EXPECT_EQ(value_of(t, 23), c.profile);
    EXPECT_EQ(value_of(t, 24), c.level);
    EXPECT_EQ(value_of(t, 25), c.progressive);
    EXPECT_EQ(value_of(t, 26), c.chroma);
    EXPECT_EQ(value_of(t, 34), c.tff);
    EXPECT_EQ(value_of(t, 35), c.fpfd);
    EXPECT_EQ(value_of(t, 41), c.progressive);
    EXPECT_EQ(value_of(t, 51), c.first_motion_line);
    EXPECT_EQ(f.notes, c.notes);

    // Every line fits what the reader takes in one go.
    std::istringstream lines(t);
    for (std::string l; std::getline(lines, l);) EXPECT_LT(l.size(), 200u) << l;

    morvane_test::temp_dir dir;
    morvane_test::write_file(dir / "clip.par", t);
    reset_encoder_state();
    testing::internal::CaptureStderr();
    const std::string problem = fatal_message([&] { read_parameter_file((dir / "clip.par").c_str()); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
    EXPECT_EQ(problem, "<no fatal error>");
    EXPECT_EQ(enc.config.horizontal_size, header(c.header).width);
    EXPECT_EQ(enc.config.frame_count, c.frames);
    EXPECT_EQ(enc.config.M, 3);
}

INSTANTIATE_TEST_SUITE_P(shapes, starter_shape, testing::ValuesIn(shape_cases), morvane_test::name_field());

struct refused_case {
    const char* name;
    std::string header;
    std::string problem;
};

void PrintTo(const refused_case& c, std::ostream* os) { *os << c.name; }

const refused_case refused_cases[] = {
    {"odd width 420", "YUV4MPEG2 W353 H288",
     "its width 353 is odd, and 420jpeg needs an even width; crop or scale it first, as ffmpeg -vf crop=352:ih"},
    {"odd width 422", "YUV4MPEG2 W65 H48 C422",
     "its width 65 is odd, and 422 needs an even width; crop or scale it first, as ffmpeg -vf crop=64:ih"},
    {"odd height 420", "YUV4MPEG2 W64 H49 C420mpeg2",
     "its height 49 is odd, and 420mpeg2 needs an even height; crop or scale it first, as ffmpeg -vf crop=iw:48"},
    {"width a multiple of 4096", "YUV4MPEG2 W4096 H2160 C444",
     "MPEG-2 cannot code a width or height that is a multiple of 4096; crop or scale it first, as ffmpeg -vf "
     "crop=iw-16:ih-16"},
    {"too large", "YUV4MPEG2 W20000 H100", "its pictures of 20000x100 are larger than MPEG-2 allows, 16383x16383"},
};

class starter_refused : public testing::TestWithParam<refused_case> {};

TEST_P(starter_refused, names_the_stream_and_what_to_do) {
    const refused_case& c = GetParam();
    EXPECT_EQ(fatal_message([&] { starter_parameters(header(c.header), 1, "clip.y4m", "s.txt"); }),
              "Couldn't make a parameter file for clip.y4m (" + c.problem + ")");
}

INSTANTIATE_TEST_SUITE_P(cases, starter_refused, testing::ValuesIn(refused_cases), morvane_test::name_field());

TEST(starter_statistics_name, sits_beside_the_parameter_file) {
    const std::pair<const char*, const char*> cases[] = {
        {"clip.par", "clip.stats.txt"}, {"dir/clip.par", "dir/clip.stats.txt"},
        {"clip", "clip.stats.txt"},     {"d.x/clip", "d.x/clip.stats.txt"},
        {".par", ".par.stats.txt"},     {"my clip.par", "stats.txt"},
        {"-x.par", "stats.txt"}};
    for (const auto& [par, stats] : cases) EXPECT_EQ(starter_statistics_name(par), stats) << par;
}

}  // namespace
