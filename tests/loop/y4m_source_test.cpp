// Source pictures from a YUV4MPEG2 stream: each frame lands in the frame
// buffer exactly as its per-frame files would put it, in coding order, from
// a window of frames read ahead; every mismatch and damage is named.
#include "loop/y4m_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "loop/coding_order.h"
#include "loop/source_frame.h"
#include "picture_setup.h"
#include "test_support.h"

using morvane_test::temp_dir;
using morvane_test::write_file;

using morvane_test::fatal_message;

namespace {

struct stream_shape {
    int width, height, chroma_format;
    int frame_rate_code = 3, progressive_frame = 1, top_field_first = 0, frame_count = 7, M = 3;
};

void configure(const stream_shape& s) {
    close_source_stream();
    morvane_test::start_encoder({s.width, s.height, s.chroma_format}, [&](encoder_config& cfg) {
        cfg.frame_rate_code = s.frame_rate_code;
        cfg.frame_rate = s.frame_rate_code == 3 ? 25.0 : 30000.0 / 1001.0;
        cfg.progressive_frame = s.progressive_frame;
        cfg.top_field_first = s.top_field_first;
        cfg.frame_count = s.frame_count;
        cfg.M = s.M;
    });
}

// The three visible planes of frame n, each sample telling frame, plane and place apart.
std::string frame_planes_bytes(int n, int columns, int rows, int chroma_columns, int chroma_rows) {
    std::string s;
    for (int k = 0; k < 3; ++k) {
        const int w = k == 0 ? columns : chroma_columns, h = k == 0 ? rows : chroma_rows;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) s.push_back(static_cast<char>((31 * n + 89 * k + 7 * r + 3 * c) % 251));
    }
    return s;
}

int chroma_w(const stream_shape& s) { return s.chroma_format == CHROMA444 ? s.width : s.width / 2; }
int chroma_h(const stream_shape& s) { return s.chroma_format == CHROMA420 ? s.height / 2 : s.height; }

std::string y4m_stream(const stream_shape& s, int frames, const std::string& fields = "F25:1 Ip") {
    const char* tag = s.chroma_format == CHROMA420 ? "420jpeg" : s.chroma_format == CHROMA422 ? "422" : "444";
    std::string out =
        "YUV4MPEG2 W" + std::to_string(s.width) + " H" + std::to_string(s.height) + " C" + tag + " " + fields + "\n";
    for (int n = 0; n < frames; ++n) {
        out += n % 2 ? "FRAME Ip XNOTE=x\n" : "FRAME\n";
        out += frame_planes_bytes(n, s.width, s.height, chroma_w(s), chroma_h(s));
    }
    return out;
}

// The same frame from its three files, as input format 0 reads it.
std::vector<uint8_t> from_plane_files(const stream_shape& s, int n, const temp_dir& dir) {
    const std::string planes = frame_planes_bytes(n, s.width, s.height, chroma_w(s), chroma_h(s));
    const std::size_t y = static_cast<std::size_t>(s.width) * s.height;
    const std::size_t c = static_cast<std::size_t>(chroma_w(s)) * chroma_h(s);
    write_file(dir / "f.Y", planes.substr(0, y));
    write_file(dir / "f.U", planes.substr(y, c));
    write_file(dir / "f.V", planes.substr(y + c, c));
    frame_planes frame = enc.buffers.old_org_frame;
    load_source_frame((dir / "f").c_str(), frame);
    const encoder_config& cfg = enc.config;
    std::vector<uint8_t> whole(frame[0], frame[0] + cfg.width * cfg.height);
    for (int k = 1; k < 3; ++k) whole.insert(whole.end(), frame[k], frame[k] + cfg.chrom_width * cfg.chrom_height);
    return whole;
}

std::vector<uint8_t> padded_planes(const frame_planes& frame) {
    const encoder_config& cfg = enc.config;
    std::vector<uint8_t> whole(frame[0], frame[0] + cfg.width * cfg.height);
    for (int k = 1; k < 3; ++k) whole.insert(whole.end(), frame[k], frame[k] + cfg.chrom_width * cfg.chrom_height);
    return whole;
}

struct order_case {
    const char* name;
    stream_shape shape;
};

