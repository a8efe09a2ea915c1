// The one process-wide encoder state, partitioned by who writes it.
#pragma once

#include <cstdio>
#include <string>

#include "driver/coding_buffers.h"
#include "driver/encoder_config.h"
#include "driver/picture_values.h"
#include "driver/run_state.h"

struct output_files {
    std::string output_file_name;
    FILE* output_file = nullptr;
    FILE* statistics_file = nullptr;
};

// What the command line chose beyond the parameter file: set by main before
// the run, read-only afterwards. The defaults are the encoder without options.
struct run_choices {
    int dc_change = 200;     // lowers every DC coefficient; 0 with --no-dc-change
    bool dc_trace = true;    // the two DC lines per block on stdout; --no-trace clears it
    bool loop_trace = true;  // the loop's trace and progress lines on stderr; --quiet and --progress clear it
};

struct encoder_state {
    encoder_config config;    // read-only after start-up
    run_choices choices;      // read-only after start-up
    picture_values picture;   // written by the sequence loop
    coding_buffers buffers;   // allocated at start-up, rewritten per picture
    run_state run;            // carried by the sequential stages
    output_files files;
};

extern encoder_state enc;

// Fresh state, as at program start (for tests).
void reset_encoder_state();
