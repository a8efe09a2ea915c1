// --no-trace and --quiet take away their lines and nothing else: every other
// output of the stored cases stays byte for byte as expected.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

// The lines of text for which keep() is true, each with its line end.
template <class Keep>
std::string lines_where(const std::string& text, Keep keep) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        if (keep(line)) out += line;
        at = end;
    }
    return out;
}

bool is_dc_line(const std::string& line) {
    return line.starts_with(" DC value=") || line.starts_with(" after DC value=");
}

// The loop's trace and the progress dots of motion estimation, as whole lines.
bool is_loop_trace_line(const std::string& line) {
    static const std::regex trace(
        "(Encoding frame [0-9]+  read frame=howmany\\?1| read frame=.*|\\.*| before the tranform| after the "
        "tranform| [123]|[456]|(first field  |second field )\\((top|bot)\\) \\.*)\n");
    return std::regex_match(line, trace);
}

struct choice_case {
    const char* name;
    std::vector<std::string> options;
    bool no_trace, quiet;
};

const choice_case choice_cases[] = {
    {"no trace", {"--no-trace"}, true, false},
    {"quiet", {"--quiet"}, false, true},
    {"both", {"--quiet", "--no-trace"}, true, true},
};

struct golden_choice {
    std::string golden;
    choice_case choice;
};

class output_choices : public testing::TestWithParam<golden_choice> {};

TEST_P(output_choices, leave_every_other_output_as_it_was) {
    const golden_choice& c = GetParam();
    const fs::path case_dir = fs::path(source_dir()) / "tests/e2e/golden" / c.golden;
    temp_dir work;
    fs::copy(case_dir / "in.par", work / "in.par");
    fs::copy(case_dir / "input", work / "input", fs::copy_options::recursive);
    std::vector<std::string> argv = {morvane_bin()};
    argv.insert(argv.end(), c.choice.options.begin(), c.choice.options.end());
    argv.insert(argv.end(), {"in.par", "out.m2v"});
    const run_result r = run_program(argv, work.path());
    EXPECT_EQ(r.status, 0) << r.err;

    for (const auto& entry : fs::directory_iterator(case_dir / "expected")) {
        const std::string name = entry.path().filename().string();
        std::string expected = read_file(entry.path().string());
        std::string actual;
        if (name == "stdout.txt") {
            actual = r.out;
            if (c.choice.no_trace)
                expected = lines_where(expected, [](const std::string& l) { return !is_dc_line(l); });
        } else if (name == "stderr.txt") {
            actual = r.err;
            if (c.choice.quiet)
                expected = lines_where(expected, [](const std::string& l) { return !is_loop_trace_line(l); });
        } else {
            actual = read_file(work / name);
        }
        EXPECT_TRUE(expected == actual) << name << " differs: " << actual.size() << " bytes, " << expected.size()
                                        << " expected";
    }
}

std::vector<golden_choice> all_cases() {
    std::vector<golden_choice> cases;
    for (const char* g : {"ipb-progressive", "field-dual-prime", "mpeg1-ppm"})
        for (const choice_case& c : choice_cases) cases.push_back({g, c});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(golden, output_choices, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<golden_choice>& info) {
                             return test_name(info.param.golden + " " + info.param.choice.name);
                         });

// The stored case with statistics on stdout keeps them there, between no trace lines.
TEST(output_choices_check, statistics_on_stdout_stay_without_the_trace) {
    const std::string expected = read_file(fs::path(source_dir()) / "tests/e2e/golden/mpeg1-ppm/expected/stdout.txt");
    const std::string kept = lines_where(expected, [](const std::string& l) { return !is_dc_line(l); });
    EXPECT_NE(kept.find("picture statistics"), std::string::npos);
    EXPECT_LT(kept.size(), expected.size() / 2);
}

// What --quiet keeps of the stored MPEG-1 case is its one VBV warning per frame.
TEST(output_choices_check, quiet_keeps_the_warnings) {
    const std::string expected = read_file(fs::path(source_dir()) / "tests/e2e/golden/mpeg1-ppm/expected/stderr.txt");
    EXPECT_EQ(lines_where(expected, [](const std::string& l) { return !is_loop_trace_line(l); }),
              lines_where(expected, [](const std::string& l) { return l.starts_with("vbv_delay overflow: "); }));
}

