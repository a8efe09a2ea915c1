#include "test_support.h"

#include "driver/fatal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace morvane_test {

std::string fatal_message(const std::function<void()>& action) {
    try {
        action();
    } catch (const fatal_exit& f) {
        return f.message;
    }
    return "<no fatal error>";
}

temp_dir::temp_dir() {
    char tmpl[] = "/tmp/morvane_test_XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

temp_dir::~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

namespace {

// A process that copies the file into the pipe and ends; it dies quietly of
// SIGPIPE when the reader stops early.
pid_t start_feeder(const std::string& path, int pipe_fds[2]) {
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(pipe_fds[0]);
        int in = open(path.c_str(), O_RDONLY);
        if (in < 0) _exit(127);
        char buffer[1 << 16];
        for (ssize_t n; (n = read(in, buffer, sizeof buffer)) > 0;)
            for (ssize_t done = 0; done < n;) {
                ssize_t w = write(pipe_fds[1], buffer + done, static_cast<std::size_t>(n - done));
                if (w <= 0) _exit(0);
                done += w;
            }
        _exit(0);
    }
    return pid;
}

}  // namespace

run_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                       const std::string& stdin_pipe_from) {
    if (std::getenv("MORVANE_UNIT_TEST"))
        throw std::logic_error("a test labelled unit starts " + argv.at(0) +
                               ": put it in a suite whose name ends in _e2e (see tests/CMakeLists.txt)");
    temp_dir io;
    std::string out_path = io / "stdout", err_path = io / "stderr";
    int pipe_fds[2] = {-1, -1};
    const pid_t feeder = stdin_pipe_from.empty() ? -1 : start_feeder(stdin_pipe_from, pipe_fds);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = feeder < 0 ? open("/dev/null", O_RDONLY) : pipe_fds[0];
        if (feeder >= 0) close(pipe_fds[1]);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // MORVANE_TEST_SIMD runs every encode of the suite under that instruction-set cap.
        std::vector<std::string> full = argv;
        const char* simd = std::getenv("MORVANE_TEST_SIMD");
        if (simd && *simd && full[0] == morvane_bin()) full.insert(full.begin() + 1, std::string("--simd=") + simd);
        std::vector<char*> args;
        for (const auto& a : full) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (feeder >= 0) {
        close(pipe_fds[0]);
        close(pipe_fds[1]);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (feeder >= 0) {
        int feeder_status = 0;
        waitpid(feeder, &feeder_status, 0);
    }
    run_result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

std::string test_name(std::string_view text) {
    std::string name;
    bool gap = false;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            if (gap && !name.empty()) name += '_';
            name += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return name;
}

std::string signed_name(long long n) { return n < 0 ? "neg" + std::to_string(-n) : std::to_string(n); }

namespace {

const char* const line_names[50] = {"id_string",
                                    "source_name_pattern",
                                    "recon_name_pattern",
                                    "intra_matrix_file",
                                    "non_intra_matrix_file",
                                    "statistics_file_name",
                                    "input_format",
                                    "frame_count",
                                    "first_frame_number",
                                    "time_code",
                                    "N",
                                    "M",
                                    "mpeg1",
                                    "field_pictures",
                                    "horizontal_size",
                                    "vertical_size",
                                    "aspect_ratio_information",
                                    "frame_rate_code",
                                    "bit_rate",
                                    "vbv_buffer_size",
                                    "low_delay",
                                    "constrained_parameters_flag",
                                    "profile",
                                    "level",
                                    "progressive_sequence",
                                    "chroma_format",
                                    "video_format",
                                    "color_primaries",
                                    "transfer_characteristics",
                                    "matrix_coefficients",
                                    "display_horizontal_size",
                                    "display_vertical_size",
                                    "intra_dc_precision",
                                    "top_field_first",
                                    "frame_pred_frame_dct_tab",
                                    "concealment_motion_vectors_tab",
                                    "q_scale_type_tab",
                                    "intra_vlc_format_tab",
                                    "alternate_scan_tab",
                                    "repeat_first_field",
                                    "progressive_frame",
                                    "unused",
                                    "r",
                                    "avg_act",
                                    "Xi",
                                    "Xp",
                                    "Xb",
                                    "d0i",
                                    "d0p",
                                    "d0b"};

const char* const line_defaults[50] = {"morvane test",
                                       "src%d",
                                       "rec%d",
                                       "-",
                                       "-",
                                       "stats.txt",
                                       "0",
                                       "3",
                                       "0",
                                       "00:00:00:00",
                                       "6",
                                       "3",
                                       "0",
                                       "0",
                                       "64",
                                       "48",
                                       "2",
                                       "3",
                                       "400000.0",
                                       "16",
                                       "0",
                                       "0",
                                       "4",
                                       "8",
                                       "1",
                                       "1",
                                       "1",
                                       "5",
                                       "5",
                                       "5",
                                       "64",
                                       "48",
                                       "0",
                                       "0",
                                       "1 1 1",
                                       "0 0 0",
                                       "0 0 0",
                                       "0 0 0",
                                       "0 0 0",
                                       "0",
                                       "1",
                                       "0",
                                       "0",
                                       "0.0",
                                       "0",
                                       "0",
                                       "0",
                                       "0",
                                       "0",
                                       "0"};

int line_index(const std::string& name) {
    for (int i = 0; i < 50; ++i)
        if (name == line_names[i]) return i;
    throw std::invalid_argument("unknown parameter line " + name);
}

}  // namespace

param_file::param_file() {
    for (int i = 0; i < 50; ++i) lines.emplace_back(line_defaults[i]);
    motion_lines = {"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 3 3", "1 1 7 7"};
}

param_file& param_file::set(const std::string& name, const std::string& value) {
    lines[line_index(name)] = value;
    return *this;
}

param_file& param_file::motion(const std::vector<std::string>& l) {
    motion_lines = l;
    return *this;
}

const std::string& param_file::get(const std::string& name) const { return lines[line_index(name)]; }

std::string param_file::text() const {
    std::string t;
    for (const auto& l : lines) t += l + "\n";
    for (const auto& l : motion_lines) t += l + "\n";
    return t;
}

void param_file::write(const std::string& path) const { write_file(path, text()); }

param_file write_sequence_case(const std::string& dir, const sequence_case& c) {
    const run_result gen =
        run_program({make_sequence_bin(), "--width", std::to_string(c.width), "--height", std::to_string(c.height),
                     "--chroma", std::to_string(c.chroma), "--frames", std::to_string(c.frames), "--format",
                     std::to_string(c.input_format), "--pattern", dir + "/src%d"},
                    dir);
    if (gen.status != 0) ADD_FAILURE() << "make_sequence failed: " << gen.err;
    param_file p;
    p.set("frame_count", c.frames).set("horizontal_size", c.width).set("vertical_size", c.height);
    p.set("display_horizontal_size", c.width).set("display_vertical_size", c.height);
    p.set("chroma_format", c.chroma).set("input_format", c.input_format);
    p.set("bit_rate", "2000000.0").set("vbv_buffer_size", 112);
    for (const auto& [k, v] : c.params) p.set(k, v);
    if (!c.motion.empty()) p.motion(c.motion);
    p.write(dir + "/in.par");
    return p;
}

}  // namespace morvane_test
