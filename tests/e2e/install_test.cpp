// What `cmake --install` puts under a prefix: the encoder, which runs from
// there; the man page, which groff formats without a warning and man shows;
// the statistics plot as morvane-plot-stats; the README and the examples, as
// they are in the source tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

TEST(man_page, groff_formats_it_without_a_warning) {
    ASSERT_TRUE(file_exists("/usr/bin/groff")) << "groff missing: apt-get install groff-base";
    temp_dir dir;
    run_result r =
        run_program({"/usr/bin/groff", "-man", "-Tutf8", "-ww", "-z", source_dir() + "/doc/morvane.1"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

class install : public testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new temp_dir;
        result_ = new run_result(
            run_program({cmake_bin(), "--install", build_dir(), "--prefix", prefix_->path()}, prefix_->path()));
    }
    static void TearDownTestSuite() {
        delete result_;
        delete prefix_;
    }
    void SetUp() override { ASSERT_EQ(result_->status, 0) << result_->out << result_->err; }
    static std::string under(const std::string& path) { return *prefix_ / path; }

    static temp_dir* prefix_;
    static run_result* result_;
};

temp_dir* install::prefix_ = nullptr;
run_result* install::result_ = nullptr;

TEST_F(install, puts_every_file_under_the_prefix_as_shipped) {
    const struct {
        const char* installed;
        const char* source;
    } files[] = {
        {"bin/morvane-plot-stats", "tools/plot_stats.py"},
        {"share/man/man1/morvane.1", "doc/morvane.1"},
        {"share/doc/morvane/README.md", "README.md"},
        {"share/doc/morvane/doc/stats-plot.png", "doc/stats-plot.png"},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(file_exists(under(f.installed))) << f.installed;
        EXPECT_EQ(read_file(under(f.installed)), read_file(source_dir() + "/" + f.source)) << f.installed;
    }
    std::vector<std::string> shipped, installed;
    for (const auto& e : fs::directory_iterator(source_dir() + "/examples")) {
        const std::string name = e.path().filename().string();
        shipped.push_back(name);
        EXPECT_EQ(read_file(under("share/doc/morvane/examples/" + name)), read_file(e.path().string())) << name;
    }
    for (const auto& e : fs::directory_iterator(under("share/doc/morvane/examples")))
        installed.push_back(e.path().filename().string());
    std::sort(shipped.begin(), shipped.end());
    std::sort(installed.begin(), installed.end());
    EXPECT_EQ(installed, shipped);
    for (const char* program : {"bin/morvane", "bin/morvane-plot-stats"}) {
        const fs::perms p = fs::status(under(program)).permissions();
        EXPECT_NE(p & fs::perms::others_exec, fs::perms::none) << program;
    }
}

TEST_F(install, installed_programs_run) {
    run_result help = run_program({under("bin/morvane"), "--help"}, under(""));
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, run_program({morvane_bin(), "--help"}, under("")).out);
    run_result plot_help = run_program({under("bin/morvane-plot-stats"), "--help"}, under(""));
    EXPECT_EQ(plot_help.status, 0) << plot_help.err;
    EXPECT_NE(plot_help.out.find("usage: morvane-plot-stats"), std::string::npos) << plot_help.out;
}

TEST_F(install, man_shows_the_installed_page) {
    ASSERT_TRUE(file_exists("/usr/bin/man")) << "man missing: apt-get install man-db";
    run_result man = run_program({"/usr/bin/man", "-M", under("share/man"), "-P", "cat", "morvane"}, under(""));
    EXPECT_EQ(man.status, 0) << man.err;
    EXPECT_NE(man.out.find("morvane - MPEG-2 and MPEG-1 video encoder"), std::string::npos) << man.out;
    EXPECT_NE(man.out.find("--no-dc-change"), std::string::npos);
}

}  // namespace
