// A run stopped by a fatal error keeps every byte it wrote before: the
// stream, the statistics and the trace are each the matching beginning of a
// complete run's, however the files are buffered.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"

using namespace morvane_test;

namespace {

std::string first_lines(const std::string& text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i) end = text.find('\n', end) + 1;
    return text.substr(0, end);
}

// Sizes, then contents: a failure names the lengths instead of printing whole files.
void expect_same(const std::string& actual, const std::string& expected, const char* what) {
    EXPECT_EQ(actual.size(), expected.size()) << what;
    EXPECT_TRUE(actual == expected) << what;
}

std::size_t line_count(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(fatal_stop, keeps_what_was_written_before) {
    temp_dir dir;
    const int frames = 7;
    run_result gen = run_program({make_sequence_bin(), "--width", "128", "--height", "96", "--frames",
                                  std::to_string(frames), "--pattern", dir / "src%d"},
                                 dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    param_file p;
    p.set("frame_count", frames).set("N", 12).set("horizontal_size", 128).set("vertical_size", 96);
    p.set("display_horizontal_size", 128).set("display_vertical_size", 96);
    p.set("statistics_file_name", "full.txt").write(dir / "full.par");
    p.set("statistics_file_name", "cut.txt").write(dir / "cut.par");

    run_result full = run_program({morvane_bin(), "full.par", "full.m2v"}, dir.path());
    ASSERT_EQ(full.status, 0) << full.err;
    // In coding order I0 P3 B1 B2 P6 B4 B5: the fifth frame stops on its missing source.
    for (const char* plane : {".Y", ".U", ".V"}) std::remove((dir / "src6" + plane).c_str());
    run_result cut = run_program({morvane_bin(), "cut.par", "cut.m2v"}, dir.path());
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err.substr(cut.err.rfind("Couldn't")), "Couldn't open src6.Y\n\n");

    const std::size_t done = 4;
    const std::string full_stats = read_file(dir / "full.txt");
    const std::size_t header = full_stats.find("\nFrame 4 (");
    ASSERT_NE(header, std::string::npos);
    expect_same(read_file(dir / "cut.txt"), full_stats.substr(0, full_stats.find(" pict_type", header)), "statistics");

    ASSERT_EQ(line_count(full.out) % frames, 0u);
    expect_same(cut.out, first_lines(full.out, line_count(full.out) / frames * done), "trace");

    // Up to the fifth picture start code, less the last picture's final bits,
    // which wait in the writer for the next start code's alignment.
    const std::string full_stream = read_file(dir / "full.m2v");
    const std::string cut_stream = read_file(dir / "cut.m2v");
    const std::string picture_start("\0\0\1\0", 4);
    std::size_t fifth = 0;
    for (std::size_t i = 0; i <= done; ++i) fifth = full_stream.find(picture_start, i == 0 ? 0 : fifth + 1);
    ASSERT_NE(fifth, std::string::npos);
    EXPECT_LE(fifth - cut_stream.size(), 1u);
    expect_same(cut_stream, full_stream.substr(0, cut_stream.size()), "stream");
}

}  // namespace
