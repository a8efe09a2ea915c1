// Shared helpers of the tests: temporary folders, files, running the real
// binaries, and a parameter-file builder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane_test {

// A fresh folder under /tmp, removed with everything in it at scope end.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The message of the fatal error that action ends with, or "<no fatal error>".
std::string fatal_message(const std::function<void()>& action);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);

struct run_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs program with args (argv[0] is the program) in folder cwd, capturing
// stdout and stderr. Standard input is /dev/null, or with stdin_pipe_from a
// pipe that a second process fills from that file (a pipe cannot seek, and
// the program may stop reading it early). Only for suites named ..._e2e (or
// in tests/e2e): under ctest, a test labelled unit that calls it fails.
run_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                       const std::string& stdin_pipe_from = "");

// The encoder and the sequence generator built with the project.
inline const char* morvane_bin() { return MORVANE_BIN; }
inline const char* make_sequence_bin() { return MAKE_SEQUENCE_BIN; }
inline std::string source_dir() { return MORVANE_SOURCE_DIR; }
// The build folder of these tests, and the cmake that configured it.
inline std::string build_dir() { return MORVANE_BUILD_DIR; }
inline const char* cmake_bin() { return CMAKE_BIN; }
// The libmpeg2 test client (tools/m2v_decode); empty when libmpeg2 was not found.
inline const char* m2v_decode_bin() { return M2V_DECODE_BIN; }

// Names of parameterised cases. test_name makes a valid gtest name of a
// description: each run of characters other than letters and digits becomes
// one underscore ("ring 2, top" gives "ring_2_top"). signed_name writes a
// number that may be negative: 3 gives "3", -5 gives "neg5".
std::string test_name(std::string_view text);
std::string signed_name(long long n);

// Name generator for cases that carry a `name` description.
struct name_field {
    template <class Info>
    std::string operator()(const Info& info) const {
        return test_name(info.param.name);
    }
};

// Parameter file with the 50 fixed lines addressed by name and the motion
// lines as a list. Defaults: a small valid MPEG-2 4:2:0 progressive sequence
// (64x48, N 6, M 3, frame pictures, 400 kbit/s, statistics to stats.txt).
class param_file {
public:
    param_file();
    // Sets the line of a named value (names as in the encoder state, e.g.
    // "N", "bit_rate", "frame_pred_frame_dct_tab", "time_code").
    param_file& set(const std::string& name, const std::string& value);
    param_file& set(const std::string& name, long long value) { return set(name, std::to_string(value)); }
    // Replaces all motion lines (entry 0 forward, then for k >= 1 forward and backward).
    param_file& motion(const std::vector<std::string>& lines);
    const std::string& get(const std::string& name) const;
    std::string text() const;
    void write(const std::string& path) const;

    std::vector<std::string> lines;         // 50 lines, line 1 first
    std::vector<std::string> motion_lines;  // 2 * M - 1 lines
};

// make_sequence's frames src0, src1, ... in dir and a parameter file
// dir/in.par that codes them: size, chroma format and input format set,
// 2 Mbit/s with a VBV buffer of 112, then params and (when not empty) the
// motion lines on top. A failing generator is a test failure.
struct sequence_case {
    int width, height, chroma, frames, input_format;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<std::string> motion;
};
param_file write_sequence_case(const std::string& dir, const sequence_case& c);

}  // namespace morvane_test
