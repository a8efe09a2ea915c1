// tools/plot_stats.py on the statistics of real runs: the PNG is written,
// and every point it draws (read back from the figure) is the value the
// statistics file gives for that picture; files that are no statistics or
// are cut short are refused with a message.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

const char python[] = "/usr/bin/python3";

std::string plot_tool() { return source_dir() + "/tools/plot_stats.py"; }

using kv = std::vector<std::pair<std::string, std::string>>;

struct plot_case {
    std::string name;
    kv params;
    int frames;
    int pictures;  // fields count one each
};

void PrintTo(const plot_case& c, std::ostream* os) { *os << c.name; }

using series_map = std::map<std::string, std::vector<std::pair<double, double>>>;

// The statistics file read here on its own: one point per picture and series.
series_map expected_points(const std::string& stats) {
    series_map points;
    std::istringstream in(stats);
    int picture = -1;
    char type = '?';
    for (std::string line; std::getline(in, line);) {
        const char* l = line.c_str();
        int digit = 0;
        long long n = 0;
        char text[64];
        if (line.rfind(" pict_type", 0) == 0 && std::strchr(l, '=')) {
            digit = std::atoi(std::strchr(l, '=') + 1);
            type = " IPB"[digit];
            ++picture;
        } else if (picture < 0) {
            continue;  // the sequence's rate-control lines
        } else if (std::sscanf(l, " target number of bits: T=%lld", &n) == 1) {
            points["target"].push_back({picture, static_cast<double>(n)});
        } else if (std::sscanf(l, "vbv_delay=%lld (", &n) == 1) {
            points["vbv_delay"].push_back({picture, static_cast<double>(n)});
        } else if (std::sscanf(l, " actual number of bits: S=%lld", &n) == 1) {
            points[std::string("bits_") + type].push_back({picture, static_cast<double>(n)});
        } else if (std::sscanf(l, " average quantization parameter Q=%63s", text) == 1) {
            points["quantiser"].push_back({picture, std::strtod(text, nullptr)});
        } else if (line.rfind("Y: variance=", 0) == 0) {
            const char* open = std::strchr(l, '(');
            points["psnr"].push_back({picture, std::strtod(open + 1, nullptr)});
        }
    }
    return points;
}

series_map drawn_points(const std::string& text) {
    series_map points;
    std::istringstream in(text);
    std::string series, x, y;
    while (in >> series >> x >> y)
        points[series].push_back({std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr)});
    return points;
}

// Width and height from the IHDR chunk of a PNG, 0 when it is none.
std::pair<unsigned, unsigned> png_size(const std::string& png) {
    if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || png.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](std::size_t at) {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(png[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

class plot_stats : public testing::TestWithParam<plot_case> {};

TEST_P(plot_stats, every_drawn_point_is_the_statistics_files_value) {
    const plot_case& c = GetParam();
    temp_dir dir;
    run_result gen = run_program({make_sequence_bin(), "--width", "64", "--height", "64", "--frames",
                                  std::to_string(c.frames), "--pattern", dir / "src%d"},
                                 dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    param_file p;
    p.set("frame_count", c.frames).set("vertical_size", 64).set("display_vertical_size", 64);
    for (const auto& [k, v] : c.params) p.set(k, v);
    p.write(dir / "in.par");
    run_result enc = run_program({morvane_bin(), "--quiet", "in.par", "out.m2v"}, dir.path());
    ASSERT_EQ(enc.status, 0) << enc.err;
    ASSERT_EQ(enc.err, "");
    // Statistics sent to standard output come with the DC trace: the tool reads past it.
    if (p.get("statistics_file_name") == "-") write_file(dir / "stats.txt", enc.out);

    run_result plot = run_program({python, plot_tool(), "--points", "points.txt", "stats.txt", "plot.png"}, dir.path());
    ASSERT_EQ(plot.status, 0) << plot.err;
    EXPECT_EQ(plot.out, "wrote plot.png: " + std::to_string(c.pictures) + " pictures\n");
    const auto [width, height] = png_size(read_file(dir / "plot.png"));
    EXPECT_GT(width, 300u);
    EXPECT_GT(height, 300u);

    const series_map expected = expected_points(read_file(dir / "stats.txt"));
    const series_map drawn = drawn_points(read_file(dir / "points.txt"));
    for (const char* s : {"target", "vbv_delay", "quantiser", "psnr"})
        ASSERT_EQ(expected.at(s).size(), static_cast<std::size_t>(c.pictures)) << s;
    EXPECT_EQ(drawn, expected);
    std::size_t bars = 0;
    for (const char* s : {"bits_I", "bits_P", "bits_B"})
        if (drawn.count(s)) bars += drawn.at(s).size();
    EXPECT_EQ(bars, static_cast<std::size_t>(c.pictures));
}

const kv interlaced = {
    {"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"frame_pred_frame_dct_tab", "0 0 0"}};
kv with(kv base, const kv& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

INSTANTIATE_TEST_SUITE_P(runs, plot_stats,
                         testing::Values(plot_case{"frame_pictures_two_gops", {{"N", "6"}}, 8, 8},
                                         plot_case{"field_pictures_statistics_on_stdout",
                                                   with(interlaced, {{"field_pictures", "1"},
                                                                     {"top_field_first", "1"},
                                                                     {"statistics_file_name", "-"}}),
                                                   5, 10}),
                         [](const testing::TestParamInfo<plot_case>& info) { return info.param.name; });

struct refusal_case {
    std::string name;
    std::string stats;  // the file given to the tool; "" for none at all
    std::string message;
};

void PrintTo(const refusal_case& c, std::ostream* os) { *os << c.name; }

class plot_stats_refuses : public testing::TestWithParam<refusal_case> {};

TEST_P(plot_stats_refuses, with_a_message_and_status_1) {
    const refusal_case& c = GetParam();
    temp_dir dir;
    if (!c.stats.empty()) write_file(dir / "stats.txt", c.stats);
    run_result plot = run_program({python, plot_tool(), "stats.txt", "plot.png"}, dir.path());
    EXPECT_EQ(plot.status, 1);
    EXPECT_NE(plot.err.find(c.message), std::string::npos) << plot.err;
    EXPECT_FALSE(file_exists(dir / "plot.png"));
}

INSTANTIATE_TEST_SUITE_P(files, plot_stats_refuses,
                         testing::Values(refusal_case{"missing", "", "No such file"},
                                         refusal_case{"no_statistics", "DC value=3\n", "no pictures found"},
                                         refusal_case{
                                             "cut_short",
                                             "Frame 0 (#0 in display order):\n picture_type=I\n"
                                             " pict_type33333333333333333=1!!!\n\nrate control: start of picture\n"
                                             " target number of bits: T=36571\n",
                                             "has no vbv_delay, bits, quantiser, psnr"}),
                         [](const testing::TestParamInfo<refusal_case>& info) { return info.param.name; });

}  // namespace
