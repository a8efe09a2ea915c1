// YUV4MPEG2 header lines and frame markers: what is read from them, and the
// message of every way they can be wrong.
#include "driver/y4m.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

#include "driver/coding_types.h"
#include "driver/fatal.h"
#include "test_support.h"

using morvane_test::fatal_message;

namespace {

// A stream in memory, read as a file.
struct memory_stream {
    explicit memory_stream(const std::string& bytes) : text(bytes) {
        // fmemopen refuses an empty buffer: an empty stream is a file that ends at once.
        file = text.empty() ? std::tmpfile() : fmemopen(text.data(), text.size(), "rb");
    }
    ~memory_stream() { std::fclose(file); }
    std::string text;
    std::FILE* file;
};

struct header_case {
    const char* name;
    std::string line;
    int width, height, chroma_format;
    std::string chroma_tag;
    int rate_num, rate_den;
    char interlace;
    int aspect_num, aspect_den;
};

const header_case header_cases[] = {
    {"ffmpeg 420", "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", 352, 288, CHROMA420, "420jpeg", 25, 1,
     'p', 1, 1},
    {"no C field is 420jpeg", "YUV4MPEG2 W64 H48", 64, 48, CHROMA420, "420jpeg", 0, 0, '?', 0, 0},
    {"420mpeg2 top field first", "YUV4MPEG2 W720 H576 F30000:1001 It A16:15 C420mpeg2", 720, 576, CHROMA420, "420mpeg2",
     30000, 1001, 't', 16, 15},
    {"420paldv bottom first", "YUV4MPEG2 C420paldv Ib W720 H576", 720, 576, CHROMA420, "420paldv", 0, 0, 'b', 0, 0},
    {"plain 420 mixed", "YUV4MPEG2 W16 H16 C420 Im", 16, 16, CHROMA420, "420", 0, 0, 'm', 0, 0},
    {"422", "YUV4MPEG2 W64 H48 C422 F50:1", 64, 48, CHROMA422, "422", 50, 1, '?', 0, 0},
    {"444 unknown interlacing", "YUV4MPEG2 W64 H48 C444 I?", 64, 48, CHROMA444, "444", 0, 0, '?', 0, 0},
    {"unknown rate and aspect", "YUV4MPEG2 W64 H48 F0:0 A0:0", 64, 48, CHROMA420, "420jpeg", 0, 0, '?', 0, 0},
    {"later field wins", "YUV4MPEG2 W8 H8 W64 H48", 64, 48, CHROMA420, "420jpeg", 0, 0, '?', 0, 0},
    {"unknown fields and double spaces", "YUV4MPEG2  W64  H48 Zsomething X", 64, 48, CHROMA420, "420jpeg", 0, 0, '?', 0,
     0},
};

void PrintTo(const header_case& c, std::ostream* os) { *os << c.name; }

class y4m_header_read : public testing::TestWithParam<header_case> {};

TEST_P(y4m_header_read, gives_every_field) {
    const header_case& c = GetParam();
    const y4m_header h = parse_y4m_header(c.line, "clip.y4m");
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.chroma_format, c.chroma_format);
    EXPECT_EQ(h.chroma_tag, c.chroma_tag);
    EXPECT_EQ(h.rate_num, c.rate_num);
    EXPECT_EQ(h.rate_den, c.rate_den);
    EXPECT_EQ(h.interlace, c.interlace);
    EXPECT_EQ(h.aspect_num, c.aspect_num);
    EXPECT_EQ(h.aspect_den, c.aspect_den);
}

INSTANTIATE_TEST_SUITE_P(cases, y4m_header_read, testing::ValuesIn(header_cases), morvane_test::name_field());

struct bad_header_case {
    const char* name;
    std::string stream;  // whole stream bytes, header line first
    std::string problem;
};

const bad_header_case bad_header_cases[] = {
    {"empty stream", "", "the stream is empty"},
    {"another format", "P6\n64 48\n255\n", "not a YUV4MPEG2 stream: it starts with 'P6'"},
    {"another format without line end", "\x89PNG\r\n\x1a", "not a YUV4MPEG2 stream: it starts with '\\x89PNG\\x0d'"},
    {"magic glued to a field", "YUV4MPEG2W64 H48\n", "not a YUV4MPEG2 stream: it starts with 'YUV4MPEG2W64 H48'"},
    {"no line end", "YUV4MPEG2 W64 H48", "the stream ends inside its header line"},
    {"overlong header", "YUV4MPEG2 W64 H48 X" + std::string(5000, 'a') + "\n",
     "its header line is longer than 4096 bytes"},
    {"no width", "YUV4MPEG2 H48 C420\n", "the header has no width (W field)"},
    {"no height", "YUV4MPEG2 W64\n", "the header has no height (H field)"},
    {"zero width", "YUV4MPEG2 W0 H48\n", "invalid width 'W0' in the header: W takes a number of samples"},
    {"negative height", "YUV4MPEG2 W64 H-48\n", "invalid height 'H-48' in the header: H takes a number of lines"},
    {"height with letters", "YUV4MPEG2 W64 H48p\n", "invalid height 'H48p' in the header: H takes a number of lines"},
    {"rate without colon", "YUV4MPEG2 W64 H48 F25\n",
     "invalid frame rate 'F25' in the header: F takes frames:seconds, as F25:1"},
    {"rate with zero seconds", "YUV4MPEG2 W64 H48 F25:0\n",
     "invalid frame rate 'F25:0' in the header: F takes frames:seconds, as F25:1"},
    {"aspect without colon", "YUV4MPEG2 W64 H48 A1\n",
     "invalid sample aspect ratio 'A1' in the header: A takes width:height, as A1:1"},
    {"interlacing letter", "YUV4MPEG2 W64 H48 Ix\n", "invalid interlacing 'Ix' in the header: I takes p, t, b, m or ?"},
    {"ten-bit chroma", "YUV4MPEG2 W64 H48 C420p10 XYSCSS=420P10\n",
     "chroma 'C420p10' is not supported: morvane reads 8-bit 420jpeg, 420mpeg2, 420paldv, 420, 422 and 444"},
    {"monochrome", "YUV4MPEG2 W64 H48 Cmono\n",
     "chroma 'Cmono' is not supported: morvane reads 8-bit 420jpeg, 420mpeg2, 420paldv, 420, 422 and 444"},
};

