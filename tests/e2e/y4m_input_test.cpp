// --input: the frames of a YUV4MPEG2 stream, from a file or through a pipe,
// give the outputs of the same frames as per-frame files byte for byte, and
// every fault of the stream ends the run with its message and status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

using kv = std::vector<std::pair<std::string, std::string>>;

struct input_case {
    std::string name;
    int width, height, chroma, frames;  // frames in the stream; frame_count may be fewer
    kv params;
    bool pipe;
    std::string header_fields = "F25:1 Ip A1:1";
    bool frame_parameters = false;         // FRAME lines with parameters
    std::vector<std::string> motion = {};  // empty: the builder's lines for M 3
};

void PrintTo(const input_case& c, std::ostream* os) { *os << c.name; }

const char* chroma_tag(int chroma) { return chroma == 1 ? "420jpeg" : chroma == 2 ? "422" : "444"; }

// The per-frame plane files srcN.Y/.U/.V of frames first .. first + count - 1 as one stream.
std::string y4m_of_plane_files(const temp_dir& dir, int width, int height, int chroma, int first, int count,
                               const std::string& fields, bool frame_parameters) {
    std::string out = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " " + fields + " C" +
                      chroma_tag(chroma) + " XYSCSS=TEST\n";
    for (int n = first; n < first + count; ++n) {
        out += frame_parameters ? "FRAME Ip XN=" + std::to_string(n) + "\n" : "FRAME\n";
        for (const char* plane : {".Y", ".U", ".V"}) out += read_file(dir / ("src" + std::to_string(n) + plane));
    }
    return out;
}

// Every file of a folder but the inputs, by name.
std::vector<std::pair<std::string, std::string>> outputs_of(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("src") || name == "in.par" || name == "clip.y4m") continue;
        files.emplace_back(name, read_file(e.path().string()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

class y4m_input : public testing::TestWithParam<input_case> {};

TEST_P(y4m_input, gives_the_outputs_of_per_frame_files) {
    const input_case& c = GetParam();
    temp_dir files_dir, stream_dir;
    int first = 0, frame_count = c.frames;
    for (const auto& [k, v] : c.params) {
        if (k == "first_frame_number") first = std::stoi(v);
        if (k == "frame_count") frame_count = std::stoi(v);
    }
    run_result gen =
        run_program({make_sequence_bin(), "--width", std::to_string(c.width), "--height", std::to_string(c.height),
                     "--chroma", std::to_string(c.chroma), "--frames", std::to_string(c.frames), "--first",
                     std::to_string(first), "--pattern", files_dir / "src%d"},
                    files_dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    write_file(stream_dir / "clip.y4m", y4m_of_plane_files(files_dir, c.width, c.height, c.chroma, first, c.frames,
                                                           c.header_fields, c.frame_parameters));

    param_file p;
    p.set("frame_count", c.frames).set("horizontal_size", c.width).set("vertical_size", c.height);
    p.set("display_horizontal_size", c.width).set("display_vertical_size", c.height);
    p.set("chroma_format", c.chroma).set("bit_rate", "1500000.0").set("vbv_buffer_size", 112);
    for (const auto& [k, v] : c.params) p.set(k, v);
    if (!c.motion.empty()) p.motion(c.motion);
    p.write(files_dir / "in.par");
    p.write(stream_dir / "in.par");

    const run_result from_files = run_program({morvane_bin(), "in.par", "out.m2v"}, files_dir.path());
    ASSERT_EQ(from_files.status, 0) << from_files.err;
    const run_result from_stream =
        c.pipe
            ? run_program({morvane_bin(), "--input=-", "in.par", "out.m2v"}, stream_dir.path(), stream_dir / "clip.y4m")
            : run_program({morvane_bin(), "--input=clip.y4m", "in.par", "out.m2v"}, stream_dir.path());
    EXPECT_EQ(from_stream.status, 0) << from_stream.err;

    EXPECT_TRUE(from_stream.out == from_files.out) << "stdout differs";
    // The trace names the frame of the stream where it named the files.
    const std::string shown = c.pipe ? "standard input" : "clip.y4m";
    std::string expected_err;
    const std::regex read_line(" read frame=src([0-9]+)\n");
    std::string rest = from_files.err;
    for (std::smatch m; std::regex_search(rest, m, read_line); rest = m.suffix())
        expected_err +=
            m.prefix().str() + " read frame=" + shown + " frame " + std::to_string(std::stoi(m[1]) - first) + "\n";
    expected_err += rest;
    EXPECT_EQ(from_stream.err, expected_err);

    const auto expected = outputs_of(files_dir.path());
    const auto actual = outputs_of(stream_dir.path());
    ASSERT_EQ(actual.size(), expected.size());
    ASSERT_GE(expected.size(), 2u + 4u * static_cast<std::size_t>(frame_count));  // stream, statistics, 4 per frame
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].first, expected[i].first);
        EXPECT_TRUE(actual[i].second == expected[i].second) << expected[i].first << " differs";
    }
}

