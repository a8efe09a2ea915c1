// Range and profile/level checks of the configuration.
#pragma once

void check_parameter_ranges();
void check_profile_and_level();
