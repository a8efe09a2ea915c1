// The command-line parser and its replies, without running the binary.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr int unset = -1;

struct parse_case {
    const char* name;
    std::vector<const char*> args;  // after the program name
    command_action action;
    const char* par_name;
    const char* out_name;
    int simd_mask;  // unset: no --simd
    const char* problem;
};

using enum command_action;

const parse_case parse_cases[] = {
    {"no arguments", {}, usage, "", "", unset, ""},
    {"one name", {"in.par"}, usage, "", "", unset, ""},
    {"three names", {"in.par", "out.m2v", "extra"}, usage, "", "", unset, ""},
    {"two names", {"in.par", "out.m2v"}, run, "in.par", "out.m2v", unset, ""},
    {"single dash names", {"-", "-h"}, run, "-", "-h", unset, ""},
    {"simd none", {"--simd=none", "a", "b"}, run, "a", "b", 0, ""},
    {"simd sse2", {"--simd=sse2", "a", "b"}, run, "a", "b", 1, ""},
    {"simd avx2", {"--simd=avx2", "a", "b"}, run, "a", "b", 7, ""},
    {"simd avx512", {"--simd=avx512", "a", "b"}, run, "a", "b", 15, ""},
    {"last simd wins", {"--simd=avx2", "--simd=none", "a", "b"}, run, "a", "b", 0, ""},
    {"options with one name", {"--simd=sse2", "in.par"}, usage, "", "", 1, ""},
    {"double dash ends the options", {"--", "--in.par", "--out.m2v"}, run, "--in.par", "--out.m2v", unset, ""},
    {"double dash alone", {"--"}, usage, "", "", unset, ""},
    {"options end at the first name", {"in.par", "--simd=sse2"}, run, "in.par", "--simd=sse2", unset, ""},
    {"double dash after a name is a name", {"in.par", "--", "out.m2v"}, usage, "", "", unset, ""},
    {"help", {"--help"}, help, "", "", unset, ""},
    {"help before names", {"--help", "in.par", "out.m2v"}, help, "", "", unset, ""},
    {"help before a mistake", {"--help", "--bogus"}, help, "", "", unset, ""},
    {"version", {"--version", "in.par"}, version, "", "", unset, ""},
    {"unknown option", {"--bogus", "in.par", "out.m2v"}, error, "", "", unset, "unknown option '--bogus'"},
    {"unknown option with value", {"--bogus=1"}, error, "", "", unset, "unknown option '--bogus'"},
    {"mistake before help", {"--bogus", "--help"}, error, "", "", unset, "unknown option '--bogus'"},
    {"options are case sensitive", {"--SIMD=sse2"}, error, "", "", unset, "unknown option '--SIMD'"},
    {"three dashes", {"---simd=sse2"}, error, "", "", unset, "unknown option '---simd'"},
    {"simd without value", {"--simd", "a", "b"}, error, "", "", unset,
     "option '--simd' needs a value: --simd=none|sse2|avx2|avx512"},
    {"simd unknown level", {"--simd=mmx", "a", "b"}, error, "", "", unset,
     "invalid value 'mmx' for option '--simd': use --simd=none|sse2|avx2|avx512"},
    {"simd empty level", {"--simd="}, error, "", "", unset,
     "invalid value '' for option '--simd': use --simd=none|sse2|avx2|avx512"},
    {"help with value", {"--help=yes"}, error, "", "", unset, "option '--help' takes no value"},
};