const kv interlaced = {{"progressive_sequence", "0"},
                       {"progressive_frame", "0"},
                       {"frame_pred_frame_dct_tab", "0 0 0"},
                       {"top_field_first", "1"}};

kv with(kv base, const kv& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    streams, y4m_input,
    testing::Values(input_case{"420 M3 file", 64, 48, 1, 8, {{"N", "6"}, {"M", "3"}}, false},
                    input_case{"420 M3 pipe", 64, 48, 1, 8, {{"N", "6"}, {"M", "3"}}, true, "F25:1", true},
                    input_case{"422 M2 pipe", 48, 32, 2, 7, {{"N", "4"}, {"M", "2"}, {"profile", "1"}}, true},
                    input_case{
                        "444 M1 file", 40, 24, 3, 4, {{"N", "4"}, {"M", "1"}, {"profile", "8"}}, false, "", true},
                    input_case{"420 M4 field pictures pipe",
                               32,
                               64,
                               1,
                               9,
                               with(interlaced, {{"N", "8"}, {"M", "4"}, {"field_pictures", "1"}}),
                               true,
                               "F25:1 It",
                               false,
                               {"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 7 7", "1 1 7 7", "1 1 7 7", "1 1 3 3"}},
                    input_case{"first frame number and longer stream pipe",
                               64,
                               48,
                               1,
                               9,
                               {{"first_frame_number", "5"}, {"frame_count", "7"}},
                               true},
                    input_case{"mpeg1 M2 file", 64, 48, 1, 5, {{"N", "4"}, {"M", "2"}, {"mpeg1", "1"}}, false}),
    [](const testing::TestParamInfo<input_case>& info) { return test_name(info.param.name); });

// The per-frame files of a small 4:2:0 sequence, a parameter file for it,
// and a stream made from them to damage.
struct failing_run {
    temp_dir dir;
    param_file par;
    std::string stream;

    failing_run() {
        run_result gen = run_program(
            {make_sequence_bin(), "--width", "32", "--height", "16", "--frames", "4", "--pattern", dir / "src%d"},
            dir.path());
        EXPECT_EQ(gen.status, 0) << gen.err;
        stream = y4m_of_plane_files(dir, 32, 16, 1, 0, 4, "F25:1 Ip", false);
        par.set("frame_count", 4).set("horizontal_size", 32).set("vertical_size", 16);
        par.set("display_horizontal_size", 32).set("display_vertical_size", 16).set("recon_name_pattern", "-");
    }
};

struct fault_case {
    const char* name;
    std::string (*damage)(const std::string&);  // the stream as given
    kv params;
    std::string message;  // the last line of stderr, after "Couldn't read <name> ("
    bool at_start_up;     // the stream is refused before the output file exists
};

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }

const std::size_t frame_line = 6, frame_bytes = 32 * 16 * 3 / 2;
std::size_t header_end(const std::string& s) { return s.find('\n') + 1; }

const fault_case fault_cases[] = {
    {"not a y4m",
     [](const std::string&) { return std::string("P6\n32 16\n255\n"); },
     {},
     "not a YUV4MPEG2 stream: it starts with 'P6'",
     true},
    {"header without width",
     [](const std::string& s) { return "YUV4MPEG2 H16\n" + s.substr(header_end(s)); },
     {},
     "the header has no width (W field)",
     true},
    {"ten-bit chroma",
     [](const std::string& s) { return "YUV4MPEG2 W32 H16 C420p10\n" + s.substr(header_end(s)); },
     {},
     "chroma 'C420p10' is not supported: morvane reads 8-bit 420jpeg, 420mpeg2, 420paldv, 420, 422 and 444",
     true},
    {"other size",
     [](const std::string& s) { return s; },
     {{"horizontal_size", "48"}, {"display_horizontal_size", "48"}},
     "its pictures are 32x16; the parameter file has horizontal_size 48 and vertical_size 16",
     true},
    {"other chroma",
     [](const std::string& s) { return s; },
     {{"chroma_format", "2"}, {"profile", "1"}},
     "its chroma is 420jpeg, 4:2:0; the parameter file has chroma_format 2, 4:2:2",
     true},
    {"bad frame marker",
     [](const std::string& s) {
         std::string d = s;
         d[header_end(s) + 2 * (frame_line + frame_bytes)] = 'f';
         return d;
     },
     {},
     "the frame after 2 frames does not start with FRAME: found 'fRAME\\x0a",
     false},
    {"ends early",
     [](const std::string& s) { return s.substr(0, header_end(s) + 3 * (frame_line + frame_bytes)); },
     {},
     "the stream ends after 3 frames; the parameter file's frame_count is 4",
     false},
    {"ends inside a frame",
     [](const std::string& s) { return s.substr(0, header_end(s) + frame_line + 100); },
     {},
     "the stream ends after 0 frames, 100 bytes into the next of 768; the parameter file's frame_count is 4",
     false},
};

