#include "driver/parameter_checks.h"
void check_parameter_ranges() {}
void check_profile_and_level() {}
