// morvane: MPEG-2 / MPEG-1 video encoder.
#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

#include "driver/cpu.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/options.h"
#include "driver/parameter_file.h"
#include "driver/quant_matrices.h"
#include "loop/encode_sequence.h"
#include "loop/progress.h"
#include "loop/source_frame.h"
#include "loop/worker_pool.h"
#include "loop/y4m_source.h"
#include "startup/init_encoder.h"
#include "startup/starter_par.h"

namespace {

// The trace and the statistics are many short writes, the stream many single
// bytes: 64 KiB buffers cut the write calls about five times over. Static,
// because on the fatal path the streams are flushed only at exit.
char stdout_buffer[1 << 16];
char stream_buffer[1 << 16];
char statistics_buffer[1 << 16];

// Closes a file of the run, reporting a failed write or close through the fatal path.
void close_checked(FILE*& file, const std::string& name) {
    if (!file_handle(std::exchange(file, nullptr)).close())
        fatal_error(error_text("Couldn't write %s", name.c_str()));
}

// What goes to standard output is an output too: one lost with its reader
// (a full disk, a closed pipe) is no success.
void flush_standard_output() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) fatal_error("Couldn't write standard output");
}

int run(int argc, char** argv) {
    const command_line line = parse_options(argc, argv);
    if (line.action == command_action::make_par) {
        make_starter_parameters(line.input_name, line.make_par_name);
        flush_standard_output();
        return 0;
    }
    if (line.action != command_action::run) {
        const command_reply reply = reply_to(line);
        std::fputs(reply.out.c_str(), stdout);
        std::fputs(reply.err.c_str(), stderr);
        // The banner and usage line end as they always have.
        if (line.action == command_action::help || line.action == command_action::version) flush_standard_output();
        return reply.status;
    }
    if (line.simd_mask) set_cpu_cap(*line.simd_mask);
    if (line.no_dc_change) enc.choices.dc_change = 0;
    if (line.no_trace) enc.choices.dc_trace = false;
    if (line.quiet || line.progress) enc.choices.loop_trace = false;
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

    read_parameter_file(line.par_name.c_str());
    if (line.input_name.empty()) check_picture_patterns();
    read_quant_matrices();
    if (!line.input_name.empty()) open_source_stream(line.input_name);
    enc.files.output_file_name = line.out_name;
    enc.files.output_file = std::fopen(line.out_name.c_str(), "wb");
    if (!enc.files.output_file) fatal_error(error_text("Couldn't create output file %s", line.out_name.c_str()));
    std::setvbuf(enc.files.output_file, stream_buffer, _IOFBF, sizeof stream_buffer);
    init_encoder();
    // Opened last in init_encoder, so not yet written; stdout has its buffer already.
    if (enc.files.statistics_file != stdout)
        std::setvbuf(enc.files.statistics_file, statistics_buffer, _IOFBF, sizeof statistics_buffer);
    if (line.progress) start_progress();
    encode_sequence(line.threads.value_or(std::min(available_processors(), max_threads)));

    close_checked(enc.files.output_file, enc.files.output_file_name);
    const bool stats_to_stdout = enc.files.statistics_file == stdout;
    close_checked(enc.files.statistics_file,
                  stats_to_stdout ? std::string("standard output") : enc.config.statistics_file_name);
    if (!stats_to_stdout) flush_standard_output();
    finish_progress(enc.run.bits.byte_count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const fatal_exit& f) {
        interrupt_progress();
        std::fwrite(f.message.data(), 1, f.message.size(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
        return 1;
    } catch (const std::bad_alloc&) {
        std::fputs("malloc failed\n\n", stderr);
        return 1;
    }
}
