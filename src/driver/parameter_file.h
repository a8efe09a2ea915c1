// Reading the parameter file into the configuration.
#pragma once

void read_parameter_file(const char* file_name);
