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

struct encoder_state {
    encoder_config config;    // read-only after start-up
    picture_values picture;   // written by the sequence loop
    coding_buffers buffers;   // allocated at start-up, rewritten per picture
    run_state run;            // carried by the sequential stages
    output_files files;
};

extern encoder_state enc;

// Fresh state, as at program start (for tests).
void reset_encoder_state();
