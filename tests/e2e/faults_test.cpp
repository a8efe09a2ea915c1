// Faults with nothing lost: an output that cannot be written ends the run
// with a message naming it and status 1; files finished before the fault
// stay exactly as a complete run writes them; a reader of standard output
// that goes away ends the run cleanly; the same input always gives the same
// bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

using namespace morvane_test;

namespace {

// Seven 64x48 frames: coded I0 P3 B1 B2 P6 B4 B5.
void make_sources(const temp_dir& dir, int frames = 7) {
    run_result gen = run_program({make_sequence_bin(), "--width", "64", "--height", "48", "--frames",
                                  std::to_string(frames), "--pattern", dir / "src%d"},
                                 dir.path());
    ASSERT_EQ(gen.status, 0) << gen.err;
}

param_file seven_frames() { return param_file().set("frame_count", 7).set("N", 12); }

std::string tail(const std::string& text, std::size_t n) {
    return text.size() < n ? text : text.substr(text.size() - n);
}

// Every reconstruction file of display frame n, as one string.
std::string recon_files(const temp_dir& dir, const std::string& base) {
    std::string all;
    for (const char* suffix : {".Y", ".U", ".V", ".YUV"}) {
        EXPECT_TRUE(file_exists(dir / (base + suffix))) << base << suffix;
        all += read_file(dir / (base + suffix)) + "|";
    }
    return all;
}

struct recon_fault {
    const char* name;
    const char* full_file;  // made a link to /dev/full (else the folder is missing)
    const char* message;    // the end of standard error
    std::vector<int> kept;  // display frames whose files were finished before
};

void PrintTo(const recon_fault& c, std::ostream* os) { *os << c.name; }

class recon_write_fault : public testing::TestWithParam<recon_fault> {};

TEST_P(recon_write_fault, names_the_file_and_keeps_the_finished_frames) {
    const recon_fault& c = GetParam();
    temp_dir dir;
    make_sources(dir);
    seven_frames().set("statistics_file_name", "full.txt").write(dir / "full.par");
    run_result full = run_program({morvane_bin(), "full.par", "full.m2v"}, dir.path());
    ASSERT_EQ(full.status, 0) << full.err;
    std::vector<std::string> finished;
    for (int n : c.kept) finished.push_back(recon_files(dir, "rec" + std::to_string(n)));

    temp_dir cut;
    make_sources(cut);
    param_file p = seven_frames();
    if (c.full_file)
        ASSERT_EQ(symlink("/dev/full", (cut / c.full_file).c_str()), 0);
    else
        p.set("recon_name_pattern", "missing/rec%d");
    p.write(cut / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, cut.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail(r.err, std::string(c.message).size()), c.message);
    for (std::size_t i = 0; i < c.kept.size(); ++i)
        EXPECT_EQ(recon_files(cut, "rec" + std::to_string(c.kept[i])), finished[i]) << "frame " << c.kept[i];
}

INSTANTIATE_TEST_SUITE_P(
    cases, recon_write_fault,
    testing::Values(recon_fault{"missing_folder", nullptr, "\n4\n5\nCouldn't create missing/rec0.Y\n\n", {}},
                    recon_fault{"full_disk_second_frame", "rec3.V", "\nCouldn't write rec3.V\n", {0}},
                    recon_fault{"full_disk_fifth_frame", "rec6.YUV", "\nCouldn't write rec6.YUV\n", {0, 3, 1, 2}}),
    name_field());

TEST(missing_source, mid_sequence_stops_and_keeps_the_finished_reconstruction) {
    temp_dir dir;
    make_sources(dir);
    seven_frames().write(dir / "in.par");
    run_result full = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
    ASSERT_EQ(full.status, 0) << full.err;
    std::vector<std::string> finished;
    for (int n : {0, 3, 1, 2}) finished.push_back(recon_files(dir, "rec" + std::to_string(n)));

    temp_dir cut;
    make_sources(cut);
    for (const char* plane : {".Y", ".U", ".V"}) std::remove((cut / "src6" + plane).c_str());
    seven_frames().write(cut / "in.par");
    run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, cut.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail(r.err, 22), "Couldn't open src6.Y\n\n");
    int i = 0;
    for (int n : {0, 3, 1, 2}) EXPECT_EQ(recon_files(cut, "rec" + std::to_string(n)), finished[i++]) << "frame " << n;
    EXPECT_FALSE(file_exists(cut / "rec6.Y"));
    EXPECT_FALSE(file_exists(cut / "rec4.Y"));
}

// Runs the encoder in cwd with standard output on fd (closed here), SIGPIPE
// as given, standard error captured; status as run_program gives it.
run_result run_with_stdout(const std::vector<std::string>& argv, const std::string& cwd, int fd, bool ignore_sigpipe) {
    temp_dir io;
    const std::string err_path = io / "stderr";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(fd, 1);
        dup2(err, 2);
        std::signal(SIGPIPE, ignore_sigpipe ? SIG_IGN : SIG_DFL);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fd);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run_result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.err = read_file(err_path);
    return r;
}

// A standard output with no reader: the read end of a pipe already closed.
int broken_pipe() {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
    close(ends[0]);
    return ends[1];
}