class y4m_input_fault : public testing::TestWithParam<fault_case> {};

TEST_P(y4m_input_fault, ends_the_run_with_its_message_and_status_1) {
    const fault_case& c = GetParam();
    for (bool pipe : {false, true}) {
        failing_run run;
        for (const auto& [k, v] : c.params) run.par.set(k, v);
        run.par.write(run.dir / "in.par");
        write_file(run.dir / "clip.y4m", c.damage(run.stream));
        const run_result r =
            pipe ? run_program({morvane_bin(), "--quiet", "--input=-", "in.par", "out.m2v"}, run.dir.path(),
                               run.dir / "clip.y4m")
                 : run_program({morvane_bin(), "--quiet", "--input=clip.y4m", "in.par", "out.m2v"}, run.dir.path());
        EXPECT_EQ(r.status, 1) << (pipe ? "pipe" : "file");
        const std::string expected =
            "Couldn't read " + std::string(pipe ? "standard input" : "clip.y4m") + " (" + c.message;
        EXPECT_EQ(r.err.substr(0, expected.size()), expected) << r.err;
        EXPECT_TRUE(r.err.ends_with(")\n")) << r.err;
        EXPECT_EQ(file_exists(run.dir / "out.m2v"), !c.at_start_up);
    }
}

INSTANTIATE_TEST_SUITE_P(faults, y4m_input_fault, testing::ValuesIn(fault_cases),
                         [](const testing::TestParamInfo<fault_case>& info) { return test_name(info.param.name); });

TEST(y4m_input_check, missing_file_is_named) {
    failing_run run;
    run.par.write(run.dir / "in.par");
    const run_result r = run_program({morvane_bin(), "--input=none.y4m", "in.par", "out.m2v"}, run.dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open none.y4m\n");
    EXPECT_FALSE(file_exists(run.dir / "out.m2v"));
}

// Another frame rate or interlacing is worth a warning, not a stop.
TEST(y4m_input_check, rate_and_interlacing_mismatch_warn_and_encode) {
    failing_run run;
    run.par.write(run.dir / "in.par");
    std::string stream = run.stream;
    stream.replace(0, header_end(stream), "YUV4MPEG2 W32 H16 F30000:1001 It C420jpeg\n");
    write_file(run.dir / "clip.y4m", stream);
    const run_result r =
        run_program({morvane_bin(), "--quiet", "--input=clip.y4m", "in.par", "out.m2v"}, run.dir.path());
    EXPECT_EQ(r.status, 0);
    // Warnings of the coding (of the VBV) may follow.
    EXPECT_TRUE(r.err.starts_with(
        "Warning: clip.y4m has 30000:1001 frames per second; the parameter file's frame_rate_code 3 is 25\n"
        "Warning: clip.y4m is interlaced (It); the parameter file codes progressive frames (progressive_frame 1)\n"))
        << r.err;
    EXPECT_TRUE(file_exists(run.dir / "out.m2v"));
}

// With --input the source pattern is not used: it may even be the reconstruction's.
TEST(y4m_input_check, source_pattern_is_not_used) {
    failing_run run;
    run.par.set("source_name_pattern", "rec%d").set("recon_name_pattern", "rec%d").write(run.dir / "in.par");
    write_file(run.dir / "clip.y4m", run.stream);
    const run_result r =
        run_program({morvane_bin(), "--quiet", "--input=clip.y4m", "in.par", "out.m2v"}, run.dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(run.dir / "rec3.YUV"));
}

}  // namespace
