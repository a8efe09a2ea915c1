// The command-line parser: the input is the argument list, one argument per
// NUL-separated piece, after the program name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/options.h"
#include "fuzz_support.h"

using morvane_fuzz::broken;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"morvane"};
    std::string piece;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(piece);
            piece.clear();
        } else {
            piece += static_cast<char>(data[i]);
        }
    }
    if (size > 0) args.push_back(piece);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);

    const command_line line = parse_options(static_cast<int>(args.size()), argv.data());
    switch (line.action) {
    case command_action::run:
        // The two names are always the last two arguments.
        if (args.size() < 3 || line.par_name != args[args.size() - 2] || line.out_name != args.back())
            broken("run without the last two arguments as file names");
        if (line.threads && (*line.threads < 1 || *line.threads > max_threads)) broken("thread count out of range");
        break;
    case command_action::error:
        if (line.problem.empty()) broken("an error without a problem");
        if (reply_to(line).status != 1) broken("an error that does not exit with status 1");
        break;
    case command_action::make_par:
        if (line.make_par_name.empty() || line.input_name.empty()) broken("--make-par without its file or --input");
        break;
    default:
        if (reply_to(line).status != 0) broken("a reply other than an error with a status but 0");
        if (reply_to(line).out.empty()) broken("a reply that prints nothing");
    }
    return 0;
}
