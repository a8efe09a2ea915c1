// A full disk under the stream or the statistics file is a fatal error naming
// the file, never a run reported as complete.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace morvane_test;

namespace {

struct write_case {
    const char* name;
    const char* stream;
    const char* statistics;
};

class write_error : public testing::TestWithParam<write_case> {};

TEST_P(write_error, is_fatal_and_names_the_file) {
    temp_dir dir;
    run_result gen = run_program({make_sequence_bin(), "--width", "64", "--height", "48", "--frames", "3",
                                  "--pattern", dir / "src%d"},
                                 dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
    param_file p;
    p.set("statistics_file_name", GetParam().statistics);
    p.write(dir / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", GetParam().stream}, dir.path());
    EXPECT_EQ(r.status, 1);
    const std::string tail = "Couldn't write /dev/full\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(files, write_error,
                         testing::Values(write_case{"stream", "/dev/full", "stats.txt"},
                                         write_case{"statistics", "out.m2v", "/dev/full"}),
                         [](const testing::TestParamInfo<write_case>& info) { return info.param.name; });

}  // namespace
