// Reading the parameter file into the configuration.
#pragma once

// Reads, checks and adjusts the whole configuration; every error is fatal.
void read_parameter_file(const char* file_name);

// Frames per second for frame_rate_code 1..8.
extern const double frame_rate_table[8];