void PrintTo(const order_case& c, std::ostream* os) { *os << c.name; }

class y4m_coding_order : public testing::TestWithParam<order_case> {};

// Sizes that are no multiple of 16 show that the padding is the files' too.
TEST_P(y4m_coding_order, gives_each_frame_as_its_plane_files_would) {
    const stream_shape& s = GetParam().shape;
    configure(s);
    temp_dir dir;
    write_file(dir / "clip.y4m", y4m_stream(s, s.frame_count));
    open_source_stream(dir / "clip.y4m");
    for (int i = 0; i < s.frame_count; ++i) {
        const int display = plan_frame(i, 2 * s.M, s.M, s.frame_count).display_number;
        load_stream_frame(display, enc.buffers.new_org_frame);
        const std::vector<uint8_t> got = padded_planes(enc.buffers.new_org_frame);
        ASSERT_TRUE(got == from_plane_files(s, display, dir)) << "frame " << i << " (display " << display << ")";
        EXPECT_EQ(stream_frame_name(display), dir / "clip.y4m" + " frame " + std::to_string(display));
    }
    EXPECT_EQ(stream_window_frames(), 0);
    EXPECT_EQ(stream_window_peak(), s.M - 1);
    close_source_stream();
}

INSTANTIATE_TEST_SUITE_P(
    shapes, y4m_coding_order,
    testing::Values(order_case{"420 M3", {40, 24, CHROMA420}}, order_case{"422 M2", {24, 18, CHROMA422, 3, 1, 0, 6, 2}},
                    order_case{"444 M1", {20, 12, CHROMA444, 3, 1, 0, 4, 1}},
                    order_case{"420 M4 last reference lowered", {32, 16, CHROMA420, 3, 1, 0, 10, 4}}),
    morvane_test::name_field());

TEST(y4m_source, opens_standard_input_by_a_dash_and_names_it) {
    configure({16, 16, CHROMA420});
    temp_dir dir;
    write_file(dir / "clip.y4m", y4m_stream({16, 16, CHROMA420}, 1));
    ASSERT_NE(std::freopen((dir / "clip.y4m").c_str(), "rb", stdin), nullptr);
    open_source_stream("-");
    EXPECT_EQ(stream_frame_name(0), "standard input frame 0");
    load_stream_frame(0, enc.buffers.new_org_frame);
    EXPECT_EQ(enc.buffers.new_org_frame[0][1], 3);
    close_source_stream();
}

struct failure_case {
    const char* name;
    stream_shape shape;  // the parameter file's
    std::string stream;  // "" : the shape's own stream of three frames
    int frames_to_load;
    std::string message;  // after "Couldn't read <file> ("
};

const stream_shape small = {16, 16, CHROMA420};

std::string cut(const std::string& s, std::size_t drop) { return s.substr(0, s.size() - drop); }

const failure_case failure_cases[] = {
    {"other size", small, y4m_stream({32, 16, CHROMA420}, 1), 0,
     "its pictures are 32x16; the parameter file has horizontal_size 16 and vertical_size 16)"},
    {"other chroma", small, y4m_stream({16, 16, CHROMA422}, 1), 0,
     "its chroma is 422, 4:2:2; the parameter file has chroma_format 1, 4:2:0)"},
    {"plain 420 for 444",
     {16, 16, CHROMA444},
     "YUV4MPEG2 W16 H16 C420\n",
     0,
     "its chroma is 420, 4:2:0; the parameter file has chroma_format 3, 4:4:4)"},
    {"ends before frame_count", small, y4m_stream(small, 3), 4,
     "the stream ends after 3 frames; the parameter file's frame_count is 7)"},
    {"ends inside a frame", small, cut(y4m_stream(small, 3), 100), 3,
     "the stream ends after 2 frames, 284 bytes into the next of 384; the parameter file's frame_count is 7)"},
    {"no frame at all", small, y4m_stream(small, 0), 1,
     "the stream ends after 0 frames; the parameter file's frame_count is 7)"},
    {"bad frame marker", small, y4m_stream(small, 1) + "FRAMEX\n", 2,
     "the frame header after 1 frame is FRAME followed by 'X', not by a space or a line end)"},
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.name; }

class y4m_source_failure : public testing::TestWithParam<failure_case> {};

