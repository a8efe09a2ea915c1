#include "driver/options.h"

#include <algorithm>

#include "driver/cpu.h"

namespace {

constexpr std::string_view version_name = "morvane V1.2, 96/07/19";
constexpr std::string_view attribution = "written by the morvane developers";

const option_entry options[] = {
    {"help", "", "list the options and exit",
     [](std::string_view, command_line& line) {
         line.action = command_action::help;
         return true;
     }},
    {"version", "", "print the version and exit",
     [](std::string_view, command_line& line) {
         line.action = command_action::version;
         return true;
     }},
    {"simd", "none|sse2|avx2|avx512",
     "cap the instruction sets of the kernels at this level (default: all the processor has)",
     [](std::string_view value, command_line& line) {
         unsigned mask = 0;
         if (!parse_simd_level(value, mask)) return false;
         line.simd_mask = mask;
         return true;
     }},
    {"threads", "N",
     "code with N threads, 1 to 256 (default: as many as the processors it may run on); the output is the same for "
     "any N",
     [](std::string_view value, command_line& line) {
         int n = 0;
         if (value.empty() || value.size() > 3) return false;
         for (char c : value) {
             if (c < '0' || c > '9') return false;
             n = 10 * n + (c - '0');
         }
         if (n < 1 || n > max_threads) return false;
         line.threads = n;
         return true;
     }},
    {"input", "FILE", "read the source pictures from a YUV4MPEG2 stream ('-': standard input), not per-frame files",
     [](std::string_view value, command_line& line) {
         if (value.empty()) return false;
         line.input_name = value;
         return true;
     }},
    {"make-par", "FILE", "write a parameter file to start from for the --input stream, and exit",
     [](std::string_view value, command_line& line) {
         if (value.empty()) return false;
         line.make_par_name = value;
         return true;
     }},
    {"no-dc-change", "", "code blocks without the DC change, so that standard decoders show the reconstruction",
     [](std::string_view, command_line& line) {
         line.no_dc_change = true;
         return true;
     }},
    {"no-trace", "", "no DC trace lines on stdout (statistics sent there stay)",
     [](std::string_view, command_line& line) {
         line.no_trace = true;
         return true;
     }},
    {"progress", "", "a status line and a closing summary on stderr, in place of the trace lines there",
     [](std::string_view, command_line& line) {
         line.progress = true;
         return true;
     }},
    {"quiet", "", "no trace or progress lines on stderr; warnings and errors still show",
     [](std::string_view, command_line& line) {
         line.quiet = true;
         return true;
     }},
};

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Reads one option (the argument without its "--"); a mistake turns the line
// into an error.
void take_option(std::string_view text, command_line& line) {
    const std::size_t equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    const std::string shown = "--" + std::string(name);
    const auto entry =
        std::find_if(std::begin(options), std::end(options), [&](const option_entry& o) { return o.name == name; });
    std::string problem;
    if (entry == std::end(options))
        problem = "unknown option " + quoted(shown);
    else if (equals == std::string_view::npos && !entry->value.empty())
        problem = "option " + quoted(shown) + " needs a value: " + shown + "=" + std::string(entry->value);
    else if (equals != std::string_view::npos && entry->value.empty())
        problem = "option " + quoted(shown) + " takes no value";
    else if (!entry->apply(equals == std::string_view::npos ? std::string_view() : text.substr(equals + 1), line))
        problem = "invalid value " + quoted(text.substr(equals + 1)) + " for option " + quoted(shown) + ": use " +
                  shown + "=" + std::string(entry->value);
    if (!problem.empty()) {
        line.action = command_action::error;
        line.problem = problem;
    }
}

std::string help_text() {
    std::string text =
        "Usage: morvane [--option[=value]]... in.par out.m2v\n"
        "       morvane --input=FILE --make-par=FILE\n"
        "Encodes the source pictures named in the parameter file in.par into the video stream out.m2v;\n"
        "the second form writes a parameter file to start from for a YUV4MPEG2 stream.\n"
        "Options stand before the file names; '--' ends them.\n\n";
    auto form = [](const option_entry& o) {
        return "--" + std::string(o.name) + (o.value.empty() ? "" : "=" + std::string(o.value));
    };
    std::size_t width = 0;
    for (const option_entry& o : options) width = std::max(width, form(o).size());
    for (const option_entry& o : options) {
        std::string f = form(o);
        text += "  " + f + std::string(width - f.size() + 2, ' ') + std::string(o.help) + "\n";
    }
    return text;
}

}  // namespace

std::span<const option_entry> option_table() { return options; }

command_line parse_options(int argc, const char* const* argv) {
    command_line line;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (!arg.starts_with("--")) break;
        take_option(arg.substr(2), line);
        if (line.action != command_action::usage) return line;
    }
    if (!line.make_par_name.empty()) {
        if (line.input_name.empty()) {
            line.action = command_action::error;
            line.problem = "option '--make-par' needs the stream to describe: add --input=FILE";
        } else if (i < argc) {
            line.action = command_action::error;
            line.problem = "option '--make-par' writes its file and ends: give no other file names";
        } else {
            line.action = command_action::make_par;
        }
        return line;
    }
    if (argc - i == 2) {
        line.action = command_action::run;
        line.par_name = argv[i];
        line.out_name = argv[i + 1];
    }
    return line;
}

command_reply reply_to(const command_line& line) {
    switch (line.action) {
    case command_action::help: return {help_text(), "", 0};
    case command_action::version: return {std::string(version_name) + "\n" + std::string(attribution) + "\n", "", 0};
    case command_action::error:
        return {"", "morvane: " + line.problem + "\nTry 'morvane --help' for the options.\n", 1};
    case command_action::usage:
    case command_action::make_par:
    case command_action::run: break;
    }
    // The banner and usage line, byte for byte those of every earlier version.
    return {"\n" + std::string(version_name) + ", " + std::string(attribution) + "\nUsage: morvane in.par out.m2v\n",
            "", 0};
}
