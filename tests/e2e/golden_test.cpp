// Whole-binary runs on the stored cases: every output file, stdout, stderr
// and the exit status must match the expected files byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

// Where two texts first differ, with the line around it, for a readable failure.
std::string describe_difference(const std::string& expected, const std::string& actual) {
    std::size_t n = 0;
    while (n < expected.size() && n < actual.size() && expected[n] == actual[n]) ++n;
    auto line_at = [](const std::string& s, std::size_t pos) {
        std::size_t b = s.rfind('\n', pos == 0 ? 0 : pos - 1);
        b = b == std::string::npos ? 0 : b + 1;
        std::size_t e = s.find('\n', pos);
        return s.substr(b, (e == std::string::npos ? s.size() : e) - b);
    };
    return "sizes " + std::to_string(expected.size()) + " / " + std::to_string(actual.size()) +
           ", first difference at byte " + std::to_string(n) + "\n expected line: " + line_at(expected, n) +
           "\n actual line:   " + line_at(actual, n);
}

class golden : public testing::TestWithParam<std::string> {};

TEST_P(golden, every_output_matches) {
    fs::path case_dir = fs::path(source_dir()) / "tests/e2e/golden" / GetParam();
    ASSERT_TRUE(fs::exists(case_dir / "in.par")) << case_dir;
    temp_dir work;
    fs::copy(case_dir / "in.par", work / "in.par");
    fs::copy(case_dir / "input", work / "input", fs::copy_options::recursive);

    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, work.path());
    EXPECT_EQ(r.status, 0);

    for (const auto& entry : fs::directory_iterator(case_dir / "expected")) {
        std::string name = entry.path().filename().string();
        std::string expected = read_file(entry.path().string());
        std::string actual;
        if (name == "stdout.txt")
            actual = r.out;
        else if (name == "stderr.txt")
            actual = r.err;
        else {
            ASSERT_TRUE(file_exists(work / name)) << name << " was not written";
            actual = read_file(work / name);
        }
        EXPECT_TRUE(expected == actual) << name << ": " << describe_difference(expected, actual);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, golden, testing::Values("ipb-progressive", "field-dual-prime", "mpeg1-ppm"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

}  // namespace