// The arguments after the program name, parsed.
command_line parse(const std::vector<const char*>& args) {
    std::vector<const char*> argv = {"morvane"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    return parse_options(static_cast<int>(argv.size()) - 1, argv.data());
}

class parse_options_case : public testing::TestWithParam<parse_case> {};

TEST_P(parse_options_case, gives_the_action_names_and_values) {
    const parse_case& c = GetParam();
    const command_line line = parse(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.par_name, c.par_name);
    EXPECT_EQ(line.out_name, c.out_name);
    EXPECT_EQ(line.simd_mask.has_value() ? static_cast<int>(*line.simd_mask) : unset, c.simd_mask);
    EXPECT_EQ(line.problem, c.problem);
}

INSTANTIATE_TEST_SUITE_P(cases, parse_options_case, testing::ValuesIn(parse_cases), morvane_test::name_field());

// The options of the user's side: the values they leave in command_line.
struct choice_case {
    const char* name;
    std::vector<const char*> args;
    command_action action;
    std::string input_name, make_par_name;
    bool no_dc_change, no_trace, quiet, progress;
    std::string problem;
};

const choice_case choice_cases[] = {
    {"none", {"a", "b"}, run, "", "", false, false, false, false, ""},
    {"every switch",
     {"--no-dc-change", "--no-trace", "--quiet", "--progress", "a", "b"},
     run,
     "",
     "",
     true,
     true,
     true,
     true,
     ""},
    {"input file", {"--input=clip.y4m", "a", "b"}, run, "clip.y4m", "", false, false, false, false, ""},
    {"input from standard input", {"--input=-", "--progress", "a", "b"}, run, "-", "", false, false, false, true, ""},
    {"last input wins", {"--input=x.y4m", "--input=y.y4m", "a", "b"}, run, "y.y4m", "", false, false, false, false, ""},
    {"input with an empty value",
     {"--input=", "a", "b"},
     error,
     "",
     "",
     false,
     false,
     false,
     false,
     "invalid value '' for option '--input': use --input=FILE"},
    {"input without value",
     {"--input", "a", "b"},
     error,
     "",
     "",
     false,
     false,
     false,
     false,
     "option '--input' needs a value: --input=FILE"},
    {"quiet with a value",
     {"--quiet=1", "a", "b"},
     error,
     "",
     "",
     false,
     false,
     false,
     false,
     "option '--quiet' takes no value"},
    {"no-dc-change with a value",
     {"--no-dc-change=yes"},
     error,
     "",
     "",
     false,
     false,
     false,
     false,
     "option '--no-dc-change' takes no value"},
    {"make-par", {"--input=c.y4m", "--make-par=c.par"}, make_par, "c.y4m", "c.par", false, false, false, false, ""},
    {"make-par before input",
     {"--make-par=c.par", "--input=-"},
     make_par,
     "-",
     "c.par",
     false,
     false,
     false,
     false,
     ""},
    {"make-par without input",
     {"--make-par=c.par"},
     error,
     "",
     "c.par",
     false,
     false,
     false,
     false,
     "option '--make-par' needs the stream to describe: add --input=FILE"},
    {"make-par with file names",
     {"--input=c.y4m", "--make-par=c.par", "a", "b"},
     error,
     "c.y4m",
     "c.par",
     false,
     false,
     false,
     false,
     "option '--make-par' writes its file and ends: give no other file names"},
    {"make-par with an empty value",
     {"--input=c.y4m", "--make-par="},
     error,
     "c.y4m",
     "",
     false,
     false,
     false,
     false,
     "invalid value '' for option '--make-par': use --make-par=FILE"},
    {"help before make-par", {"--help", "--make-par=c.par"}, help, "", "", false, false, false, false, ""},
};

void PrintTo(const choice_case& c, std::ostream* os) { *os << c.name; }

class parse_choice_case : public testing::TestWithParam<choice_case> {};

TEST_P(parse_choice_case, leaves_the_values) {
    const choice_case& c = GetParam();
    const command_line line = parse(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.input_name, c.input_name);
    EXPECT_EQ(line.make_par_name, c.make_par_name);
    EXPECT_EQ(line.no_dc_change, c.no_dc_change);
    EXPECT_EQ(line.no_trace, c.no_trace);
    EXPECT_EQ(line.quiet, c.quiet);
    EXPECT_EQ(line.progress, c.progress);
    EXPECT_EQ(line.problem, c.problem);
}

INSTANTIATE_TEST_SUITE_P(cases, parse_choice_case, testing::ValuesIn(choice_cases), morvane_test::name_field());

command_reply reply_for(command_action action, const std::string& problem = "") {
    command_line line;
    line.action = action;
    line.problem = problem;
    return reply_to(line);
}

TEST(command_reply, usage_is_the_banner_and_usage_line) {
    const command_reply r = reply_for(usage);
    EXPECT_EQ(r.out, "\nmorvane V1.2, 96/07/19, written by the morvane developers\nUsage: morvane in.par out.m2v\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(command_reply, help_lists_every_option_on_a_line_of_its_own) {
    const command_reply r = reply_for(help);
    EXPECT_EQ(r.out.rfind("Usage: morvane [--option[=value]]... in.par out.m2v\n", 0), 0u) << r.out;
    for (const option_entry& o : option_table()) {
        const std::string form = "--" + std::string(o.name) + (o.value.empty() ? "" : "=" + std::string(o.value));
        const std::size_t at = r.out.find("\n  " + form + " ");
        ASSERT_NE(at, std::string::npos) << form;
        const std::string line = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(o.help), std::string::npos) << line;
    }
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(command_reply, version_names_the_encoder) {
    const command_reply r = reply_for(version);
    EXPECT_EQ(r.out, "morvane V1.2, 96/07/19\nwritten by the morvane developers\n");
    EXPECT_EQ(r.status, 0);
}

TEST(command_reply, errors_go_to_standard_error_with_a_pointer_to_help) {
    const command_reply r = reply_for(error, "unknown option '--bogus'");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "morvane: unknown option '--bogus'\nTry 'morvane --help' for the options.\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
