// Threads change only the speed: every output of a run (exit status,
// stdout, stderr and every file it writes) is the same at any thread count,
// in every coding mode, and a fatal error mid-sequence ends the same way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

using kv = std::vector<std::pair<std::string, std::string>>;

struct threads_case {
    std::string name;
    int width, height, chroma, frames, input_format;
    kv params;
    std::vector<std::string> motion;  // empty: the builder's defaults
};

void PrintTo(const threads_case& c, std::ostream* os) { *os << c.name; }

// Everything a run leaves: status, the two standard streams, every file.
struct run_outputs {
    int status = -1;
    std::string out, err;
    std::map<std::string, std::string> files;
};

run_outputs run_in(const std::string& dir, const std::vector<std::string>& args, const std::string& stdin_from = "") {
    std::vector<std::string> argv = {morvane_bin()};
    argv.insert(argv.end(), args.begin(), args.end());
    const run_result r = run_program(argv, dir, stdin_from);
    run_outputs o{r.status, r.out, r.err, {}};
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind("src", 0) != 0 && name != "in.par")
            o.files[name] = read_file(entry.path().string());
    }
    return o;
}

void expect_same(const run_outputs& one, const run_outputs& many, int threads) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    EXPECT_EQ(many.status, one.status);
    EXPECT_TRUE(many.out == one.out) << "stdout differs";
    EXPECT_TRUE(many.err == one.err) << "stderr differs";
    ASSERT_EQ(many.files.size(), one.files.size());
    for (const auto& [name, content] : one.files) {
        const auto it = many.files.find(name);
        ASSERT_NE(it, many.files.end()) << name << " missing";
        EXPECT_TRUE(it->second == content) << name << " differs";
    }
}

void clear_outputs(const std::string& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind("src", 0) != 0 && name != "in.par") fs::remove(entry.path());
    }
}

param_file prepare(const threads_case& c, const std::string& dir) {
    return write_sequence_case(dir, {c.width, c.height, c.chroma, c.frames, c.input_format, c.params, c.motion});
}

class threads : public testing::TestWithParam<threads_case> {};

TEST_P(threads, give_the_output_of_one) {
    temp_dir dir;
    prepare(GetParam(), dir.path());
    const run_outputs one = run_in(dir.path(), {"--threads=1", "in.par", "out.m2v"});
    ASSERT_EQ(one.status, 0) << one.err;
    for (int n : {2, 3, 8}) {
        clear_outputs(dir.path());
        expect_same(one, run_in(dir.path(), {"--threads=" + std::to_string(n), "in.par", "out.m2v"}), n);
    }
}

const std::vector<std::string> m1_motion = {"2 2 15 15"};
const kv interlaced = {
    {"progressive_sequence", "0"}, {"progressive_frame", "0"}, {"frame_pred_frame_dct_tab", "0 0 0"}};
kv with(kv base, const kv& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}
const kv fields = with(interlaced, {{"field_pictures", "1"}, {"top_field_first", "1"}});

// Tall pictures have more macroblock rows than the threads have rows in
// flight; small ones fewer rows than threads.
INSTANTIATE_TEST_SUITE_P(
    modes, threads,
    testing::Values(
        threads_case{"progressive_n12_m3", 64, 48, 1, 13, 0, {{"N", "12"}, {"M", "3"}}, {}},
        threads_case{"tall_interlaced_frames", 48, 320, 1, 7, 0, with(interlaced, {{"N", "6"}}), {}},
        threads_case{"tall_field_pictures", 48, 320, 1, 7, 0, fields, {}},
        threads_case{"m1_frame_dual_prime", 64, 64, 1, 5, 0,
                     with(interlaced, {{"N", "5"}, {"M", "1"}, {"top_field_first", "0"}}), m1_motion},
        threads_case{"m1_field_dual_prime", 64, 64, 1, 5, 0, with(fields, {{"N", "5"}, {"M", "1"}}), m1_motion},
        threads_case{"m2", 64, 48, 1, 6, 0, {{"M", "2"}}, {"2 2 7 7", "2 2 7 7", "2 2 7 7"}},
        threads_case{"m4",
                     64,
                     48,
                     1,
                     9,
                     0,
                     {{"N", "8"}, {"M", "4"}},
                     {"3 3 31 31", "2 2 7 7", "3 3 15 15", "3 3 15 15", "3 3 15 15", "2 2 7 7", "3 3 31 31"}},
        threads_case{"mpeg1", 64, 48, 1, 7, 0, {{"mpeg1", "1"}}, {}},
        threads_case{"odd_size_fields", 72, 40, 1, 5, 1, fields, {}},
        threads_case{"chroma_422_fields", 64, 64, 2, 5, 0, with(fields, {{"profile", "1"}}), {}},
        threads_case{"chroma_444", 64, 48, 3, 5, 0, {{"profile", "8"}}, {}},
        threads_case{"ppm_input", 64, 48, 1, 4, 2, {}, {}},
        threads_case{"statistics_on_stdout", 48, 160, 1, 7, 0, with(interlaced, {{"statistics_file_name", "-"}}), {}},
        // Enough statistics to fill the file's buffer between the trace lines.
        threads_case{"statistics_on_stderr", 352, 288, 1, 7, 0, {{"statistics_file_name", "/dev/stderr"}}, {}}),
    [](const testing::TestParamInfo<threads_case>& info) { return info.param.name; });

