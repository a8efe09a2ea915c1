// The command line:  morvane [--option[=value]]... in.par out.m2v
//
// Options are recognised only before the first argument that does not start
// with "--"; everything from there on is a file name. "--" alone ends the
// options, so that a file name may start with "--". Options are read left to
// right: the first --help, --version or mistake decides at once, and an
// option given twice keeps its last value. Any count of file names but two
// gets the banner and usage line, as it always has. --make-par takes no file
// names: it writes its parameter file and ends.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class command_action {
    run,       // encode par_name into out_name
    help,      // list the options
    version,   // print the version
    usage,     // not exactly two file names: the banner and usage line
    make_par,  // --make-par: write a starter parameter file for the --input stream
    error,     // a bad option; problem says what is wrong
};

constexpr int max_threads = 256;

struct command_line {
    command_action action = command_action::usage;
    std::string par_name, out_name;
    std::optional<unsigned> simd_mask;  // --simd: instruction sets the kernels may use
    std::optional<int> threads;         // --threads
    bool no_dc_change = false;          // --no-dc-change: blocks coded without the DC change
    bool no_trace = false;              // --no-trace: no DC trace lines on stdout
    bool quiet = false;                 // --quiet: no trace or progress lines on stderr
    std::string input_name;             // --input: YUV4MPEG2 source stream, "-" for stdin
    bool progress = false;              // --progress: a status line and a summary on stderr
    std::string make_par_name;          // --make-par: the starter parameter file to write
    std::string problem;
};

// Pure: reads argv[1] on, prints nothing.
command_line parse_options(int argc, const char* const* argv);

// What main prints and the status it returns, for every action but run.
struct command_reply {
    std::string out, err;
    int status = 0;
};
command_reply reply_to(const command_line& line);

// The table of options.cpp holds one entry per option: adding an option is
// its entry there, a field of command_line for its value, and its use in main.
struct option_entry {
    std::string_view name;   // without the leading "--"
    std::string_view value;  // the form of its value, as shown by --help; empty: takes no value
    std::string_view help;   // one line
    // Takes the value (empty for an option without one); false rejects it.
    bool (*apply)(std::string_view value, command_line& line);
};
std::span<const option_entry> option_table();