// A search window wider than its f_code reaches warns at start-up, quiet or not.
TEST(quiet_e2e, prints_the_parameter_warnings_only) {
    temp_dir dir;
    run_result gen = run_program(
        {make_sequence_bin(), "--width", "64", "--height", "48", "--frames", "4", "--pattern", dir / "src%d"},
        dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    param_file p;
    p.set("frame_count", 4).motion({"2 2 20 11", "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"});
    p.write(dir / "in.par");
    const run_result loud = run_program({morvane_bin(), "in.par", "loud.m2v"}, dir.path());
    const run_result quiet = run_program({morvane_bin(), "--quiet", "in.par", "quiet.m2v"}, dir.path());
    EXPECT_EQ(loud.status, 0);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "Warning: reducing forward horizontal search width to 15\n");
    EXPECT_EQ(lines_where(loud.err, [](const std::string& l) { return !is_loop_trace_line(l); }), quiet.err);
    EXPECT_TRUE(quiet.out == loud.out);
    EXPECT_TRUE(read_file(dir / "quiet.m2v") == read_file(dir / "loud.m2v"));
}

// Errors still show: a missing source picture ends a quiet run with its message.
TEST(quiet_e2e, prints_the_fatal_error) {
    temp_dir dir;
    param_file p;
    p.write(dir / "in.par");
    const run_result r = run_program({morvane_bin(), "--quiet", "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open src0.Y\n\n");
}

}  // namespace

namespace {

// --progress: stderr holds no trace, at most status lines, and the summary,
// whose figures are the run's; every other output stays as expected.
TEST(progress_e2e, summary_tells_the_run_and_the_rest_is_unchanged) {
    const fs::path case_dir = fs::path(source_dir()) / "tests/e2e/golden/ipb-progressive";
    temp_dir work;
    fs::copy(case_dir / "in.par", work / "in.par");
    fs::copy(case_dir / "input", work / "input", fs::copy_options::recursive);
    const run_result r = run_program({morvane_bin(), "--progress", "in.par", "out.m2v"}, work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& entry : fs::directory_iterator(case_dir / "expected")) {
        const std::string name = entry.path().filename().string();
        if (name == "stderr.txt") continue;
        const std::string actual = name == "stdout.txt" ? r.out : read_file(work / name);
        EXPECT_TRUE(actual == read_file(entry.path().string())) << name << " differs";
    }

    static const std::regex status("frame [1-7]/7, [0-9]+\\.[0-9] fps, [0-9]+ kbit/s, [0-9]+:[0-9][0-9] left\n");
    static const std::regex summary(
        "encoded 7 frames in [0-9]+\\.[0-9] s: ([0-9]+) bytes, ([0-9]+\\.[0-9]) kbit/s on average, mean luminance "
        "PSNR ([0-9]+\\.[0-9][0-9]) dB\n");
    const std::size_t last = r.err.rfind('\n', r.err.size() - 2);
    const std::string last_line = r.err.substr(last == std::string::npos ? 0 : last + 1);
    EXPECT_EQ(lines_where(r.err.substr(0, r.err.size() - last_line.size()),
                          [](const std::string& l) { return !std::regex_match(l, status); }),
              "");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(last_line, m, summary)) << r.err;
    const std::string stream = read_file(work / "out.m2v");
    EXPECT_EQ(std::stoul(m[1]), stream.size());
    // 25 frames per second (frame_rate_code 3).
    EXPECT_NEAR(std::stod(m[2]), stream.size() * 8.0 * 25 / 7 / 1000, 0.05);
    // The statistics print each frame's luminance PSNR to three digits.
    const std::string stats = read_file(work / "stats.txt");
    static const std::regex y_line("\nY: variance=[^(]*\\(([0-9.]+) dB\\)");
    double sum = 0;
    int frames = 0;
    for (auto it = std::sregex_iterator(stats.begin(), stats.end(), y_line); it != std::sregex_iterator(); ++it) {
        sum += std::stod((*it)[1]);
        ++frames;
    }
    ASSERT_EQ(frames, 7);
    EXPECT_NEAR(std::stod(m[3]), sum / frames, 0.06);
}

// A fatal stop says nothing of a summary.
TEST(progress_e2e, no_summary_after_a_fatal_error) {
    temp_dir dir;
    param_file p;
    p.write(dir / "in.par");
    const run_result r = run_program({morvane_bin(), "--progress", "in.par", "out.m2v"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Couldn't open src0.Y\n\n");
}

}  // namespace