// The stored cases at several thread counts, file by file.
class golden_threads : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(golden_threads, every_output_matches) {
    const auto& [name, n] = GetParam();
    const fs::path case_dir = fs::path(source_dir()) / "tests/e2e/golden" / name;
    temp_dir work;
    fs::copy(case_dir / "in.par", work / "in.par");
    fs::copy(case_dir / "input", work / "input", fs::copy_options::recursive);
    run_result r = run_program({morvane_bin(), "--threads=" + std::to_string(n), "in.par", "out.m2v"}, work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& entry : fs::directory_iterator(case_dir / "expected")) {
        const std::string file = entry.path().filename().string();
        const std::string actual = file == "stdout.txt" ? r.out : file == "stderr.txt" ? r.err : read_file(work / file);
        EXPECT_TRUE(actual == read_file(entry.path().string())) << file << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(cases, golden_threads,
                         testing::Combine(testing::Values("ipb-progressive", "field-dual-prime", "mpeg1-ppm"),
                                          testing::Values(2, 3, 8)),
                         [](const testing::TestParamInfo<std::tuple<const char*, int>>& info) {
                             return test_name(std::string(std::get<0>(info.param)) + " " +
                                              std::to_string(std::get<1>(info.param)));
                         });

// Timing differs from run to run; the bytes may not.
TEST(threads_stress, fifty_runs_at_eight_threads_are_identical) {
    temp_dir dir;
    prepare(threads_case{"stress", 48, 128, 1, 7, 0, with(interlaced, {{"N", "6"}}), {}}, dir.path());
    const run_outputs one = run_in(dir.path(), {"--threads=1", "in.par", "out.m2v"});
    ASSERT_EQ(one.status, 0) << one.err;
    for (int run = 0; run < 50; ++run) {
        clear_outputs(dir.path());
        expect_same(one, run_in(dir.path(), {"--threads=8", "in.par", "out.m2v"}), 8);
        if (HasFailure()) break;
    }
}

// The options that change what is written, and a y4m stream as the source
// (file and pipe), at several thread counts.
TEST(threads_options, give_the_output_of_one) {
    temp_dir dir;
    const int width = 48, height = 128, frames = 7;
    prepare(threads_case{"options", width, height, 1, frames, 0, with(interlaced, {{"N", "6"}}), {}}, dir.path());
    std::string y4m = "YUV4MPEG2 W48 H128 F25:1 It A1:1 C420jpeg\n";
    for (int f = 0; f < frames; ++f) {
        y4m += "FRAME\n";
        for (const char* plane : {".Y", ".U", ".V"}) y4m += read_file(dir / ("src" + std::to_string(f) + plane));
    }
    write_file(dir / "src.y4m", y4m);
    const std::vector<std::vector<std::string>> option_sets = {
        {"--no-trace"}, {"--quiet"}, {"--no-dc-change"}, {"--input=src.y4m"}, {"--input=-", "--no-trace"}};
    for (const auto& options : option_sets) {
        SCOPED_TRACE(options[0]);
        auto run = [&](int n) {
            clear_outputs(dir.path());
            std::vector<std::string> args = options;
            args.insert(args.end(), {"--threads=" + std::to_string(n), "in.par", "out.m2v"});
            return run_in(dir.path(), args, options[0] == "--input=-" ? dir / "src.y4m" : "");
        };
        const run_outputs one = run(1);
        ASSERT_EQ(one.status, 0) << one.err;
        for (int n : {2, 8}) expect_same(one, run(n), n);
    }
}

// A fault in the middle of a sequence, where the next frame's motion search
// may already be running: the same message, status and partial files as a
// single thread leaves.
struct fault_case {
    std::string name;
    std::vector<std::string> options;
    std::string stdin_from;  // a file of the folder, or none
    std::string message;     // part of what standard error ends with
    // Sets up the folder; the parameter file is written after.
    void (*prepare)(const fs::path& dir, param_file& p);
};

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }

// The first 5 of the 7 frames as a YUV4MPEG2 stream.
void write_short_stream(const fs::path& dir, param_file&) {
    std::string y4m = "YUV4MPEG2 W64 H96 F25:1 It C420jpeg\n";
    for (int f = 0; f < 5; ++f) {
        y4m += "FRAME\n";
        for (const char* plane : {".Y", ".U", ".V"}) y4m += read_file(dir / ("src" + std::to_string(f) + plane));
    }
    write_file(dir / "src.y4m", y4m);
}

class threads_fault : public testing::TestWithParam<fault_case> {};

TEST_P(threads_fault, ends_as_with_one_thread) {
    const fault_case& c = GetParam();
    temp_dir dir;
    param_file p = prepare(threads_case{"cut", 64, 96, 1, 7, 0, with(interlaced, {{"N", "12"}}), {}}, dir.path());
    c.prepare(dir.path(), p);
    p.write(dir / "in.par");
    auto run = [&](int n) {
        clear_outputs(dir.path());
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--threads=" + std::to_string(n), "in.par", "out.m2v"});
        return run_in(dir.path(), args, c.stdin_from.empty() ? "" : dir / c.stdin_from);
    };
    const run_outputs one = run(1);
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find(c.message), std::string::npos) << one.err;
    for (int n : {2, 8}) expect_same(one, run(n), n);
}