void PrintTo(const bad_header_case& c, std::ostream* os) { *os << c.name; }

class y4m_bad_header : public testing::TestWithParam<bad_header_case> {};

TEST_P(y4m_bad_header, is_fatal_naming_the_stream_and_the_problem) {
    memory_stream s(GetParam().stream);
    EXPECT_EQ(fatal_message([&] { read_y4m_header(s.file, "clip.y4m"); }),
              "Couldn't read clip.y4m (" + GetParam().problem + ")");
}

INSTANTIATE_TEST_SUITE_P(cases, y4m_bad_header, testing::ValuesIn(bad_header_cases), morvane_test::name_field());

TEST(y4m_header, leaves_the_stream_at_the_first_frame) {
    memory_stream s("YUV4MPEG2 W2 H2 C444\nFRAME\n");
    const y4m_header h = read_y4m_header(s.file, "-");
    EXPECT_EQ(h.frame_bytes(), 12u);
    EXPECT_TRUE(read_y4m_frame_marker(s.file, "-", 0));
}

TEST(y4m_header, plane_sizes_round_odd_chroma_up) {
    y4m_header h;
    h.width = 5;
    h.height = 3;
    for (auto [format, columns, rows] : {std::tuple{CHROMA420, 3, 2}, {CHROMA422, 3, 3}, {CHROMA444, 5, 3}}) {
        h.chroma_format = format;
        EXPECT_EQ(h.chroma_columns(), columns);
        EXPECT_EQ(h.chroma_rows(), rows);
        EXPECT_EQ(h.frame_bytes(), 15u + 2u * columns * rows);
    }
}

TEST(y4m_header, names_standard_input_by_its_name) {
    EXPECT_EQ(y4m_shown_name("-"), "standard input");
    EXPECT_EQ(y4m_shown_name("clip.y4m"), "clip.y4m");
}

struct marker_case {
    const char* name;
    std::string bytes;
    std::string problem;  // empty: read, true; "end": false
    std::string rest;     // what follows the marker
};

const marker_case marker_cases[] = {
    {"plain", "FRAME\nabc", "", "abc"},
    {"with parameters", "FRAME Ip XFOO=1\nabc", "", "abc"},
    {"clean end", "", "end", ""},
    {"end inside the marker", "FRA", "the stream ends after 3 frames, inside the next frame's header", ""},
    {"end after the marker", "FRAME", "the stream ends after 3 frames, inside the next frame's header", ""},
    {"end inside parameters", "FRAME Ip", "the stream ends after 3 frames, inside the next frame's header", ""},
    {"wrong word", "FRAMX\nabc", "the frame after 3 frames does not start with FRAME: found 'FRAMX\\x0aabc'", ""},
    {"plane bytes where a marker belongs", std::string("\x10\x10\x80\x80zzzzzzzzzzzzzzzzzzzz"),
     "the frame after 3 frames does not start with FRAME: found '\\x10\\x10\\x80\\x80zzzzzzzzzzzz'", ""},
    {"glued letter", "FRAMES\n",
     "the frame header after 3 frames is FRAME followed by 'S', not by a space or a line end", ""},
    {"parameters without line end", "FRAME " + std::string(5000, 'x'),
     "the frame header after 3 frames has no line end in its first 4096 bytes", ""},
};

void PrintTo(const marker_case& c, std::ostream* os) { *os << c.name; }

class y4m_frame_marker : public testing::TestWithParam<marker_case> {};

TEST_P(y4m_frame_marker, is_read_or_named) {
    const marker_case& c = GetParam();
    memory_stream s(c.bytes);
    if (c.problem.empty()) {
        EXPECT_TRUE(read_y4m_frame_marker(s.file, "clip.y4m", 3));
        char rest[8] = {};
        EXPECT_EQ(std::string(rest, std::fread(rest, 1, sizeof rest, s.file)), c.rest);
    } else if (c.problem == "end") {
        EXPECT_FALSE(read_y4m_frame_marker(s.file, "clip.y4m", 3));
    } else {
        EXPECT_EQ(fatal_message([&] { read_y4m_frame_marker(s.file, "clip.y4m", 3); }),
                  "Couldn't read clip.y4m (" + c.problem + ")");
    }
}

INSTANTIATE_TEST_SUITE_P(cases, y4m_frame_marker, testing::ValuesIn(marker_cases), morvane_test::name_field());

TEST(y4m_rate, reads_as_a_whole_number_or_a_ratio) {
    y4m_header h;
    h.rate_num = 25;
    h.rate_den = 1;
    EXPECT_EQ(y4m_rate_text(h), "25");
    h.rate_num = 30000;
    h.rate_den = 1001;
    EXPECT_EQ(y4m_rate_text(h), "30000:1001");
}

}  // namespace