TEST_P(y4m_source_failure, is_fatal_naming_the_file_and_both_values) {
    const failure_case& c = GetParam();
    configure(c.shape);
    temp_dir dir;
    write_file(dir / "clip.y4m", c.stream);
    const std::string message = fatal_message([&] {
        open_source_stream(dir / "clip.y4m");
        for (int n = 0; n < c.frames_to_load; ++n) load_stream_frame(n, enc.buffers.new_org_frame);
    });
    EXPECT_EQ(message, "Couldn't read " + dir / "clip.y4m" + " (" + c.message);
    close_source_stream();
}

INSTANTIATE_TEST_SUITE_P(cases, y4m_source_failure, testing::ValuesIn(failure_cases), morvane_test::name_field());

TEST(y4m_source, missing_file_is_fatal_naming_it) {
    configure(small);
    EXPECT_EQ(fatal_message([] { open_source_stream("/nonexistent/clip.y4m"); }),
              "Couldn't open /nonexistent/clip.y4m");
    EXPECT_FALSE(source_stream_open());
}

struct warning_case {
    const char* name;
    stream_shape shape;
    std::string fields;
    std::string warning;  // "" for none; %s stands for the file name
};

const warning_case warning_cases[] = {
    {"same rate progressive", small, "F25:1 Ip", ""},
    {"unknown rate and interlacing", small, "", ""},
    {"mixed interlacing", small, "F25:1 Im", ""},
    {"other rate", small, "F30000:1001 Ip",
     "Warning: %s has 30000:1001 frames per second; the parameter file's frame_rate_code 3 is 25\n"},
    {"ntsc rate", {16, 16, CHROMA420, 4}, "F30000:1001 Ip", ""},
    {"ntsc rate as 30",
     {16, 16, CHROMA420, 4},
     "F30:1",
     "Warning: %s has 30 frames per second; the parameter file's frame_rate_code 4 is 29.97\n"},
    {"interlaced source, progressive coding", small, "F25:1 It",
     "Warning: %s is interlaced (It); the parameter file codes progressive frames (progressive_frame 1)\n"},
    {"progressive source, interlaced coding",
     {16, 16, CHROMA420, 3, 0, 1},
     "F25:1 Ip",
     "Warning: %s is progressive (Ip); the parameter file codes interlaced frames (progressive_frame 0)\n"},
    {"top first, coded bottom first",
     {16, 16, CHROMA420, 3, 0, 0},
     "F25:1 It",
     "Warning: %s has the top field first (It); the parameter file has top_field_first 0\n"},
    {"bottom first, coded top first",
     {16, 16, CHROMA420, 3, 0, 1},
     "F25:1 Ib",
     "Warning: %s has the bottom field first (Ib); the parameter file has top_field_first 1\n"},
    {"bottom first, coded so", {16, 16, CHROMA420, 3, 0, 0}, "F25:1 Ib", ""},
    {"rate and interlacing both", small, "F50:1 It",
     "Warning: %s has 50 frames per second; the parameter file's frame_rate_code 3 is 25\n"
     "Warning: %s is interlaced (It); the parameter file codes progressive frames (progressive_frame 1)\n"},
};

void PrintTo(const warning_case& c, std::ostream* os) { *os << c.name; }

class y4m_source_warning : public testing::TestWithParam<warning_case> {};

TEST_P(y4m_source_warning, names_the_file_and_both_values) {
    const warning_case& c = GetParam();
    configure(c.shape);
    temp_dir dir;
    const std::string name = dir / "clip.y4m";
    write_file(name, y4m_stream(c.shape, 1, c.fields));
    testing::internal::CaptureStderr();
    open_source_stream(name);
    const std::string err = testing::internal::GetCapturedStderr();
    std::string expected = c.warning;
    for (std::size_t at; (at = expected.find("%s")) != std::string::npos;) expected.replace(at, 2, name);
    EXPECT_EQ(err, expected);
    // A warning leaves the stream usable.
    load_stream_frame(0, enc.buffers.new_org_frame);
    close_source_stream();
}

INSTANTIATE_TEST_SUITE_P(cases, y4m_source_warning, testing::ValuesIn(warning_cases), morvane_test::name_field());

}  // namespace
