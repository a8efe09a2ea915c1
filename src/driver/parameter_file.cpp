#include "driver/parameter_file.h"
#include "driver/fatal.h"
void read_parameter_file(const char*) { fatal_error("read_parameter_file: not built yet"); }