INSTANTIATE_TEST_SUITE_P(
    cases, threads_fault,
    testing::Values(
        fault_case{"missing_source",
                   {},
                   "",
                   "Couldn't open src6.Y",
                   [](const fs::path& dir, param_file&) {
                       for (const char* plane : {".Y", ".U", ".V"}) fs::remove(dir / (std::string("src6") + plane));
                   }},
        // Written while the search of the frame coded next runs.
        fault_case{"unwritable_reconstruction",
                   {},
                   "",
                   "Couldn't create rec3.YUV",
                   [](const fs::path& dir, param_file& p) {
                       p.set("recon_name_pattern", "rec%d");
                       fs::create_directory(dir / "rec3.YUV");
                   }},
        fault_case{"short_stream", {"--input=src.y4m"}, "", "the stream ends after 5 frames", write_short_stream},
        fault_case{
            "short_stream_on_a_pipe", {"--input=-"}, "src.y4m", "the stream ends after 5 frames", write_short_stream},
        // The second frame coded (number 12) makes the name one character too long.
        fault_case{"source_name_too_long",
                   {},
                   "",
                   "too long",
                   [](const fs::path& dir, param_file& p) {
                       const std::string base = "src" + std::string(121, 's');
                       p.set("source_name_pattern", base + "%d").set("first_frame_number", 9);
                       for (const char* plane : {".Y", ".U", ".V"})
                           fs::rename(dir / (std::string("src0") + plane), dir / (base + "9" + plane));
                   }},
        // The same for a reconstruction name, after the statistics of the frame.
        fault_case{"reconstruction_name_too_long",
                   {},
                   "",
                   "too long",
                   [](const fs::path& dir, param_file& p) {
                       p.set("recon_name_pattern", "rec" + std::string(119, 's') + "%d").set("first_frame_number", 9);
                       for (int k = 6; k >= 0; --k)
                           for (const char* plane : {".Y", ".U", ".V"})
                               fs::rename(dir / ("src" + std::to_string(k) + plane),
                                          dir / ("src" + std::to_string(k + 9) + plane));
                   }}),
    [](const testing::TestParamInfo<fault_case>& info) { return info.param.name; });

}  // namespace
