// Whole-binary runs of the command line: replies to options and to wrong
// argument counts, and options that must leave every output as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/options.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

const std::string banner =
    "\nmorvane V1.2, 96/07/19, written by the morvane developers\nUsage: morvane in.par out.m2v\n";
const std::string try_help = "Try 'morvane --help' for the options.\n";

struct reply_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // "help": the option list
    std::string err;
};

const reply_case reply_cases[] = {
    {"no arguments", {}, 0, banner, ""},
    {"one name", {"in.par"}, 0, banner, ""},
    {"three names", {"in.par", "out.m2v", "extra"}, 0, banner, ""},
    {"option and one name", {"--simd=sse2", "in.par"}, 0, banner, ""},
    {"help", {"--help", "in.par", "out.m2v"}, 0, "help", ""},
    {"version", {"--version"}, 0, "morvane V1.2, 96/07/19\nwritten by the morvane developers\n", ""},
    {"unknown option",
     {"--frobnicate", "in.par", "out.m2v"},
     1,
     "",
     "morvane: unknown option '--frobnicate'\n" + try_help},
    {"bad simd level",
     {"--simd=mmx", "in.par", "out.m2v"},
     1,
     "",
     "morvane: invalid value 'mmx' for option '--simd': use --simd=none|sse2|avx2|avx512\n" + try_help},
    {"simd without value",
     {"--simd", "in.par", "out.m2v"},
     1,
     "",
     "morvane: option '--simd' needs a value: --simd=none|sse2|avx2|avx512\n" + try_help},
    {"zero threads", {"--threads=0", "in.par", "out.m2v"}, 1, "",
     "morvane: invalid value '0' for option '--threads': use --threads=N\n" + try_help},
    {"too many threads", {"--threads=257", "in.par", "out.m2v"}, 1, "",
     "morvane: invalid value '257' for option '--threads': use --threads=N\n" + try_help},
    {"threads not a number", {"--threads=2x", "in.par", "out.m2v"}, 1, "",
     "morvane: invalid value '2x' for option '--threads': use --threads=N\n" + try_help},
    {"threads empty", {"--threads=", "in.par", "out.m2v"}, 1, "",
     "morvane: invalid value '' for option '--threads': use --threads=N\n" + try_help},
    {"make-par without input",
     {"--make-par=clip.par"},
     1,
     "",
     "morvane: option '--make-par' needs the stream to describe: add --input=FILE\n" + try_help},
    {"make-par with file names",
     {"--input=clip.y4m", "--make-par=clip.par", "in.par", "out.m2v"},
     1,
     "",
     "morvane: option '--make-par' writes its file and ends: give no other file names\n" + try_help},
    {"input without value",
     {"--input", "in.par", "out.m2v"},
     1,
     "",
     "morvane: option '--input' needs a value: --input=FILE\n" + try_help},
};

class command_reply_run : public testing::TestWithParam<reply_case> {};

TEST_P(command_reply_run, prints_exits_and_creates_nothing) {
    const reply_case& c = GetParam();
    temp_dir dir;
    std::vector<std::string> argv = {morvane_bin()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    run_result r = run_program(argv, dir.path());
    EXPECT_EQ(r.status, c.status);
    if (c.out == "help") {
        EXPECT_EQ(r.out.rfind("Usage: morvane [--option[=value]]... in.par out.m2v\n", 0), 0u) << r.out;
        for (const option_entry& o : option_table())
            EXPECT_NE(r.out.find("\n  --" + std::string(o.name)), std::string::npos) << o.name;
    } else {
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(cases, command_reply_run, testing::ValuesIn(reply_cases), name_field());

struct same_output_case {
    const char* name;
    std::vector<std::string> args;  // the parameter file is in.par, or --in.par when named so
};

const same_output_case same_output_cases[] = {
    {"simd none", {"--simd=none", "in.par", "out.m2v"}},
    {"simd sse2", {"--simd=sse2", "in.par", "out.m2v"}},
    {"simd avx512", {"--simd=avx512", "in.par", "out.m2v"}},
    {"threads 256", {"--threads=256", "in.par", "out.m2v"}},
    {"double dash before a name starting with dashes", {"--simd=avx2", "--", "--in.par", "out.m2v"}},
};

class options_keep_the_output : public testing::TestWithParam<same_output_case> {};

// Every kernel gives the reference's bytes, so no cap may change the output:
// the stored golden case is compared file by file.
TEST_P(options_keep_the_output, of_the_golden_case) {
    const fs::path case_dir = fs::path(source_dir()) / "tests/e2e/golden/ipb-progressive";
    temp_dir work;
    fs::copy(case_dir / "in.par", work / "in.par");
    fs::copy(case_dir / "in.par", work / "--in.par");
    fs::copy(case_dir / "input", work / "input", fs::copy_options::recursive);
    std::vector<std::string> argv = {morvane_bin()};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    run_result r = run_program(argv, work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& entry : fs::directory_iterator(case_dir / "expected")) {
        const std::string name = entry.path().filename().string();
        const std::string actual = name == "stdout.txt" ? r.out : name == "stderr.txt" ? r.err : read_file(work / name);
        EXPECT_TRUE(actual == read_file(entry.path().string())) << name << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(cases, options_keep_the_output, testing::ValuesIn(same_output_cases), name_field());

}  // namespace