enum class trace_sink { full_disk, broken_pipe_ignored, broken_pipe };

struct stdout_fault {
    const char* name;
    trace_sink sink;
};

void PrintTo(const stdout_fault& c, std::ostream* os) { *os << c.name; }

class standard_output_fault : public testing::TestWithParam<stdout_fault> {};

// The trace is lost with its reader, never reported as a success; the
// stream and the statistics, written to the end, are those of a complete run.
TEST_P(standard_output_fault, ends_cleanly_and_keeps_the_files) {
    temp_dir dir;
    make_sources(dir, 3);
    param_file().write(dir / "in.par");
    run_result good = run_program({morvane_bin(), "in.par", "good.m2v"}, dir.path());
    ASSERT_EQ(good.status, 0) << good.err;
    const std::string good_stats = read_file(dir / "stats.txt");

    const trace_sink sink = GetParam().sink;
    const int fd = sink == trace_sink::full_disk ? open("/dev/full", O_WRONLY) : broken_pipe();
    ASSERT_GE(fd, 0);
    run_result r =
        run_with_stdout({morvane_bin(), "in.par", "out.m2v"}, dir.path(), fd, sink == trace_sink::broken_pipe_ignored);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    if (sink == trace_sink::broken_pipe) {
        // Ended by SIGPIPE as any writer into a closed pipe is, at the first write that reaches the pipe.
        EXPECT_EQ(r.status, 128 + SIGPIPE);
        return;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail(r.err, 32), "\nCouldn't write standard output\n");
    EXPECT_TRUE(read_file(dir / "out.m2v") == read_file(dir / "good.m2v"));
    EXPECT_TRUE(read_file(dir / "stats.txt") == good_stats);
}

INSTANTIATE_TEST_SUITE_P(cases, standard_output_fault,
                         testing::Values(stdout_fault{"full_disk", trace_sink::full_disk},
                                         stdout_fault{"broken_pipe_sigpipe_ignored", trace_sink::broken_pipe_ignored},
                                         stdout_fault{"broken_pipe", trace_sink::broken_pipe}),
                         name_field());

// The short outputs of the options: a reply lost on a full disk is a
// failure; --make-par's file is written all the same.
TEST(standard_output_fault, of_help_version_and_make_par_is_a_failure) {
    temp_dir dir;
    write_file(dir / "clip.y4m", "YUV4MPEG2 W16 H16 F25:1 Ip C420jpeg\nFRAME\n" + std::string(384, '\x80'));
    const std::vector<std::vector<std::string>> commands = {
        {"--help"}, {"--version"}, {"--input=clip.y4m", "--make-par=clip.par"}};
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> argv = {morvane_bin()};
        argv.insert(argv.end(), args.begin(), args.end());
        const int fd = open("/dev/full", O_WRONLY);
        ASSERT_GE(fd, 0);
        const run_result r = run_with_stdout(argv, dir.path(), fd, false);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Couldn't write standard output\n");
    }
    EXPECT_TRUE(file_exists(dir / "clip.par"));
}

struct repeat_case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    bool remove_source;  // src4 missing: the run stops at its fifth frame
};

void PrintTo(const repeat_case& c, std::ostream* os) { *os << c.name; }

class repeated_run : public testing::TestWithParam<repeat_case> {};

// Everything a run writes, in one string.
std::string every_output(const temp_dir& dir, const run_result& r) {
    std::string all = std::to_string(r.status) + "|" + r.out + "|" + r.err + "|" + read_file(dir / "out.m2v") + "|" +
                      read_file(dir / "stats.txt");
    for (int n = 0; n < 7; ++n)
        if (file_exists(dir / ("rec" + std::to_string(n) + ".YUV")))
            all += "|" + read_file(dir / ("rec" + std::to_string(n) + ".YUV"));
    return all;
}

TEST_P(repeated_run, gives_identical_bytes) {
    std::string outputs[2];
    for (std::string& out : outputs) {
        temp_dir dir;
        make_sources(dir);
        if (GetParam().remove_source)
            for (const char* plane : {".Y", ".U", ".V"}) std::remove((dir / "src4" + plane).c_str());
        param_file p = seven_frames();
        for (const auto& [name, value] : GetParam().values) p.set(name, value);
        p.write(dir / "in.par");
        run_result r = run_program({morvane_bin(), "in.par", "out.m2v"}, dir.path());
        EXPECT_EQ(r.status, GetParam().remove_source ? 1 : 0) << r.err;
        out = every_output(dir, r);
    }
    EXPECT_EQ(outputs[0].size(), outputs[1].size());
    EXPECT_TRUE(outputs[0] == outputs[1]);
}

INSTANTIATE_TEST_SUITE_P(cases, repeated_run,
                         testing::Values(repeat_case{"progressive_ipb", {}, false},
                                         repeat_case{"interlaced_field_pictures",
                                                     {{"progressive_sequence", "0"},
                                                      {"progressive_frame", "0"},
                                                      {"field_pictures", "1"},
                                                      {"frame_pred_frame_dct_tab", "0 0 0"}},
                                                     false},
                                         repeat_case{"mpeg1_stopped_by_a_missing_source", {{"mpeg1", "1"}}, true}),
                         name_field());

}  // namespace
